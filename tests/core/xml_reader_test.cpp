#include "core/xml_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

// Attribute "x" of the first element "a".
TEST(ReadXmlAttributeTest, Cases) {
  const std::pair<std::string, const char*> cases[] = {
      {R"(<a y='2' x="1"/>)", "1"},
      {"<a\tx\r\n=\n'1'>", "1"},
      {R"(<a x='say "it's"'>)", "say \"it"},
      {"<a x=\"line\nfeed \xC3\xBC\xFF\">", "line\nfeed \xC3\xBC\xFF"},  // bytes pass through
      {R"(<a X="1">)", ""},  // names are case-sensitive
      // Only a name after white space counts, and only with "=" and a quote.
      {R"(<a data-x="5" xx="6" x="7">)", "7"},
      {R"(<a title="see x='3'" x="7">)", "3"},
      {R"(<a x y="2" x="3">)", "3"},
      {R"(<a x= y="2">)", ""},
      {"<a \vx=\"1\" \fx=\"2\">", ""},  // vertical tab and form feed are not white space
      // A value cut by the end of the tag or the document is missing.
      {R"(<a x="1>2">)", ""},
      {R"(<a x=')", ""},
      // The first tag of the element decides; there is no tree.
      {R"(<ab x="1"/><a x="2"/>)", "2"},
      {"<a\vx=\"1\"><a x=\"2\">", "2"},  // "<a\v" is another name
      {R"(<b t="<a x='1'>">)", "1"},
      // Elements inside comments are skipped.
      {R"(<!-- <a x="1"/> --><a x="2"/>)", "2"},
      {R"(<!-- open <a x="1"/>)", ""},
      {R"(<!--><a x="1"/>)", "1"},  // "<!-->" closes itself
      {R"(<!-- --><!-- <a x="1"/>)", ""},  // a later comment never closes
      // The five entities are decoded once.
      {R"(<a x="&lt;&amp;&#65;&unknown;&quot;&apos;&gt;">)", "<&&#65;&unknown;\"'>"},
      {R"(<a x="&amp;lt;&AMP;&lt a&">)", "&lt;&AMP;&lt a&"},
  };
  for (const auto& [document, expected] : cases) {
    EXPECT_EQ(ReadXmlAttribute(document, "a", "x"), expected) << document;
  }
  EXPECT_EQ(ReadXmlAttribute(R"(<torrent_config2 p="x"/><torrent_config p="y"/>)", "torrent_config",
                             "p"),
            "y");
}

// Many near-miss names after a comment: a backwards search per match would be quadratic.
TEST(ReadXmlAttributeTest, ScansLargeDocumentsInLinearTime) {
  std::string document = "<!-- c -->";
  for (int i = 0; i < 200000; ++i) document += "<ab";
  EXPECT_EQ(ReadXmlAttribute(document + R"(<a x="found"/>)", "a", "x"), "found");
}

}  // namespace
}  // namespace emberfall

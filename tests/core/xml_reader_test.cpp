#include "core/xml_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace emberfall {
namespace {

// Attribute "x" of the first element "a"; large documents in linear time.
TEST(ReadXmlAttributeTest, Cases) {
  const std::pair<std::string, const char*> cases[] = {
      {"<a\tx\r\n=\n'1'>", "1"},
      {R"(<a x='say "it's"'>)", "say \"it"},
      // Only a name after white space counts, and only with "=" and a quote.
      {R"(<a data-x="5" xx="6" x="7">)", "7"},
      {R"(<a x y="2" x="3">)", "3"},
      {"<a \vx=\"1\" \fx=\"2\">", ""},  // vertical tab and form feed are not white space
      {R"(<a x="1>2">)", ""},  // cut by the end of the tag
      {R"(<ab x="1"/><a x="2"/>)", "2"},
      // Elements inside comments are skipped.
      {R"(<!-- <a x="1"/> --><a x="2"/>)", "2"},
      {R"(<!-- open <a x="1"/>)", ""},
      {R"(<!--><a x="1"/>)", "1"},  // "<!-->" closes itself
      {R"(<!-- --><!-- <a x="1"/>)", ""},  // a later comment never closes
      // The five entities are decoded once.
      {R"(<a x="&lt;&gt;&quot;&apos;&amp;lt;&#65;&AMP;&lt a&">)", "<>\"'&lt;&#65;&AMP;&lt a&"},
  };
  for (const auto& [document, expected] : cases) {
    EXPECT_EQ(ReadXmlAttribute(document, "a", "x"), expected) << document;
  }
  // Many near-miss names after a comment: a backwards search per match would be quadratic.
  std::string document = "<!-- c -->";
  for (int i = 0; i < 200000; ++i) document += "<ab";
  EXPECT_EQ(ReadXmlAttribute(document + R"(<a x="found"/>)", "a", "x"), "found");
}

}  // namespace
}  // namespace emberfall

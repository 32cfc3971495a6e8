#include "core/xml_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

struct Case {
  const char* document;
  const char* element;
  const char* attribute;
  const char* expected;
};

TEST(ReadXmlAttributeTest, Cases) {
  const Case cases[] = {
      {R"(<a x="1" y='2'/>)", "a", "x", "1"},
      {R"(<a x="1" y='2'/>)", "a", "y", "2"},
      {R"(<a x="1" y='2'/>)", "a", "z", ""},
      {R"(<a x = "1">)", "a", "x", "1"},
      {"<a\tx\r\n=\n'1'>", "a", "x", "1"},
      {R"(<a x=1>)", "a", "x", ""},
      {R"(<a x="it's">)", "a", "x", "it's"},
      {R"(<a x='say "hi"'>)", "a", "x", "say \"hi\""},
      {"<a x=\"line\nfeed\">", "a", "x", "line\nfeed"},
      {"<a x=\"\xC3\xBC\xFF\">", "a", "x", "\xC3\xBC\xFF"},  // bytes pass through
      {R"(<a X="1">)", "a", "x", ""},                        // names are case-sensitive
      {R"(<A x="1">)", "a", "x", ""},
      {R"(<a data-x="5" x="7">)", "a", "x", "7"},
      {R"(<a title="see x='3'" x="7">)", "a", "x", "3"},
      {R"(<a xx="1" x="2">)", "a", "x", "2"},
      {R"(<a x y="2" x="3">)", "a", "x", "3"},  // "x" without "=" is passed over
      {R"(<a x= y="2">)", "a", "x", ""},        // "=" not followed by a quote, no later x
      {"<a \vx=\"1\">", "a", "x", ""},          // vertical tab is not whitespace
      {"<a \fx=\"1\">", "a", "x", ""},          // nor is form feed
      {R"(<a x="1>2">)", "a", "x", ""},
      {R"(<a x=">)", "a", "x", ""},  // the quote is the last byte of the tag
      {R"(<a x=')", "a", "x", ""},   // no ">" at all
      {R"(<ab x="1"/><a x="2"/>)", "a", "x", "2"},
      {R"(<torrent_config2 run_path="x"/><torrent_config run_path="y"/>)", "torrent_config",
       "run_path", "y"},
      {R"(<a/><a x="2"/>)", "a", "x", ""},  // the first tag decides
      {R"(<a y="1"/><a x="2"/>)", "a", "x", ""},
      {"<a\vx=\"1\"><a x=\"2\">", "a", "x", "2"},  // "<a\v" is another name
      {R"(<b t="<a x='1'>">)", "a", "x", "1"},      // no tree: found inside a value
      {"<a", "a", "x", ""},
      {"", "a", "x", ""},
      {R"(<!-- <a x="1"/> --><a x="2"/>)", "a", "x", "2"},
      {R"(<!-- <a x="1"/> -->)", "a", "x", ""},
      {R"(<!-- open <a x="1"/>)", "a", "x", ""},
      {R"(<!-- c --><!-- d <a x="1"/> --><a x="2"/>)", "a", "x", "2"},
      {R"(<!-- c --><a x="1"/><!-- <a x="2"/> -->)", "a", "x", "1"},
      {R"(<!--<a x="1"/>--><a x="2"/>)", "a", "x", "2"},
      {R"(<!--><a x="1"/>)", "a", "x", "1"},    // "<!-->" closes itself
      {R"(<!-- <a -->)", "a", "x", ""},          // nothing after the comment
      {R"(<!-- --><!-- <a x="1"/>)", "a", "x", ""},  // a later comment never closes
      {R"(<a x="1"/><!-- unclosed)", "a", "x", "1"},
      {R"(<a x="&lt;&amp;&#65;&unknown;">)", "a", "x", "<&&#65;&unknown;"},
      {R"(<a x="&amp;lt;">)", "a", "x", "&lt;"},
      {R"(<a x="&quot;&apos;&gt;">)", "a", "x", "\"'>"},
      {R"(<a x="&AMP;&lt">)", "a", "x", "&AMP;&lt"},
      {R"(<a x="a&">)", "a", "x", "a&"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.document << " / " << c.element << " / " << c.attribute);
    EXPECT_EQ(ReadXmlAttribute(c.document, c.element, c.attribute), c.expected);
  }
}

TEST(XmlReaderTest, TagsRawAttributesAndEntities) {
  EXPECT_EQ(FindXmlStartTag(R"(<r><a x="1"/></r>)", "a").value_or("?"), R"(<a x="1"/)");
  EXPECT_FALSE(FindXmlStartTag("<a x", "a").has_value());
  EXPECT_EQ(ReadTagAttribute(R"(<a x="&amp;")", "x").value_or("?"), "&amp;");
  EXPECT_FALSE(ReadTagAttribute("x=\"1\"", "x").has_value());  // nothing before the name
  EXPECT_EQ(DecodeXmlEntities("plain <text> &&amp;&"), "plain <text> &&&");
}

TEST(ReadXmlAttributeTest, ScansLargeDocumentsInLinearTime) {
  // Many near-miss names after a comment; a backwards search per match
  // would make this quadratic.
  std::string document = "<!-- c -->";
  for (int i = 0; i < 200000; ++i) document += "<ab";
  document += R"(<a x="found"/>)";
  EXPECT_EQ(ReadXmlAttribute(document, "a", "x"), "found");
}

}  // namespace
}  // namespace emberfall

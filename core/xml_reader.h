// A scanner that answers one question about a small XML document: the value
// of attribute A on the first element named E outside comments. It builds no
// tree, checks no well-formedness and never fails; every malformation reads as
// a missing value. Bytes pass through undecoded except for five entities.
#ifndef EMBERFALL_CORE_XML_READER_H_
#define EMBERFALL_CORE_XML_READER_H_

#include <optional>
#include <string>
#include <string_view>

namespace emberfall {

// The decoded value of |attribute_name| on the first |element_name| start tag
// of |document|; "" when the element or attribute is missing, malformed or
// empty. Names match case-sensitively.
std::string ReadXmlAttribute(std::string_view document, std::string_view element_name,
                             std::string_view attribute_name);

// The text of the first start tag of |element_name| outside comments, from
// its "<" up to (not including) the first ">"; nullopt when missing.
std::optional<std::string_view> FindXmlStartTag(std::string_view document,
                                                std::string_view element_name);

// The raw (undecoded) value of |attribute_name| inside start-tag text, or
// nullopt. Only an occurrence preceded by whitespace and followed by "=" and a
// quote counts.
std::optional<std::string_view> ReadTagAttribute(std::string_view tag,
                                                 std::string_view attribute_name);

// Replaces &amp; &lt; &gt; &quot; &apos; in one pass; anything else after "&"
// is kept as it is.
std::string DecodeXmlEntities(std::string_view text);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_XML_READER_H_

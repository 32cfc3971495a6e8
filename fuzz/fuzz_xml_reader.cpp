// Input: "<element> <attribute>\n<document>". Checks that the scanner stays
// inside the document and that its pieces agree with the whole.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  std::string_view names = newline == std::string_view::npos ? "a x" : input.substr(0, newline);
  const std::string_view document =
      newline == std::string_view::npos ? input : input.substr(newline + 1);
  const size_t space = names.find(' ');
  const std::string_view element = names.substr(0, space);
  const std::string_view attribute =
      space == std::string_view::npos ? std::string_view("x") : names.substr(space + 1);

  const std::string value = emberfall::ReadXmlAttribute(document, element, attribute);
  if (value.size() > document.size()) std::abort();

  const auto tag = emberfall::FindXmlStartTag(document, element);
  if (tag) {
    // A start tag is a piece of the document that begins with "<" + name.
    if (tag->data() < document.data() || tag->data() + tag->size() > document.data() + document.size()) {
      std::abort();
    }
    if (tag->empty() || (*tag)[0] != '<') std::abort();
    const auto raw = emberfall::ReadTagAttribute(*tag, attribute);
    if (raw && emberfall::DecodeXmlEntities(*raw) != value) std::abort();
    if (!raw && !value.empty()) std::abort();
  } else if (!value.empty()) {
    std::abort();
  }
  return 0;
}

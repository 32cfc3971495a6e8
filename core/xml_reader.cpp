#include "core/xml_reader.h"

namespace emberfall {
namespace {

// The only whitespace the scanner knows; vertical tab and form feed are text.
bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

size_t SkipXmlSpace(std::string_view text, size_t pos) {
  while (pos < text.size() && IsXmlSpace(text[pos])) ++pos;
  return pos;
}

struct Entity {
  std::string_view name;
  char replacement;
};

constexpr Entity kEntities[] = {
    {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''},
};

}  // namespace

std::optional<std::string_view> FindXmlStartTag(std::string_view document,
                                                std::string_view element_name) {
  std::string pattern = "<";
  pattern += element_name;
  const size_t end = document.size();
  const bool check_comments = document.size() >= 4;

  // The comment that governs a match is the last "<!--" at or before it.
  // Matches only move forward, so the comment openings are consumed in one
  // pass instead of searching backwards from every match.
  size_t next_open = check_comments ? document.find("<!--") : std::string_view::npos;
  size_t last_open = std::string_view::npos;
  size_t last_close = std::string_view::npos;

  size_t pos = 0;
  for (;;) {
    const size_t match = document.find(pattern, pos);
    if (match == std::string_view::npos) return std::nullopt;

    if (next_open != std::string_view::npos && next_open <= match) {
      while (next_open != std::string_view::npos && next_open <= match) {
        last_open = next_open;
        next_open = document.find("<!--", next_open + 1);
      }
      last_close = document.find("-->", last_open);
    }
    if (last_open != std::string_view::npos) {
      if (last_close == std::string_view::npos) return std::nullopt;  // never closed
      if (last_close > match) {
        pos = last_close + 3;
        if (pos >= end) return std::nullopt;
        continue;
      }
    }

    // The name must end here, so <torrent_config2 is not <torrent_config.
    const size_t after = match + pattern.size();
    if (after < end) {
      const char c = document[after];
      if (!IsXmlSpace(c) && c != '/' && c != '>') {
        pos = after;
        continue;
      }
    }

    const size_t close = document.find('>', match);
    if (close == std::string_view::npos) return std::nullopt;
    return document.substr(match, close - match);
  }
}

std::optional<std::string_view> ReadTagAttribute(std::string_view tag,
                                                 std::string_view attribute_name) {
  if (attribute_name.empty()) return std::nullopt;
  size_t pos = 0;
  for (;;) {
    const size_t at = tag.find(attribute_name, pos);
    if (at == std::string_view::npos) return std::nullopt;
    pos = at + attribute_name.size();

    if (at == 0 || !IsXmlSpace(tag[at - 1])) continue;
    size_t p = SkipXmlSpace(tag, at + attribute_name.size());
    if (p >= tag.size() || tag[p] != '=') continue;
    p = SkipXmlSpace(tag, p + 1);
    if (p >= tag.size() || (tag[p] != '"' && tag[p] != '\'')) continue;

    const char quote = tag[p];
    if (p + 1 >= tag.size()) return std::nullopt;
    const size_t closing = tag.find(quote, p + 1);
    if (closing == std::string_view::npos) return std::nullopt;
    return tag.substr(p + 1, closing - p - 1);
  }
}

std::string DecodeXmlEntities(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '&') {
      bool replaced = false;
      for (const Entity& entity : kEntities) {
        if (text.substr(i).starts_with(entity.name)) {
          out.push_back(entity.replacement);
          i += entity.name.size();
          replaced = true;
          break;
        }
      }
      if (replaced) continue;
    }
    out.push_back(text[i]);
    ++i;
  }
  return out;
}

std::string ReadXmlAttribute(std::string_view document, std::string_view element_name,
                             std::string_view attribute_name) {
  const std::optional<std::string_view> tag = FindXmlStartTag(document, element_name);
  if (!tag) return {};
  const std::optional<std::string_view> raw = ReadTagAttribute(*tag, attribute_name);
  if (!raw) return {};
  return DecodeXmlEntities(*raw);
}

}  // namespace emberfall

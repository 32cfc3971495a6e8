#include "net/http_header_line.h"

#include <optional>

#include "core/text.h"

namespace emberfall {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

int ParseStatusLine(std::string_view line) {
  constexpr std::string_view kPrefix = "HTTP/";
  if (line.substr(0, kPrefix.size()) != kPrefix) return -1;
  const std::size_t space = line.find(' ', kPrefix.size());
  if (space == std::string_view::npos || line.size() < space + 4) return -1;
  const std::optional<std::uint64_t> status =
      ParseUnsignedDecimal(line.substr(space + 1, 3), 999, LeadingZeros::kAllowed);
  if (!status) return -1;
  if (line.size() > space + 4 && !IsBlank(line[space + 4])) return -1;
  return static_cast<int>(*status);
}

bool MatchHeaderLine(std::string_view line, std::string_view name, std::string_view& value) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (LowerAscii(line[i]) != LowerAscii(name[i])) return false;
  }
  std::string_view rest = line.substr(name.size() + 1);
  while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && IsBlank(rest.back())) rest.remove_suffix(1);
  value = rest;
  return true;
}

bool IsEndOfHeaders(std::string_view line) { return line == "\r\n" || line == "\n"; }

}  // namespace emberfall

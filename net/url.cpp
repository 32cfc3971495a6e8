#include "net/url.h"

#include <cstdio>

#include "core/text.h"

namespace emberfall {
namespace {

bool StaysUnencoded(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/';
}

bool EqualsIgnoringAsciiCase(std::u16string_view text, std::u16string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != lower[i]) return false;
  }
  return true;
}

constexpr std::uint64_t kMaxPort = 65535;

// Digits, zeros in front allowed; an empty port ("host:") names none.
bool ParsePort(std::u16string_view text, std::uint16_t& port) {
  if (text.empty()) {
    port = 0;
    return true;
  }
  const std::optional<std::uint64_t> value =
      ParseUnsignedDecimal(text, kMaxPort, LeadingZeros::kAllowed);
  if (!value) return false;
  port = static_cast<std::uint16_t>(*value);
  return true;
}

}  // namespace

std::u16string JoinUrl(const std::u16string& base, const std::u16string& relative) {
  if (base.empty()) return relative;
  if (relative.empty()) return base;
  std::u16string result = base;
  if (result.back() != u'/') result.push_back(u'/');
  if (relative.front() == u'/') {
    result.append(relative, 1, std::u16string::npos);
  } else {
    result.append(relative);
  }
  return result;
}

std::u16string EncodeRemotePath(const std::string& utf8Path) {
  std::string path = utf8Path;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  path += ".lz";
  std::string encoded;
  encoded.reserve(path.size() * 3);
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (StaysUnencoded(byte)) {
      encoded.push_back(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof(escape), "%%%02X", byte);
      encoded.append(escape, 3);
    }
  }
  return Utf8ToWide(encoded);
}

std::u16string MakeFileUrl(const std::u16string& base, const std::string& path) {
  return JoinUrl(base, EncodeRemotePath(path));
}

bool CrackHttpUrl(std::u16string_view url, CrackedUrl& out) {
  out = CrackedUrl{};
  if (url.find(u'\0') != std::u16string_view::npos) return false;
  const std::size_t colon = url.find(u':');
  if (colon == std::u16string_view::npos) return false;
  const std::u16string_view scheme = url.substr(0, colon);
  if (EqualsIgnoringAsciiCase(scheme, u"https")) {
    out.secure = true;
  } else if (!EqualsIgnoringAsciiCase(scheme, u"http")) {
    return false;
  }
  std::u16string_view rest = url.substr(colon + 1);
  if (rest.size() < 2 || rest[0] != u'/' || rest[1] != u'/') return false;
  rest.remove_prefix(2);

  const std::size_t slash = rest.find(u'/');
  std::u16string_view authority = rest.substr(0, slash);
  if (slash != std::u16string_view::npos) out.object = std::u16string(rest.substr(slash));

  const std::size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) authority.remove_prefix(at + 1);

  std::size_t port_colon = std::u16string_view::npos;
  if (!authority.empty() && authority.front() == u'[') {
    const std::size_t close = authority.find(u']');
    if (close == std::u16string_view::npos) return false;
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != u':') return false;
      port_colon = close + 1;
    }
  } else {
    port_colon = authority.find(u':');
  }
  if (port_colon != std::u16string_view::npos) {
    if (!ParsePort(authority.substr(port_colon + 1), out.port)) return false;
    authority = authority.substr(0, port_colon);
  }
  out.host = std::u16string(authority);
  return true;
}

}  // namespace emberfall

// What the HTTP client reads from the network or from published names: the
// Content-Length text, URL splitting, URL joining and percent-encoding, and
// response header lines (a Content-Range one read as a range answer). The
// first byte picks the function; the rest is its input. Each result is
// checked against what it must be, not just run.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text.h"
#include "net/http_header_line.h"
#include "net/http_session.h"
#include "net/url.h"

namespace {

using emberfall::CrackedUrl;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Two bytes per UTF-16 unit, so every unit value is reachable.
std::u16string Units(std::string_view bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return text;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

void FuzzContentLength(std::string_view bytes) {
  const std::u16string text = Units(bytes);
  const std::int64_t value = emberfall::ParseContentLength(text);
  Check(value >= -1);
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  const bool negative = i < text.size() && text[i] == u'-';
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ++i;
  if (i == text.size() || !IsDigit(text[i])) {
    Check(value == -1);
    return;
  }
  // Up to 18 digits cannot overflow: compare with a plain reading.
  std::int64_t expected = 0;
  std::size_t digits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i, ++digits) {
    if (digits < 18) expected = expected * 10 + (text[i] - u'0');
  }
  if (digits <= 18) Check(value == (negative && expected != 0 ? -1 : expected));
  if (negative && value >= 0) Check(value == 0);
}

void FuzzCrack(std::string_view bytes) {
  const std::u16string url = Units(bytes);
  CrackedUrl out;
  if (!emberfall::CrackHttpUrl(url, out)) return;
  Check(url.find(u'\0') == std::u16string::npos);
  const std::size_t prefix = out.secure ? 8 : 7;
  Check(url.size() >= prefix);
  Check(out.object.empty() || out.object.front() == u'/');
  Check(out.host.find(u'/') == std::u16string::npos);
  // The object path is the URL's tail, the host part of what precedes it.
  Check(url.size() >= out.object.size() &&
        url.compare(url.size() - out.object.size(), out.object.size(), out.object) == 0);
  const std::u16string authority = url.substr(prefix, url.size() - out.object.size() - prefix);
  Check(authority.find(out.host) != std::u16string::npos);
}

void FuzzJoin(std::string_view bytes) {
  const std::size_t split = bytes.find('\0');
  const std::u16string base = emberfall::Utf8ToWideLenient(bytes.substr(0, split));
  const std::u16string relative = split == std::string_view::npos
                                      ? std::u16string()
                                      : emberfall::Utf8ToWideLenient(bytes.substr(split + 1));
  const std::u16string joined = emberfall::JoinUrl(base, relative);
  if (base.empty()) return Check(joined == relative);
  if (relative.empty()) return Check(joined == base);
  Check(joined.compare(0, base.size(), base) == 0);
  const std::u16string tail = relative.front() == u'/' ? relative.substr(1) : relative;
  Check(joined.size() >= tail.size() &&
        joined.compare(joined.size() - tail.size(), tail.size(), tail) == 0);
  const std::size_t slash = base.back() == u'/' ? 0 : 1;
  Check(joined.size() == base.size() + slash + tail.size());
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void FuzzEncode(std::string_view bytes) {
  const std::string path(bytes);
  const std::u16string encoded = emberfall::EncodeRemotePath(path);
  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char16_t c = encoded[i];
    if (c == u'%') {
      Check(i + 2 < encoded.size());
      const int high = HexValue(encoded[i + 1]);
      const int low = HexValue(encoded[i + 2]);
      Check(high >= 0 && low >= 0);
      decoded.push_back(static_cast<char>(high * 16 + low));
      i += 2;
      continue;
    }
    Check((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || IsDigit(c) || c == u'-' ||
          c == u'.' || c == u'_' || c == u'~' || c == u'/');
    decoded.push_back(static_cast<char>(c));
  }
  std::string expected = path;
  for (char& c : expected) {
    if (c == '\\') c = '/';
  }
  Check(decoded == expected + ".lz");
}

// Only the one spelling of a range is accepted: what was read, written out
// again, is the text itself.
void FuzzContentRange(std::string_view value) {
  const std::u16string text = emberfall::Utf8ToWideLenient(value);
  emberfall::ContentRange range;
  if (!emberfall::ParseContentRange(text, range)) return;
  Check(range.first <= range.last && range.last < INT64_MAX);
  Check(range.total == -1 ||
        (range.total >= 0 && range.last < static_cast<std::uint64_t>(range.total)));
  const std::string total = range.total < 0 ? "*" : std::to_string(range.total);
  Check(text == emberfall::Utf8ToWide("bytes " + std::to_string(range.first) + "-" +
                                      std::to_string(range.last) + "/" + total));
}

void FuzzHeaderLine(std::string_view line) {
  const int status = emberfall::ParseStatusLine(line);
  Check(status >= -1 && status <= 999);
  if (status >= 0) Check(line.substr(0, 5) == "HTTP/");
  std::string_view value;
  if (emberfall::MatchHeaderLine(line, "Content-Length", value)) {
    Check(value.data() >= line.data() && value.data() + value.size() <= line.data() + line.size());
    Check(value.empty() || (value.front() != ' ' && value.back() != '\n'));
    (void)emberfall::ParseContentLength(emberfall::Utf8ToWide(value));
  }
  if (emberfall::MatchHeaderLine(line, "Content-Range", value)) FuzzContentRange(value);
  (void)emberfall::IsEndOfHeaders(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 5) {
    case 0: FuzzContentLength(input); break;
    case 1: FuzzCrack(input); break;
    case 2: FuzzJoin(input); break;
    case 3: FuzzEncode(input); break;
    default: FuzzHeaderLine(input); break;
  }
  return 0;
}

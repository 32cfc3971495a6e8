// URL building for the patch server and URL splitting.
#include "net/url.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "core/text.h"
#include "net/http_transport.h"

namespace emberfall {
namespace {

// A base and a published name (an empty base shows EncodeRemotePath alone);
// JoinUrl puts one slash between them, looking at one slash each side.
TEST(MakeFileUrlTest, KnownAnswers) {
  const std::tuple<std::u16string, std::string, std::u16string> cases[] = {
      {u"https://h/p/1.0.0.7/", "Data\\Maps\\Town Hall.pak",
       u"https://h/p/1.0.0.7/Data/Maps/Town%20Hall.pak.lz"},
      {u"http://h/base", "\\lead.dat", u"http://h/base/lead.dat.lz"},
      {u"h//", "\\\\b", u"h///b.lz"},           {u"", "a~b_c-d.e", u"a~b_c-d.e.lz"},
      {u"", "\xC3\xBC", u"%C3%BC.lz"},          {u"", "", u".lz"},
      {u"", "dir/sub\\file", u"dir/sub/file.lz"},
      // Everything outside letters, digits and -._~/ is escaped.
      {u"", " !\"#$%&'()*+,:;<=>?@[]^`{|}",
       u"%20%21%22%23%24%25%26%27%28%29%2A%2B%2C%3A%3B%3C%3D%3E%3F%40%5B%5D%5E%60%7B%7C%7D.lz"},
      {u"", "\x01\x1F\x7F\x80\xFF", u"%01%1F%7F%80%FF.lz"},
  };
  for (const auto& [base, path, expected] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(MakeFileUrl(base, path), expected);
  }
}

// "secure host port object" of a split URL, or "refused"; |default_port|
// fills in a port of 0 with the scheme's, as WinHttpCrackUrl does.
std::string Split(bool ok, const CrackedUrl& url, bool default_port) {
  const int port = url.port != 0 || !default_port ? url.port : url.secure ? 443 : 80;
  return ok ? std::to_string(url.secure) + " " + WideToUtf8(url.host) + " " + std::to_string(port) +
                  " " + WideToUtf8(url.object)
            : "refused";
}

// The platform's splitter (WinHttpCrackUrl in the Windows build) must agree
// with ours, which the Linux build uses.
TEST(CrackHttpUrlTest, SplitsOnlyHttpAndHttpsUrlsAsThePlatformDoes) {
  const auto transport = CreatePlatformTransport({});
  const std::pair<std::u16string, std::string> cases[] = {
      {u"http://h/x", "0 h 0 /x"},                  {u"HtTp://h:0/", "0 h 0 /"},
      {u"HTTPS://Host:8443/a/b?q=1#f", "1 Host 8443 /a/b?q=1#f"},
      {u"https://h:443", "1 h 443 "},               {u"http://h", "0 h 0 "},
      {u"http://h:", "0 h 0 "},                     {u"http://user:pw@h:81/p", "0 h 81 /p"},
      {u"http://127.0.0.1:65535/", "0 127.0.0.1 65535 /"},
      {u"http://[::1]:8080/x", "0 [::1] 8080 /x"},  {u"http:///x", "0  0 /x"},
      {u"http://h/a%20b?c d", "0 h 0 /a%20b?c d"},  {u"http://h/?", "0 h 0 /?"},
      {u"http://h:65536/x", "refused"},             {u"http://h:8a/x", "refused"},
      {u"http://[::1/x", "refused"},                {u"ftp://h/x", "refused"},
      {u"plain", "refused"},                        {u"http:/h/x", "refused"},
      {u"", "refused"},                             {u"httpx://h/", "refused"},
      {std::u16string(u"http://h/\0x", 11), "refused"},
  };
  for (const auto& [url, expected] : cases) {
    SCOPED_TRACE(WideToUtf8(url));
    CrackedUrl ours, platform;
    const bool ok = CrackHttpUrl(url, ours);
    EXPECT_EQ(Split(ok, ours, false), expected);
    // Wine's reads "h:8a" as port 8 and keeps only "[" of a bracketed host.
    if (url != u"http://h:8a/x" && !url.starts_with(u"http://[")) {
      EXPECT_EQ(Split(transport->CrackUrl(url, platform), platform, true), Split(ok, ours, true));
    }
  }
}

}  // namespace
}  // namespace emberfall

// The Linux build splits URLs with its own code; it must agree with
// WinHttpCrackUrl, which the Windows build uses. (Wine's reads "h:8a" as
// port 8, where ours refuses the URL; that case is left out.)
#include <gtest/gtest.h>

#include "core/text.h"
#include "net/http_transport.h"
#include "net/url.h"

namespace emberfall {
namespace {

TEST(UrlCrackWinTest, OwnSplitterAgreesWithWinHttpCrackUrl) {
  const auto transport = CreatePlatformTransport({});
  const std::u16string urls[] = {
      u"http://h/x",          u"https://h/x",         u"HTTPS://Host:8443/a/b?q=1#f",
      u"http://h",            u"http://user:pw@h:81/p", u"http://127.0.0.1:65535/",
      u"http://h/a%20b?c d",  u"ftp://h/x",           u"/plain/path",
      u"plain",               u"http://h:99999/x",
      u"",                    u"httpx://h/",          u"http://h/p?",
      u"http://h/?",          u"HtTp://h:0/",         u"https://h:443",
  };
  for (const std::u16string& url : urls) {
    SCOPED_TRACE(WideToUtf8(url));
    CrackedUrl ours, platform;
    const bool ours_ok = CrackHttpUrl(url, ours);
    const bool platform_ok = transport->CrackUrl(url, platform);
    ASSERT_EQ(ours_ok, platform_ok);
    if (!ours_ok) continue;
    EXPECT_EQ(ours.secure, platform.secure);
    EXPECT_EQ(ours.host, platform.host);
    // WinHttpCrackUrl fills in the scheme's default port; ours leaves 0.
    const std::uint16_t default_port = ours.secure ? 443 : 80;
    EXPECT_EQ(ours.port == 0 ? default_port : ours.port,
              platform.port == 0 ? default_port : platform.port);
    EXPECT_EQ(ours.object, platform.object);
  }
}

}  // namespace
}  // namespace emberfall

// The Linux build splits URLs with its own code; it must agree with
// WinHttpCrackUrl, which the Windows build uses. (Wine's reads "h:8a" as
// port 8, where ours refuses the URL; that case is left out.)
#include <gtest/gtest.h>

#include "core/text.h"
#include "net/http_transport.h"
#include "net/url.h"

namespace emberfall {
namespace {

// WinHttpCrackUrl fills in the scheme's default port; ours leaves 0.
std::string Split(bool ok, const CrackedUrl& url) {
  const int port = url.port != 0 ? url.port : url.secure ? 443 : 80;
  return ok ? std::to_string(url.secure) + " " + WideToUtf8(url.host) + " " + std::to_string(port) +
                  " " + WideToUtf8(url.object)
            : "refused";
}

TEST(UrlCrackWinTest, OwnSplitterAgreesWithWinHttpCrackUrl) {
  const auto transport = CreatePlatformTransport({});
  for (const std::u16string url :
       {u"http://h/x", u"https://h/x", u"HTTPS://Host:8443/a/b?q=1#f", u"http://h",
        u"http://user:pw@h:81/p", u"http://127.0.0.1:65535/", u"http://h/a%20b?c d", u"ftp://h/x",
        u"/plain/path", u"plain", u"http://h:99999/x", u"", u"httpx://h/", u"http://h/p?",
        u"http://h/?", u"HtTp://h:0/", u"https://h:443"}) {
    SCOPED_TRACE(WideToUtf8(url));
    CrackedUrl ours, platform;
    const bool ours_ok = CrackHttpUrl(url, ours);
    EXPECT_EQ(Split(ours_ok, ours), Split(transport->CrackUrl(url, platform), platform));
  }
}

}  // namespace
}  // namespace emberfall

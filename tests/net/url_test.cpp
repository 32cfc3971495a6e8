// URL building for the patch server and the client's own URL splitting.
#include "net/url.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"

namespace emberfall {
namespace {

TEST(JoinUrlTest, PutsExactlyOneSlashBetweenTheParts) {
  struct Case {
    std::u16string base, relative, expected;
  } cases[] = {
      {u"a/", u"/b", u"a/b"},
      {u"a", u"b", u"a/b"},
      {u"", u"b", u"b"},
      {u"a", u"", u"a"},
      {u"", u"", u""},
      {u"a/", u"b", u"a/b"},
      {u"a", u"/b", u"a/b"},
      {u"a//", u"//b", u"a///b"},  // only one slash each side is looked at
      {u"https://h/p/1.0.0.7/", u"crclist", u"https://h/p/1.0.0.7/crclist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.base) + " + " + WideToUtf8(c.relative));
    EXPECT_EQ(JoinUrl(c.base, c.relative), c.expected);
  }
}

TEST(EncodeRemotePathTest, KnownAnswers) {
  struct Case {
    std::string path;
    std::u16string expected;
  } cases[] = {
      {"a~b_c-d.e", u"a~b_c-d.e.lz"},
      {"50%+", u"50%25%2B.lz"},
      {"\xC3\xBC", u"%C3%BC.lz"},
      {"Data\\Maps\\Town Hall.pak", u"Data/Maps/Town%20Hall.pak.lz"},
      {"", u".lz"},
      {"a#b?c", u"a%23b%3Fc.lz"},
      {"dir/sub\\file", u"dir/sub/file.lz"},
      // Everything outside letters, digits and -._~/ is escaped.
      {" !\"$&'()*+,:;<=>@[]^`{|}",
       u"%20%21%22%24%26%27%28%29%2A%2B%2C%3A%3B%3C%3D%3E%40%5B%5D%5E%60%7B%7C%7D.lz"},
      {"\x01\x1F\x7F\x80\xFF", u"%01%1F%7F%80%FF.lz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(EncodeRemotePath(c.path), c.expected);
  }
}

TEST(MakeFileUrlTest, JoinsBaseAndPublishedName) {
  EXPECT_EQ(MakeFileUrl(u"https://h/p/1.0.0.7/", "Data\\Maps\\Town Hall.pak"),
            u"https://h/p/1.0.0.7/Data/Maps/Town%20Hall.pak.lz");
  EXPECT_EQ(MakeFileUrl(u"http://h/base", "\\lead.dat"), u"http://h/base/lead.dat.lz");
}

TEST(CrackHttpUrlTest, SplitsHttpAndHttpsUrls) {
  struct Case {
    std::u16string url;
    bool secure;
    std::u16string host;
    std::uint16_t port;
    std::u16string object;
  } cases[] = {
      {u"http://h/x", false, u"h", 0, u"/x"},
      {u"https://h/x", true, u"h", 0, u"/x"},
      {u"HTTPS://Host:8443/a/b?q=1#f", true, u"Host", 8443, u"/a/b?q=1#f"},
      {u"http://h", false, u"h", 0, u""},
      {u"http://h:", false, u"h", 0, u""},
      {u"http://user:pw@h:81/p", false, u"h", 81, u"/p"},
      {u"http://127.0.0.1:65535/", false, u"127.0.0.1", 65535, u"/"},
      {u"http://[::1]:8080/x", false, u"[::1]", 8080, u"/x"},
      {u"http:///x", false, u"", 0, u"/x"},
      {u"http://h/a%20b", false, u"h", 0, u"/a%20b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.url));
    CrackedUrl out;
    ASSERT_TRUE(CrackHttpUrl(c.url, out));
    EXPECT_EQ(out.secure, c.secure);
    EXPECT_EQ(out.host, c.host);
    EXPECT_EQ(out.port, c.port);
    EXPECT_EQ(out.object, c.object);
  }
}

TEST(CrackHttpUrlTest, RefusesWhatIsNotAnHttpUrl) {
  const std::u16string cases[] = {
      u"ftp://h/x",       u"/plain/path",      u"plain",     u"http:/h/x",  u"http:h",
      u"file:///c:/x",    u"http://h:65536/x", u"http://h:8a/x", u"",     u"httpx://h/",
      u"http://[::1/x",   std::u16string(u"http://h/\0x", 11),
  };
  for (const std::u16string& url : cases) {
    SCOPED_TRACE(WideToUtf8(url));
    CrackedUrl out;
    EXPECT_FALSE(CrackHttpUrl(url, out));
  }
}

}  // namespace
}  // namespace emberfall

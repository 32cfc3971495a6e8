#include "core/patch_config.h"

#include <gtest/gtest.h>

#include <string>

#include "core/patch_error.h"
#include "core/text.h"
#include "emb_build_config.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// Parses |document| expecting a failure; returns it.
PatchFailure ParseFailure(const std::string& document) {
  try {
    ParsePatchConfig(document);
  } catch (const PatchFailure& failure) {
    return failure;
  }
  ADD_FAILURE() << "no failure for " << document;
  return PatchFailure(999, u"");
}

std::string Document(const std::string& run_path_attr, const std::string& patch_attrs) {
  return "<torrent_config" + run_path_attr + "><foreground_patch" + patch_attrs +
         "/></torrent_config>";
}

class PatchConfigTest : public testing::Test {
 protected:
  // Runs clear of any override the environment may carry.
  test::ScopedEnvironmentVariable no_override_{"EMBERFALL_PATCH_URL", std::nullopt};
};

TEST_F(PatchConfigTest, ParsesAFullDocument) {
  const PatchConfig config = ParsePatchConfig(
      R"(<torrent_config run_path="bin\game.exe"><foreground_patch crcpatch_url="https://h/p" crcversion="1.0.0.7"/></torrent_config>)");
  EXPECT_EQ(config.run_path, "bin\\game.exe");
  EXPECT_EQ(config.run_path_wide, u"bin\\game.exe");
  EXPECT_EQ(config.crcpatch_url, "https://h/p/");
  EXPECT_EQ(config.crcversion, "1.0.0.7");
  const std::u16string base = MakePatchBaseUrl(config);
  EXPECT_EQ(base, u"https://h/p/1.0.0.7/");
  EXPECT_EQ(MakePatchBaseUrlList(base),
            (std::vector<std::u16string>{u"https://h/p/1.0.0.7/", u"http://h/p/1.0.0.7/"}));
}

TEST_F(PatchConfigTest, AppliesDefaultsAndNormalises) {
  PatchConfig config = ParsePatchConfig(Document("", R"( crcpatch_url="http://h/p/")"));
  EXPECT_EQ(config.run_path, "emb.bin");
  EXPECT_EQ(config.run_path_wide, u"emb.bin");
  EXPECT_EQ(config.crcpatch_url, "http://h/p/");  // no second slash
  EXPECT_EQ(config.crcversion, "0.0.0.0");
  EXPECT_EQ(MakePatchBaseUrlList(MakePatchBaseUrl(config)),
            std::vector<std::u16string>{u"http://h/p/0.0.0.0/"});

  config = ParsePatchConfig(
      Document(R"( run_path="" ignored="1")", R"( crcpatch_url="http://h" crcversion="")"));
  EXPECT_EQ(config.run_path, "emb.bin");
  EXPECT_EQ(config.crcversion, "0.0.0.0");

  config = ParsePatchConfig(Document(R"( run_path="a/b.exe")", R"( crcpatch_url="http://h")"));
  EXPECT_EQ(config.run_path, "a/b.exe");
  EXPECT_EQ(config.run_path_wide, u"a\\b.exe");
}

TEST_F(PatchConfigTest, BaseUrlListIsCaseSensitiveAboutHttps) {
  EXPECT_EQ(MakePatchBaseUrlList(u"HTTPS://h/p/").size(), 1u);
  EXPECT_EQ(MakePatchBaseUrlList(u"https:/h").size(), 1u);
}

TEST_F(PatchConfigTest, RefusesDocumentsWithoutTheRootElement) {
  PatchFailure failure = ParseFailure("<tiny/>   ");
  EXPECT_EQ(failure.code(), 0u);
  EXPECT_EQ(failure.detail(), u"torrent config missing <torrent_config>: <tiny/>   ");

  const std::string long_document = "<?xml version=\"1.0\"?>" + std::string(300, 'x');
  failure = ParseFailure(long_document);
  EXPECT_EQ(failure.code(), 0u);
  EXPECT_EQ(failure.detail(),
            u"torrent config missing <torrent_config>: " +
                std::u16string(long_document.begin(), long_document.begin() + 120));

  // A cut that splits a UTF-8 sequence reads the bytes as legacy text.
  const std::string cut = std::string(119, 'a') + "\xC3\xBC" + "<tail>";
  failure = ParseFailure(cut);
  EXPECT_EQ(failure.detail(), u"torrent config missing <torrent_config>: " +
                                  std::u16string(119, u'a') + u"\u00C3");

  // Fifteen bytes are enough when they are the root element's opening.
  EXPECT_EQ(ParseFailure("<torrent_config").code(), 4u);

  // The search is a plain substring search, even inside a comment.
  failure = ParseFailure("<TORRENT_CONFIG crcpatch_url='http://h'/>");
  EXPECT_EQ(failure.code(), 0u);
}

TEST_F(PatchConfigTest, RootElementInsideACommentStillPassesTheFirstCheck) {
  const PatchConfig config = ParsePatchConfig(
      R"(<!-- <torrent_config run_path="x.exe"> --><foreground_patch crcpatch_url="http://h/p"/>)");
  EXPECT_EQ(config.run_path, "emb.bin");
  EXPECT_EQ(config.crcpatch_url, "http://h/p/");

  const PatchFailure failure = ParseFailure(
      R"(<!-- <torrent_config><foreground_patch crcpatch_url="http://h/p"/> -->)");
  EXPECT_EQ(failure.code(), 4u);
}

TEST_F(PatchConfigTest, ReportsEachFailureWithItsDetail) {
  struct Case {
    std::string document;
    std::uint32_t code;
    const char16_t* detail;
  };
  const Case cases[] = {
      {Document(R"( run_path="..\x.exe")", R"( crcpatch_url="http://h")"), 11,
       u"unsafe run_path: ..\\x.exe"},
      {Document(R"( run_path="D:\game.exe")", ""), 11, u"unsafe run_path: D:\\game.exe"},
      {Document(R"( run_path="g&amp;&lt;.exe")", ""), 11, u"unsafe run_path: g&<.exe"},
      {Document(" run_path=\"\xFC.exe:\"", ""), 11, u"unsafe run_path: \u00FC.exe:"},
      {R"(<torrent_config crcpatch_url="http://h"/>)", 4, u""},
      {Document("", R"( crcpatch_url="ftp://h/p")"), 11, u"crcpatch_url is not http(s): ftp://h/p/"},
      {Document("", R"( crcpatch_url="HTTP://h/p")"), 11,
       u"crcpatch_url is not http(s): HTTP://h/p/"},
      {Document("", R"( crcpatch_url="https:h")"), 11, u"crcpatch_url is not http(s): https:h/"},
      {Document("", R"( crcpatch_url="http://h" crcversion="..")"), 11, u"invalid crcversion: .."},
      {Document("", R"( crcpatch_url="http://h" crcversion=".")"), 11, u"invalid crcversion: ."},
      {Document("", R"( crcpatch_url="http://h" crcversion="1/2")"), 11, u"invalid crcversion: 1/2"},
      {Document("", R"( crcpatch_url="http://h" crcversion="v 1")"), 11, u"invalid crcversion: v 1"},
      {Document("", " crcpatch_url=\"http://h\" crcversion=\"\xC3\xBC\""), 11,
       u"invalid crcversion: \u00FC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    const PatchFailure failure = ParseFailure(c.document);
    EXPECT_EQ(failure.code(), c.code);
    EXPECT_EQ(failure.detail(), c.detail);
  }
}

TEST_F(PatchConfigTest, ChecksInTheDocumentedOrder) {
  // Unsafe run_path before a missing URL.
  EXPECT_EQ(ParseFailure(R"(<torrent_config run_path="..\x"/>)").detail(), u"unsafe run_path: ..\\x");
  // A missing URL before a bad version.
  EXPECT_EQ(ParseFailure(Document("", R"( crcversion="..")")).code(), 4u);
  // A bad scheme before a bad version.
  EXPECT_EQ(ParseFailure(Document("", R"( crcpatch_url="ftp://h" crcversion="..")")).detail(),
            u"crcpatch_url is not http(s): ftp://h/");
}

TEST_F(PatchConfigTest, AcceptsVersionsThatNameOneSegment) {
  for (const char* version : {"1.2.3.4", "build_77", "2024-05-a", "A", "..a", "-"}) {
    SCOPED_TRACE(version);
    const PatchConfig config = ParsePatchConfig(
        Document("", std::string(" crcpatch_url=\"http://h\" crcversion=\"") + version + "\""));
    EXPECT_EQ(config.crcversion, version);
  }
  for (const char* version : {"1+2", "a~b", "%41", "1,2", "x\\y"}) {
    SCOPED_TRACE(version);
    EXPECT_EQ(ParseFailure(Document("", std::string(" crcpatch_url=\"http://h\" crcversion=\"") +
                                            version + "\""))
                  .code(),
              11u);
  }
}

TEST_F(PatchConfigTest, OverrideReplacesOnlyAnHttpUrl) {
  const std::string document = Document("", R"( crcpatch_url="http://h/p" crcversion="7")");
  struct Case {
    std::optional<std::string> value;
    const char* expected;
  };
  const Case cases[] = {
      {std::nullopt, "http://h/p/"},
      {"http://mirror/x", "http://mirror/x/"},
      {"https://mirror/x/", "https://mirror/x/"},
      {"mirror/x", "http://h/p/"},
      {"HTTP://mirror/x", "http://h/p/"},
      {"ftp://mirror/x", "http://h/p/"},
      {"", "http://h/p/"},
      {"http://" + std::string(2040, 'm'), nullptr},  // 2047 units: used
      {"http://" + std::string(2041, 'm'), "http://h/p/"},  // 2048 units: too long
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.value_or("(unset)").substr(0, 40));
    test::ScopedEnvironmentVariable variable("EMBERFALL_PATCH_URL", c.value);
    PatchConfig config = ParsePatchConfig(document);
    EXPECT_EQ(config.crcpatch_url, "http://h/p/");  // parsing ignores the variable
    ApplyPatchUrlOverride(config);
    EXPECT_EQ(config.crcpatch_url, c.expected ? std::string(c.expected) : *c.value + "/");
    EXPECT_EQ(config.crcversion, "7");
  }
}

TEST_F(PatchConfigTest, OverrideDoesNotRescueADocumentWithoutUrl) {
  test::ScopedEnvironmentVariable variable("EMBERFALL_PATCH_URL", "http://mirror/x");
  EXPECT_EQ(ParseFailure(Document("", "")).code(), 4u);
}

TEST_F(PatchConfigTest, ConfigUrlsUseTheDefaultHostHttpsFirst) {
  const std::string host = build_config::kDefaultPatchHost;
  const auto urls = ConfigUrls();
  EXPECT_EQ(urls[0], Utf8ToWide("https://" + host + "/new/emb.launcher.config.xml"));
  EXPECT_EQ(urls[1], Utf8ToWide("http://" + host + "/new/emb.launcher.config.xml"));
}

TEST(TrustKeyListTest, ParsesTheBuildSettingsForms) {
  const std::string a = "04" + std::string(128, 'a');
  const std::string b = "04" + std::string(128, 'b');
  using Keys = std::vector<std::string>;
  const struct {
    std::string text;
    std::optional<Keys> keys;  // nullopt: refused
  } cases[] = {
      {"", Keys{}},  {a, Keys{a}},   {a + ";" + b, Keys{a, b}}, {a + "," + b, Keys{a, b}},
      {a + ";", {}}, {";" + a, {}},  {a + " ;" + b, {}},        {a.substr(1), {}},
      {"05" + a.substr(2), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<Keys> texts;
    if (const auto keys = ParseTrustKeyList(c.text)) {
      texts.emplace();
      for (const EcdsaPublicKey& key : *keys) texts->push_back(FormatPublicKeyText(key));
    }
    EXPECT_EQ(texts, c.keys);
  }
}

TEST(IsSafeRelativePathTest, RefusesUnsafePaths) {
  const std::u16string long_component = std::u16string(1025, u'a');
  const char16_t* unsafe[] = {
      u"",          u"..\\x.exe",  u"D:\\game.exe", u"\\game.exe",  u"/game.exe",
      u"\\\\srv\\s", u"a//b.exe",   u"a\\",          u"a/",          u"con.exe",
      u"Con.txt\\x", u"game.exe.",  u"dir \\x.exe",  u"a\\.\\b",     u"a\\..",
      u".",         u"...",        u"a\"b",         u"a*b",         u"a:b",
      u"a<b",       u"a>b",        u"a?b",          u"a|b",         u"a\x1F" u"b",
      u"a\tb",      u"x\\nul",     u"x\\LPT9.log",  u"file.txt:ads",
      // Devices as Windows spells them too.
      u"CON .txt",  u"x\\nul  .x", u"COM\u00B9",    u"com\u00B2.log", u"COM\u00B3",
      u"LPT\u00B9",  u"x\\LPT\u00B3.txt",
      // The launcher's own files: at the top of the game folder, and staged
      // files anywhere.
      u"EmbLauncher.cache", u"emblauncher.CACHE", u"EmbLauncher.cache.tmp",
      u"EMBLAUNCHER.TRUST", u"EmbLauncher.Trust.tmp", u"game.exe.emb-new", u"data\\x.EMB-NEW", u"a.emb-new\\b",
      // Their 8.3 aliases, numbered, shortened for a long number, hashed.
      u"EMBLAU~1.CAC", u"emblau~2.tmp", u"EMBLA~10.TRU", u"E~1.CAC", u"EM1A2B~1.TMP", u"GAMEEX~1.EMB",
      u"data\\SAVE~3.emb",
  };
  for (const char16_t* path : unsafe) {
    SCOPED_TRACE(testing::Message() << WideToUtf8(path));
    std::u16string out = u"stale";
    EXPECT_FALSE(IsSafeRelativePath(path, out));
    EXPECT_EQ(out, u"");
  }
  std::u16string out;
  EXPECT_FALSE(IsSafeRelativePath(long_component, out));
}

TEST(IsSafeRelativePathTest, AcceptsAndNormalisesSafePaths) {
  struct Case {
    const char16_t* path;
    const char16_t* normalised;
  };
  const Case cases[] = {
      {u"game .exe", u"game .exe"},
      {u"a/b.exe", u"a\\b.exe"},
      {u"Data\\Maps/Town Hall.pak", u"Data\\Maps\\Town Hall.pak"},
      {u" lead", u" lead"},
      {u"a..b", u"a..b"},
      {u".hidden", u".hidden"},
      {u"a\x7F", u"a\x7F"},
      {u"\u00FC\u015F\u0131.bin", u"\u00FC\u015F\u0131.bin"},
      {u"COM10", u"COM10"},
      {u"CONSOLE\\AUXILIARY", u"CONSOLE\\AUXILIARY"},
      {u"CONX .txt", u"CONX .txt"},
      {u"COM\u00B9\u00B9", u"COM\u00B9\u00B9"},
      {u"data/EmbLauncher.cache", u"data\\EmbLauncher.cache"},
      {u"EmbLauncher.cache.bak", u"EmbLauncher.cache.bak"},
      {u"save.emb-news", u"save.emb-news"},
      // "~" names that cannot be the alias of one of the launcher's files.
      {u"save~1.dat", u"save~1.dat"},
      {u"EMBLAU~1.DAT", u"EMBLAU~1.DAT"},
      {u"data/EMBLAU~1.CAC", u"data\\EMBLAU~1.CAC"},
      {u"EMBLAX~1.CAC", u"EMBLAX~1.CAC"},
      {u"EX1A2B~1.TRU", u"EX1A2B~1.TRU"},
      {u"EMBLAU~1.CACH", u"EMBLAU~1.CACH"},
      {u"EMBLAU~X.CAC", u"EMBLAU~X.CAC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.path));
    std::u16string out;
    EXPECT_TRUE(IsSafeRelativePath(c.path, out));
    EXPECT_EQ(out, c.normalised);
  }
}

TEST(IsSafeRelativePathTest, AllowsExactly1024Units) {
  std::u16string path;
  while (path.size() < 1024) path += u"abcdefgh\\";
  path.resize(1024);
  ASSERT_NE(path.back(), u'\\');
  std::u16string out;
  EXPECT_TRUE(IsSafeRelativePath(path, out));
  EXPECT_EQ(out.size(), 1024u);
  path += u"x";
  EXPECT_FALSE(IsSafeRelativePath(path, out));
}

TEST(IsReservedDeviceNameTest, MatchesDeviceNamesBeforeTheFirstDot) {
  for (const char16_t* name : {u"nul.txt", u"Com1", u"LPT0.dat", u"con", u"PRN", u"aux.a.b",
                               u"CONIN$", u"conout$.log", u"lpt9", u"com0"}) {
    SCOPED_TRACE(WideToUtf8(name));
    EXPECT_TRUE(IsReservedDeviceName(name));
  }
  for (const char16_t* name : {u"COM10", u"CONSOLE", u"AUXILIARY", u"COM", u"LPT", u"COMA",
                               u"com\u00B9", u"NUL ", u"xnul", u"CONIN", u"", u".con",
                               u"\u0441on"}) {
    SCOPED_TRACE(WideToUtf8(name));
    EXPECT_FALSE(IsReservedDeviceName(name));
  }
}

}  // namespace
}  // namespace emberfall

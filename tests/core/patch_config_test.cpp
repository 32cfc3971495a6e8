#include "core/patch_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/patch_error.h"
#include "core/text.h"
#include "emb_build_config.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// "run_path run_path_wide crcpatch_url crcversion | base URLs", or the
// failure as "error CODE: DETAIL".
std::string Parsed(const std::string& document, bool apply_override = false) {
  try {
    PatchConfig config = ParsePatchConfig(document);
    if (apply_override) ApplyPatchUrlOverride(config);
    std::string out = config.run_path + " " + WideToUtf8(config.run_path_wide) + " " +
                      config.crcpatch_url + " " + config.crcversion + " |";
    for (const std::u16string& url : MakePatchBaseUrlList(MakePatchBaseUrl(config))) {
      out += " " + WideToUtf8(url);
    }
    return out;
  } catch (const PatchFailure& failure) {
    return "error " + std::to_string(failure.code()) + ": " + WideToUtf8(failure.detail());
  }
}

std::string Document(const std::string& run_path_attr, const std::string& patch_attrs) {
  return "<torrent_config" + run_path_attr + "><foreground_patch" + patch_attrs +
         "/></torrent_config>";
}

std::string Versioned(const std::string& version) {
  return Document("", " crcpatch_url=\"http://h\" crcversion=\"" + version + "\"");
}

class PatchConfigTest : public testing::Test {
 protected:
  test::ScopedEnvironmentVariable no_override_{"EMBERFALL_PATCH_URL", std::nullopt};
};

TEST_F(PatchConfigTest, Documents) {
  const std::string long_document = "<?xml version=\"1.0\"?>" + std::string(300, 'x');
  const std::string missing = "error 0: torrent config missing <torrent_config>: ";
  const std::pair<std::string, std::string> cases[] = {
      {R"(<torrent_config run_path="bin\game.exe"><foreground_patch crcpatch_url="https://h/p" )"
       R"(crcversion="1.0.0.7"/></torrent_config>)",
       "bin\\game.exe bin\\game.exe https://h/p/ 1.0.0.7 | https://h/p/1.0.0.7/ http://h/p/1.0.0.7/"},
      {Document("", R"( crcpatch_url="http://h/p/")"),
       "emb.bin emb.bin http://h/p/ 0.0.0.0 | http://h/p/0.0.0.0/"},
      {Document(R"( run_path="" ignored="1")", R"( crcpatch_url="http://h" crcversion="")"),
       "emb.bin emb.bin http://h/ 0.0.0.0 | http://h/0.0.0.0/"},
      {Document("", R"( crcpatch_url="HTTP://h/p")"), "error 11: crcpatch_url is not http(s): HTTP://h/p/"},
      {Document(R"( run_path="a/b.exe")", R"( crcpatch_url="https://h")"),
       "a/b.exe a\\b.exe https://h/ 0.0.0.0 | https://h/0.0.0.0/ http://h/0.0.0.0/"},
      // The root element's search is a plain substring search, comments too.
      {"<tiny/>   ", missing + "<tiny/>   "},
      {long_document, missing + long_document.substr(0, 120)},
      {std::string(119, 'a') + "\xC3\xBC<tail>", missing + std::string(119, 'a') + "\xC3\x83"},
      {"<torrent_config", "error 4: "},
      {"<TORRENT_CONFIG crcpatch_url='http://h'/>", missing + "<TORRENT_CONFIG crcpatch_url='http://h'/>"},
      {R"(<!-- <torrent_config run_path="x.exe"> --><foreground_patch crcpatch_url="http://h/p"/>)",
       "emb.bin emb.bin http://h/p/ 0.0.0.0 | http://h/p/0.0.0.0/"},
      {R"(<!-- <torrent_config><foreground_patch crcpatch_url="http://h/p"/> -->)", "error 4: "},
      // Each check's detail, in the order of the checks.
      {Document(R"( run_path="..\x.exe")", R"( crcpatch_url="http://h")"),
       "error 11: unsafe run_path: ..\\x.exe"},
      {R"(<torrent_config run_path="..\x"/>)", "error 11: unsafe run_path: ..\\x"},
      {Document(R"( run_path="g&amp;&lt;.exe")", ""), "error 11: unsafe run_path: g&<.exe"},
      {Document(" run_path=\"\xFC.exe:\"", ""), "error 11: unsafe run_path: \xC3\xBC.exe:"},
      {R"(<torrent_config crcpatch_url="http://h"/>)", "error 4: "},
      {Document("", R"( crcversion="..")"), "error 4: "},
      {Document("", R"( crcpatch_url="ftp://h/p" crcversion="..")"),
       "error 11: crcpatch_url is not http(s): ftp://h/p/"},
      {Document("", R"( crcpatch_url="https:h")"), "error 11: crcpatch_url is not http(s): https:h/"},
      {Versioned("build_77"), "emb.bin emb.bin http://h/ build_77 | http://h/build_77/"},
      {Versioned("..a"), "emb.bin emb.bin http://h/ ..a | http://h/..a/"},
      {Versioned("-"), "emb.bin emb.bin http://h/ - | http://h/-/"},
      {Versioned("\xC3\xBC"), "error 11: invalid crcversion: \xC3\xBC"},
  };
  for (const auto& [document, expected] : cases) {
    SCOPED_TRACE(document);
    EXPECT_EQ(Parsed(document), expected);
  }
  for (const char* version : {"..", ".", "1/2", "v 1", "1+2", "a~b", "%41", "1,2", "x\\y"}) {
    EXPECT_EQ(Parsed(Versioned(version)), std::string("error 11: invalid crcversion: ") + version);
  }
}

TEST_F(PatchConfigTest, OverrideReplacesOnlyAnHttpUrlOfAtMost2047Units) {
  const std::string document = Document("", R"( crcpatch_url="http://h/p" crcversion="7")");
  const std::string kept = "emb.bin emb.bin http://h/p/ 7 | http://h/p/7/";
  const std::string longest = "http://" + std::string(2040, 'm');
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, kept},
      {"http://mirror/x", "emb.bin emb.bin http://mirror/x/ 7 | http://mirror/x/7/"},
      {"https://mirror/x/", "emb.bin emb.bin https://mirror/x/ 7 | https://mirror/x/7/ http://mirror/x/7/"},
      {"mirror/x", kept},
      {"HTTP://mirror/x", kept},
      {"ftp://mirror/x", kept},
      {"", kept},
      {longest, "emb.bin emb.bin " + longest + "/ 7 | " + longest + "/7/"},
      {longest + "m", kept},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value.value_or("(unset)").substr(0, 40));
    test::ScopedEnvironmentVariable variable("EMBERFALL_PATCH_URL", value);
    EXPECT_EQ(Parsed(document), kept);  // parsing alone ignores the variable
    EXPECT_EQ(Parsed(document, true), expected);
  }
  test::ScopedEnvironmentVariable variable("EMBERFALL_PATCH_URL", "http://mirror/x");
  EXPECT_EQ(Parsed(Document("", ""), true), "error 4: ");
}

TEST_F(PatchConfigTest, ConfigUrlsUseTheDefaultHostHttpsFirst) {
  const std::string host = build_config::kDefaultPatchHost;
  EXPECT_EQ(ConfigUrls()[0], Utf8ToWide("https://" + host + "/new/emb.launcher.config.xml"));
  EXPECT_EQ(ConfigUrls()[1], Utf8ToWide("http://" + host + "/new/emb.launcher.config.xml"));
}

TEST(TrustKeyListTest, ParsesTheBuildSettingsForms) {
  const std::string a = "04" + std::string(128, 'a');
  const std::string b = "04" + std::string(128, 'b');
  using Keys = std::vector<std::string>;
  const std::pair<std::string, std::optional<Keys>> cases[] = {
      {"", Keys{}},  {a, Keys{a}},   {a + ";" + b, Keys{a, b}}, {a + "," + b, Keys{a, b}},
      {a + ";", {}}, {";" + a, {}},  {a + " ;" + b, {}},        {a.substr(1), {}},
      {"05" + a.substr(2), {}},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    std::optional<Keys> texts;
    if (const auto keys = ParseTrustKeyList(text)) {
      texts.emplace();
      for (const EcdsaPublicKey& key : *keys) texts->push_back(FormatPublicKeyText(key));
    }
    EXPECT_EQ(texts, expected);
  }
}

TEST(IsSafeRelativePathTest, RefusesUnsafePaths) {
  std::u16string too_long;
  while (too_long.size() < 1025) too_long += u"abcdefgh\\";
  too_long.resize(1025);
  const std::u16string unsafe[] = {
      u"",          u"..\\x.exe",  u"D:\\game.exe", u"\\game.exe",  u"/game.exe",
      u"\\\\srv\\s", u"a//b.exe",   u"a\\",          u"a/",          u"con.exe",
      u"Con.txt\\x", u"game.exe.",  u"dir \\x.exe",  u"a\\.\\b",     u"a\\..",
      u".",         u"...",        u"a\"b",         u"a*b",         u"a:b",
      u"a<b",       u"a>b",        u"a?b",          u"a|b",         u"a\x1F" u"b",
      u"a\tb",      u"x\\nul",     u"x\\LPT9.log",  u"file.txt:ads", too_long,
      std::u16string(1025, u'a'),
      // Devices as Windows spells them too.
      u"CON .txt",  u"x\\nul  .x", u"COM\u00B9",    u"com\u00B2.log", u"COM\u00B3",
      u"LPT\u00B9",  u"x\\LPT\u00B3.txt",
      // The launcher's own files: at the top of the game folder, and staged
      // files anywhere; and their 8.3 aliases, numbered, shortened, hashed.
      u"EmbLauncher.cache", u"emblauncher.CACHE", u"EmbLauncher.cache.tmp",
      u"EMBLAUNCHER.TRUST", u"EmbLauncher.Trust.tmp", u"game.exe.emb-new", u"data\\x.EMB-NEW",
      u"a.emb-new\\b", u"EMBLAU~1.CAC", u"emblau~2.tmp", u"EMBLA~10.TRU", u"E~1.CAC",
      u"EM1A2B~1.TMP", u"GAMEEX~1.EMB", u"data\\SAVE~3.emb",
  };
  for (const std::u16string& path : unsafe) {
    SCOPED_TRACE(WideToUtf8(path));
    std::u16string out = u"stale";
    EXPECT_FALSE(IsSafeRelativePath(path, out));
    EXPECT_EQ(out, u"");
  }
}

TEST(IsSafeRelativePathTest, AcceptsAndNormalisesSafePaths) {
  std::u16string longest;
  while (longest.size() < 1024) longest += u"abcdefgh/";
  longest.resize(1024);
  std::u16string longest_normalised = longest;
  std::replace(longest_normalised.begin(), longest_normalised.end(), u'/', u'\\');
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"game .exe", u"game .exe"},
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
      {longest, longest_normalised},
  };
  for (const auto& [path, normalised] : cases) {
    SCOPED_TRACE(WideToUtf8(path));
    std::u16string out;
    EXPECT_TRUE(IsSafeRelativePath(path, out));
    EXPECT_EQ(out, normalised);
  }
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

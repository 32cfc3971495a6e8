#include "core/patch_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/build_settings.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "emb_build_config.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// "run_path_wide base-URL...", or the failure as "error CODE: DETAIL".
std::string Parsed(const std::string& document, bool apply_override = false) {
  try {
    PatchConfig config = ParsePatchConfig(document);
    if (apply_override) ApplyPatchUrlOverride(config);
    std::string out = WideToUtf8(config.run_path_wide);
    for (const std::u16string& url : MakePatchBaseUrlList(MakePatchBaseUrl(config))) {
      out += " " + WideToUtf8(url);
    }
    return out;
  } catch (const PatchFailure& failure) {
    return "error " + std::to_string(CodeNumber(failure.code())) + ": " + WideToUtf8(failure.detail());
  }
}

std::string Document(const std::string& root_attrs, const std::string& patch_attrs) {
  return "<torrent_config" + root_attrs + "><foreground_patch" + patch_attrs +
         "/></torrent_config>";
}

TEST(PatchConfigTest, Documents) {
  const std::string missing = "error 0: torrent config missing <torrent_config>: ";
  const std::pair<std::string, std::string> cases[] = {
      {Document(R"( run_path="bin/game.exe")", R"( crcpatch_url="https://h/p" crcversion="1.0.7")"),
       "bin\\game.exe https://h/p/1.0.7/ http://h/p/1.0.7/"},
      {Document(R"( run_path="" x="1")", R"( crcpatch_url="http://h/p/" crcversion="")"),
       "emb.bin http://h/p/0.0.0.0/"},
      // The root element's search is a plain substring search, comments too.
      {"<tiny/>   ", missing + "<tiny/>   "},
      {std::string(119, 'a') + "\xC3\xBC<tail>", missing + std::string(119, 'a') + "\xC3\x83"},
      {"<torrent_config", "error 4: "},
      {R"(<!-- <torrent_config run_path="x.exe"> --><foreground_patch crcpatch_url="http://h"/>)",
       "emb.bin http://h/0.0.0.0/"},
      {R"(<!-- <torrent_config><foreground_patch crcpatch_url="http://h/p"/> -->)", "error 4: "},
      {R"(<torrent_config run_path="..\x"/>)", "error 11: unsafe run_path: ..\\x"},
      {Document(R"( run_path="g&amp;&lt;.exe")", ""), "error 11: unsafe run_path: g&<.exe"},
      {Document(" run_path=\"\xFC.exe:\"", ""), "error 11: unsafe run_path: \xC3\xBC.exe:"},
      {Document("", R"( crcversion="..")"), "error 4: "},
      {Document("", R"( crcpatch_url="ftp://h/p" crcversion="..")"),
       "error 11: crcpatch_url is not http(s): ftp://h/p/"},
      {Document("", R"( crcpatch_url="http://h" crcversion="..b-7_")"), "emb.bin http://h/..b-7_/"},
      // What the publisher writes reads back, markup characters included.
      {FormatPatchConfig({.run_path = "bin/a&b.exe", .crcpatch_url = "https://h/p?q=<\"1\">",
                          .crcversion = "1.0"}),
       "bin\\a&b.exe https://h/p?q=<\"1\">/1.0/ http://h/p?q=<\"1\">/1.0/"},
  };
  for (const auto& [document, expected] : cases) EXPECT_EQ(Parsed(document), expected) << document;
  for (std::string version : {"..", ".", "1/2", "v 1", "%41", "x\\y"}) {
    EXPECT_EQ(Parsed(Document("", R"( crcpatch_url="http://h" crcversion=")" + version + "\"")),
              "error 11: invalid crcversion: " + version);
  }
}

TEST(PatchConfigTest, OverrideReplacesOnlyAnHttpUrlOfAtMost2047Units) {
  const std::string document = Document("", R"( crcpatch_url="http://h/p" crcversion="7")");
  const std::string longest = "http://" + std::string(2040, 'm');
  const std::string kept = "http://h/p/7/";
  const std::pair<std::string, std::string> cases[] = {
      {"https://mirror/x/", "https://mirror/x/7/ http://mirror/x/7/"}, {longest, longest + "/7/"},
      {longest + "m", kept}, {"mirror/x", kept}, {"HTTP://m", kept}, {"", kept},
  };
  for (const auto& [value, expected] : cases) {
    test::ScopedEnvironmentVariable variable("EMBERFALL_PATCH_URL", value);
    EXPECT_EQ(Parsed(document, true), "emb.bin " + expected) << value;
    EXPECT_EQ(Parsed(document), "emb.bin " + kept);  // parsing alone ignores it
  }
  const std::string url = build_config::kDefaultPatchHost + std::string(kConfigDocumentPath);
  EXPECT_EQ(WideToUtf8(ConfigUrls()[0] + u" " + ConfigUrls()[1]),
            "https://" + url + " http://" + url);
}

}  // namespace
}  // namespace emberfall

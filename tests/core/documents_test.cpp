#include "core/build_settings.h"
#include "core/patch_config.h"
#include "core/safe_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/crypto.h"
#include "core/patch_error.h"
#include "core/release_document.h"
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

// The build settings' key lists: a malformed one refuses every key.
TEST(TrustKeyListTest, ParsesTheBuildSettingsForms) {
  const std::string a = "04" + std::string(128, 'a');
  const std::string b = "04" + std::string(128, 'b');
  EXPECT_TRUE(ParseTrustKeyList("").value().empty());
  EXPECT_EQ(FormatPublicKeyText(ParseTrustKeyList(b + "," + b + ";" + a).value().at(2)), a);
  for (const std::string& bad : {a + ";", ";" + a, a + " ;" + b, a.substr(1), "05" + a.substr(2)}) {
    EXPECT_FALSE(ParseTrustKeyList(bad)) << bad;
  }
}

TEST(IsSafeRelativePathTest, RefusesUnsafePathsAndNormalisesSafeOnes) {
  std::u16string longest;
  while (longest.size() < 1024) longest += u"abcdefgh/";
  longest.resize(1024);
  // Devices as Windows spells them, the launcher's own files and their 8.3 aliases.
  for (const std::u16string& path : std::initializer_list<std::u16string>{
           u"", u"..\\x.exe", u"D:\\game.exe", u"\\game.exe", u"/game.exe", u"\\\\srv\\s",
           u"a//b.exe", u"a\\", u"game.exe.", u"dir \\x.exe", u"a\\.\\b", u"a\\..", u".", u"...",
           u"a\"b", u"a*b", u"a:b", u"a<b", u"a>b", u"a?b", u"a|b", u"a\x1F" u"b", u"a\tb", u"a\x7F",
           u"file.txt:ads", longest + u"x", std::u16string(1025, u'a'), u"con.exe", u"Con.txt\\x",
           u"x\\nul", u"PRN", u"aux.a.b", u"CONIN$", u"conout$.log", u"com0", u"x\\LPT9.log",
           u"CON .txt", u"x\\nul  .x", u"COM\u00B9", u"com\u00B2.log", u"x\\LPT\u00B3.txt",
           u"EmbLauncher.cache", u"EmbLauncher.cache.tmp", u"EMBLAUNCHER.TRUST",
           u"EmbLauncher.Trust.tmp", u"game.exe.emb-new", u"data\\x.EMB-NEW", u"a.emb-new\\b",
           u"EMBLAU~1.CAC", u"emblau~2.tmp", u"EMBLA~10.TRU", u"E~1.CAC", u"EM1A2B~1.TMP",
           u"GAMEEX~1.EMB", u"data\\SAVE~3.emb"}) {
    std::u16string out = u"stale";
    EXPECT_FALSE(IsSafeRelativePath(path, out)) << WideToUtf8(path);
    EXPECT_EQ(out, u"");
  }
  std::u16string out;
  EXPECT_TRUE(IsSafeRelativePath(u"Data\\Maps/Town Hall.pak", out));
  EXPECT_EQ(out, u"Data\\Maps\\Town Hall.pak");
  EXPECT_TRUE(IsSafeRelativePath(longest, out) && out.size() == 1024u);
  // Names that only look like devices or aliases of the launcher's files.
  for (const std::u16string& path : std::initializer_list<std::u16string>{
           u"game .exe", u" lead", u"a..b", u".hidden", u"a\x80", u"\u00FC\u015F\u0131.bin",
           u"COM10", u"COM", u"LPT", u"COMA", u"xnul", u"CONIN", u".con", u"\u0441on",
           u"CONSOLE\\AUXILIARY", u"CONX .txt", u"COM\u00B9\u00B9", u"data\\EmbLauncher.cache",
           u"EmbLauncher.cache.bak", u"save.emb-news", u"save~1.dat", u"EMBLAU~1.DAT",
           u"data\\EMBLAU~1.CAC", u"EMBLAX~1.CAC", u"EX1A2B~1.TRU", u"EMBLAU~1.CACH",
           u"EMBLAU~X.CAC"}) {
    EXPECT_TRUE(IsSafeRelativePath(path, out)) << WideToUtf8(path);
    EXPECT_EQ(out, path);
  }
}

TEST(ReleaseDocumentTest, RoundTripsWhatThePublisherFormatsAndRefusesEveryMalformedForm) {
  const std::pair<std::string_view, std::int64_t> times[] = {
      {"1970-01-01T00:00:00Z", 0},          {"2000-02-29T12:34:56Z", 951827696},
      {"2027-01-06T00:00:00Z", 1799193600}, {"9999-12-31T23:59:59Z", 253402300799},
  };
  for (const auto& [text, seconds] : times) {
    EXPECT_EQ(ParseUtcTime(text), seconds) << text;
    EXPECT_EQ(FormatUtcTime(seconds), text);
  }
  for (std::string_view text :
       {"2001-02-29T00:00:00Z", "2100-02-29T00:00:00Z", "2027-13-01T00:00:00Z",
        "2027-04-31T00:00:00Z", "2027-01-06T24:00:00Z", "2027-01-06T00:60:00Z",
        "2027-01-06 00:00:00Z", "2027-01-06T00:00:00", "2027-01-06T00:00:00+00:00",
        "1969-12-31T23:59:59Z", "2O27-01-06T00:00:00Z"}) {
    EXPECT_FALSE(ParseUtcTime(text)) << text;
  }
  // Names as the EMB_PRODUCT and EMB_CHANNEL settings take them.
  using Names = std::initializer_list<std::string>;
  for (const std::string& name : Names{"a", "9", "beta-2.x_y", std::string(64, 'z')}) {
    EXPECT_TRUE(IsValidReleaseName(name)) << name;
  }
  for (const std::string& name :
       Names{"", "-live", ".a", "_a", "Live", "a b", "a/b", "a\x7F", std::string(65, 'z')}) {
    EXPECT_FALSE(IsValidReleaseName(name)) << name;
  }
  ReleaseDocument release{.product = "emberfall", .channel = "live", .serial = 12,
                          .expires = 1799193600,
                          .crclist_sha256 = Sha256Of("crclist"),
                          .files = {{"data/Town Hall.pak", {Sha256Of("town"), 4}},
                                    {"emb.bin", {Sha256Of(""), 0}}}};
  EcdsaSignature signature;
  signature.fill(0x5A);
  const std::string body = FormatReleaseDocument(release);
  const std::string text = body + FormatSignatureLine(signature);
  const std::string town = HexEncode(Sha256Of("town"));
  const std::string sig = HexEncode(signature);
  EXPECT_EQ(text, "EMBSIG2\nproduct emberfall\nchannel live\nserial 12\n"
                  "expires 2027-01-06T00:00:00Z\ncrclist " +
                      HexEncode(Sha256Of("crclist")) + "\nfile " + town +
                      " 4 data/Town Hall.pak\nfile " + HexEncode(Sha256Of("")) +
                      " 0 emb.bin\nsig " + sig + "\n");
  std::string reason;
  const std::optional<ParsedReleaseDocument> parsed = ParseReleaseDocument(text, reason);
  ASSERT_TRUE(parsed) << reason;
  EXPECT_EQ(parsed->signed_length, body.size());
  EXPECT_EQ(parsed->signature, signature);
  EXPECT_EQ(FormatReleaseDocument(parsed->document), body);
  release.files.clear();  // a release without files is well-formed
  EXPECT_TRUE(ParseReleaseDocument(FormatReleaseDocument(release) + FormatSignatureLine(signature),
                                   reason));

  const auto edited = [&](std::string_view from, std::string_view to) {
    std::string copy = text;
    return copy.replace(copy.find(from), from.size(), to);
  };
  const std::pair<std::string, std::string> cases[] = {
      {"", "empty document"},
      {text + std::string(kReleaseDocumentLimit, '#'), "document larger than"},
      {edited("EMBSIG2", "EMBSIG1"), "line 1: not an EMBSIG2"},
      {edited("product emberfall\n", ""), "line 2: expected \"product NAME\""},
      {edited("emberfall", "Emberfall"), "line 2: expected \"product NAME\""},
      {edited("channel live", "channel " + std::string(65, 'l')), "line 3: expected \"channel NAME\""},
      {edited("channel live", "channel  live"), "line 3: expected \"channel NAME\""},
      {edited("serial 12\n", "serial 12\r\n"), "line 4: CR in line"},
      {text.substr(0, text.size() - 1), "the last line has no LF"},
      {body, "no signature line"},
      {edited("serial 12", "serial 0"), "line 4: expected \"serial N\""},
      {edited("2027-01-06T00:00:00Z", "1799193600"), "line 5: expected \"expires"},
      {edited(" 4 data/Town Hall.pak", " 4"), "line 7: expected \"file"},
      {edited(" 4 data/", " 04 data/"), "line 7: file size"},
      {edited("Town Hall.pak", std::string(kReleaseDocumentPathLimit, 'x')),
       "line 7: invalid path"},
      {edited("0 emb.bin", "4 data/Town Hall.pak"), "line 8: duplicate path"},
      {edited("0 emb.bin", "0 a.bin"), "line 8: paths out of order"},
      {edited("file " + town, "note " + town), "line 7: expected a \"file\" or \"sig\""},
      {edited(sig, sig.substr(0, 127) + "F"), "line 9: expected \"sig\""},
      {text + FormatSignatureLine(signature), "line 10: text after the signature"},
  };
  for (const auto& [document, expected] : cases) {
    EXPECT_TRUE(!ParseReleaseDocument(document, reason) && reason.starts_with(expected)) << reason;
  }
}

// A release embpatch signed with OpenSSL, checked by the build's own verifier.
TEST(ReleaseVerifyTest, VerdictsForEveryFault) {
  const auto read = [](const char* name) { return test::ReadFileBytes(test::TestDataPath(name)); };
  const std::string document = read("signing/www/patch/1.0/crclist.sig");
  const std::string crclist = read("signing/www/patch/1.0/crclist");
  // Key A signed the document, key B did not.
  const EcdsaPublicKey a = ParsePublicKeyText(test::LastLine(read("signing/key_a.pub"))).value();
  const EcdsaPublicKey b = ParsePublicKeyText(test::LastLine(read("signing/key_b.pub"))).value();
  std::string reason;
  const auto parsed = ParseReleaseDocument(document, reason);
  ASSERT_TRUE(parsed) << reason;
  const std::uint64_t serial = parsed->document.serial;
  // The verdict and "+" if the document was handed out (only an authentic one
  // may be); by default a second before expiry, for the signed crclist, product
  // and channel.
  const auto verify = [&](const std::string& bytes, std::vector<EcdsaPublicKey> trusted,
                          std::int64_t later = 0, const char* more = "", std::uint64_t min = 0,
                          const char* channel = "live", const char* product = "emberfall") {
    ReleaseDocument handed;
    const ReleaseVerdict verdict =
        VerifyReleaseDocument(bytes, trusted, product, channel, parsed->document.expires - 1 + later,
                              crclist + more, min, &handed);
    return std::string(ReleaseVerdictText(verdict)) + (handed.serial == serial ? " +" : "");
  };
  // A serial digit changed: still well-formed, so only the signature can notice.
  std::string tampered = document;
  tampered[document.find("serial ") + 7] ^= 1;
  // The other form of the same signature: ECDSA accepts (r, n - s) alike.
  const std::string twin = document.substr(0, parsed->signed_length) +
                           FormatSignatureLine(EcdsaTwin(parsed->signature));
  EXPECT_EQ(verify(document, {a}, 0, "", serial), "release signature ok +");
  EXPECT_EQ(verify(document, {b, a}), "release signature ok +");
  EXPECT_EQ(verify(document, {b}), "no trusted key verifies the release signature");
  EXPECT_EQ(verify(tampered, {a}), "no trusted key verifies the release signature");
  EXPECT_EQ(verify(twin, {a}), "no trusted key verifies the release signature");
  EXPECT_EQ(verify(tampered, {a}, 0, "", 0, "beta"), "no trusted key verifies the release signature");
  EXPECT_EQ(verify(document, {a}, 1, "#\n", serial + 1, "beta"),
            "release is for another product or channel +");
  EXPECT_EQ(verify(document, {a}, 0, "", 0, "live", "emberfall2"),
            "release is for another product or channel +");
  EXPECT_EQ(verify(document, {a}, 0, "", serial + 1),
            "release is older than one already accepted +");
  EXPECT_EQ(verify(document, {a}, 0, "#\n", serial + 1),
            "crclist does not match the signed release +");
  EXPECT_EQ(verify(document, {a}, 1, "", serial), "release signature expired +");
  EXPECT_EQ(verify("", {a}), "release document missing or malformed");
}

TEST(ParseCrcListTest, ListsLinesAndEstimates) {
  const std::string long_line = "1 2 3 4 " + std::string(200, 'p') + ":";
  const std::string bad = "error 2: crclist line ";
  const std::pair<std::string, std::string> cases[] = {
      {"1a2b3c4d 1048576 310211 0 data/maps/town.pak\n"
       "FFFFFFFF 5 -7 -9223372036854775808 Data\\Maps\\Town Hall.pak",
       "1a2b3c4d 1048576 310211 0 data\\maps\\town.pak (data/maps/town.pak); "
       "ffffffff 5 -7 -9223372036854775808 Data\\Maps\\Town Hall.pak; "},
      {"\xEF\xBB\xBF# published\r\n\r\n   # indented\n\t1 2 3 4   my file.txt \t\r\n"
       "2\t3\v4\f5 a#b\n\n",
       "00000001 2 3 4 my file.txt; 00000002 3 4 5 a#b; "},
      {"0 0 0 0 a\naBcD 1 1 1 b\n1 -0 -5 -5 c\n1 9223372036854775807 0 0 d\n1 007 -007 0 e",
       "00000000 0 0 0 a; 0000abcd 1 1 1 b; 00000001 0 -5 -5 c; "
       "00000001 9223372036854775807 0 0 d; 00000001 7 -7 0 e; "},
      // What the publisher writes reads back.
      {FormatCrcList(std::vector<CrcListEntry>{{0xc, 0, -1, -9223372036854775807 - 1, "a b/c"},
                                               {0xfedcba98, 9223372036854775807, 7, 0, "d"}}),
       "0000000c 0 -1 -9223372036854775808 a b\\c (a b/c); "
       "fedcba98 9223372036854775807 7 0 d; "},
      // Legacy bytes that are not UTF-8 are read as the ANSI code page.
      {"1 1 1 1 m\xFCzik/\xC3\xA7",
       "00000001 1 1 1 m\xC3\xBCzik\\\xC3\x83\xC2\xA7 (m\xFCzik/\xC3\xA7); "},
      // Equal duplicates keep the first spelling; case is ignored as Windows does.
      {"abc 10 5 1 data/a.bin\nabc 10 99 2 DATA\\A.BIN\n1 1 1 1 \xC3\xBC.bin\n"
       "1 1 1 1 \xC3\x9C.BIN\n1 1 1 1 \xC4\xB1.bin\n2 2 2 2 I.bin\n",
       "00000abc 10 5 1 data\\a.bin (data/a.bin); 00000001 1 1 1 \xC3\xBC.bin; "
       "00000001 1 1 1 \xC4\xB1.bin; 00000002 2 2 2 I.bin; "},
      {"abc 10 5 1 a.bin\n#\nabc 11 5 1 A.BIN\n", bad + "3: conflicting duplicate A.BIN"},
      // Every line counts; only line 1 may carry a BOM; at most 160 bytes are quoted.
      {"# header\n\n1 2 3 4 ok.bin\nbad line\n", bad + "4: bad line"},
      {"1 2 3 4 a\n\xEF\xBB\xBF" "1 2 3 4 b\n", bad + "2: \xEF\xBB\xBF" "1 2 3 4 b"},
      {"1 2 3 4 a\r\nzz 1 1 1 b\r\n", bad + "2: zz 1 1 1 b"},
      {long_line, bad + "1: " + long_line.substr(0, 160)},
      {"x " + std::string(158, 'q'), bad + "1: x " + std::string(158, 'q')},
  };
  // The entries as "crc size packed reserved local-path (path as written)".
  for (const auto& [text, expected] : cases) {
    std::string out;
    try {
      for (const CrcListEntry& e : ParseCrcList(text)) {
        const std::string local = WideToUtf8(e.path_wide);
        out += FormatCrcHex(e.crc) + " " + std::to_string(e.size) + " " +
               std::to_string(e.packed_size) + " " + std::to_string(e.reserved) + " " + local +
               (local == e.path ? "" : " (" + e.path + ")") + "; ";
      }
    } catch (const PatchFailure& failure) {
      out = "error " + std::to_string(CodeNumber(failure.code())) + ": " + WideToUtf8(failure.detail());
    }
    EXPECT_EQ(out, expected) << text;
  }
  for (const char* line : {
           "000000001 1 1 1 a", "0x1f 1 1 1 a", "g1 1 1 1 a", "-1 1 1 1 a", "+1 1 1 1 a",
           "1 -5 1 1 a", "1 +5 1 1 a", "1 1.0 1 1 a", "1 - 1 1 a", "1 1 - 1 a", "1 1 1 +1 a",
           "1 1 1 1e3 a", "1 9223372036854775808 1 1 a", "1 1 9223372036854775808 1 a",
           "1 1 1 -9223372036854775809 a", "1 1 1 99999999999999999999 a", "1 1 1 1", "1 1 1 1   ",
           "1 1 1", "", "1 1 1 1 ..", "1 1 1 1 \vpath", "1 2 3 4path"}) {
    CrcListEntry entry;
    EXPECT_FALSE(ParseCrcListLine(line, entry)) << line;
  }
  const std::int64_t estimates[][3] = {  // size, packed size, estimate: a plausible payload size
      {1000, 300, 300}, {1000, 999, 999},  {1000, 1, 1}, {1000, 0, 250}, {1000, -3, 250},
      {1000, 1000, 250}, {1003, 5000, 250}, {3, 0, 1},    {0, 0, 1},      {8, 0, 2},
  };
  for (const auto& c : estimates) EXPECT_EQ(EstimateDownloadSize(c[0], c[1]), c[2]) << c[0] << c[1];
}

}  // namespace
}  // namespace emberfall

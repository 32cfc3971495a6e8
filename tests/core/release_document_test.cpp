#include "core/release_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/crypto.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

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

}  // namespace
}  // namespace emberfall

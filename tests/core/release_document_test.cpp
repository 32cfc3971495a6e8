#include "core/release_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/crypto.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(ReleaseTimeTest, UtcTimesBothWays) {
  const std::pair<std::string_view, std::int64_t> cases[] = {
      {"1970-01-01T00:00:00Z", 0},          {"2000-02-29T12:34:56Z", 951827696},
      {"2027-01-06T00:00:00Z", 1799193600}, {"9999-12-31T23:59:59Z", 253402300799},
  };
  for (const auto& [text, seconds] : cases) {
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
}

TEST(ReleaseDocumentTest, RoundTripsWhatThePublisherFormatsAndRefusesEveryMalformedForm) {
  ReleaseDocument release{.serial = 12, .expires = 1799193600,
                          .crclist_sha256 = Sha256Of("crclist"),
                          .files = {{"data/Town Hall.pak", {Sha256Of("town"), 4}},
                                    {"emb.bin", {Sha256Of(""), 0}}}};
  EcdsaSignature signature;
  signature.fill(0x5A);
  const std::string body = FormatReleaseDocument(release);
  const std::string text = body + FormatSignatureLine(signature);
  const std::string town = HexEncode(Sha256Of("town"));
  const std::string sig = HexEncode(signature);
  EXPECT_EQ(text, "EMBSIG1\nserial 12\nexpires 2027-01-06T00:00:00Z\ncrclist " +
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
      {edited("EMBSIG1", "EMBSIG2"), "line 1: not an EMBSIG1"},
      {edited("serial 12\n", "serial 12\r\n"), "line 2: CR in line"},
      {text.substr(0, text.size() - 1), "the last line has no LF"},
      {body, "no signature line"},
      {edited("serial 12", "serial 0"), "line 2: expected \"serial N\""},
      {edited("serial 12", "serial 012"), "line 2:"},
      {edited("2027-01-06T00:00:00Z", "1799193600"), "line 3: expected \"expires"},
      {edited(" 4 data/Town Hall.pak", " 4"), "line 5: expected \"file"},
      {edited(" 4 data/", " 04 data/"), "line 5: file size"},
      {edited("Town Hall.pak", std::string(kReleaseDocumentPathLimit, 'x')),
       "line 5: invalid path"},
      {edited("0 emb.bin", "4 data/Town Hall.pak"), "line 6: duplicate path"},
      {edited("0 emb.bin", "0 a.bin"), "line 6: paths out of order"},
      {edited("file " + town, "note " + town), "line 5: expected a \"file\" or \"sig\""},
      {edited(sig, sig.substr(0, 127) + "F"), "line 7: expected \"sig\""},
      {text + FormatSignatureLine(signature), "line 8: text after the signature"},
  };
  for (const auto& [document, expected] : cases) {
    EXPECT_TRUE(!ParseReleaseDocument(document, reason) && reason.starts_with(expected)) << reason;
  }
}

// A release embpatch signed with OpenSSL, checked by the build's own verifier.
TEST(ReleaseVerifyTest, VerdictsForEveryFault) {
  const std::string document =
      test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist.sig"));
  const std::string crclist =
      test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist"));
  std::vector<EcdsaPublicKey> keys;  // A signed the document, B did not
  for (const char* name : {"signing/key_a.pub", "signing/key_b.pub"}) {
    const std::string text = test::ReadFileBytes(test::TestDataPath(name));
    keys.push_back(ParsePublicKeyText(text.substr(0, text.find_first_of("\r\n"))).value());
  }
  std::string reason;
  const auto parsed = ParseReleaseDocument(document, reason);
  ASSERT_TRUE(parsed) << reason;
  const std::uint64_t serial = parsed->document.serial;
  // The verdict and "+" if the document was handed out (only an authentic one
  // may be); by default a second before expiry, for the signed crclist.
  const auto verify = [&](const std::string& bytes, std::vector<EcdsaPublicKey> trusted,
                          std::int64_t later = 0, const char* more = "", std::uint64_t min = 0) {
    ReleaseDocument handed;
    const ReleaseVerdict verdict = VerifyReleaseDocument(
        bytes, trusted, parsed->document.expires - 1 + later, crclist + more, min, &handed);
    return std::string(ReleaseVerdictText(verdict)) + (handed.serial == serial ? " +" : "");
  };
  // A hex digit changed: still well-formed, so only the signature can notice.
  const auto flipped = [&](size_t at) {
    std::string text = document;
    text[at] = "0123456789abcdef"[std::string_view("0123456789abcdef").find(text[at]) ^ 1];
    return text;
  };
  const EcdsaPublicKey& a = keys[0];
  const std::string bad_signature = "no trusted key verifies the release signature";
  EXPECT_EQ(verify(document, {a}, 0, "", serial), "release signature ok +");
  EXPECT_EQ(verify(document, {keys[1], a}), "release signature ok +");
  EXPECT_EQ(verify(document, {keys[1]}), bad_signature);
  EXPECT_EQ(verify(flipped(document.find("serial ") + 7), {a}), bad_signature);
  EXPECT_EQ(verify(flipped(document.size() - 2), {a}), bad_signature);
  EXPECT_EQ(verify(document, {a}, 0, "#\n"), "crclist does not match the signed release +");
  EXPECT_EQ(verify(document, {a}, 0, "", serial + 1),
            "release is older than one already accepted +");
  EXPECT_EQ(verify(document, {a}, 0, "#\n", serial + 1),
            "crclist does not match the signed release +");
  EXPECT_EQ(verify(document, {a}, 1, "", serial), "release signature expired +");
  EXPECT_EQ(verify("", {a}), "release document missing or malformed");
  EXPECT_EQ(verify(document.substr(0, document.size() - 1), {a}),
            "release document missing or malformed");
}

}  // namespace
}  // namespace emberfall

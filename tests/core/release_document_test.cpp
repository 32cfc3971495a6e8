#include "core/release_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/crypto.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// Known answers from FIPS 180-2, fed whole and in awkward slices so that the
// streaming path is what is checked.
TEST(Sha256Test, KnownAnswersWholeAndInSlices) {
  const std::string million(1000000, 'a');
  const struct {
    std::string input;
    std::string_view digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  Sha256 hasher;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 8));
    EXPECT_EQ(HexEncode(Sha256Of(c.input)), c.digest);
    for (size_t slice : {size_t{1}, size_t{63}, size_t{65537}}) {
      hasher.Reset();
      for (size_t at = 0; at < c.input.size(); at += slice) {
        hasher.Update(c.input.data() + at, std::min(slice, c.input.size() - at));
      }
      EXPECT_EQ(HexEncode(hasher.Final()), c.digest) << "slices of " << slice;
    }
  }
}

TEST(ReleaseTimeTest, UtcTimesBothWays) {
  const struct {
    std::string_view text;
    std::optional<std::int64_t> seconds;
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2000-02-29T12:34:56Z", 951827696},
      {"2027-01-06T00:00:00Z", 1799193600},
      {"9999-12-31T23:59:59Z", 253402300799},
      {"2001-02-29T00:00:00Z", std::nullopt},
      {"2100-02-29T00:00:00Z", std::nullopt},
      {"2027-13-01T00:00:00Z", std::nullopt},
      {"2027-04-31T00:00:00Z", std::nullopt},
      {"2027-01-06T24:00:00Z", std::nullopt},
      {"2027-01-06T00:60:00Z", std::nullopt},
      {"2027-01-06 00:00:00Z", std::nullopt},
      {"2027-01-06T00:00:00", std::nullopt},
      {"2027-01-06T00:00:00+00:00", std::nullopt},
      {"1969-12-31T23:59:59Z", std::nullopt},
      {"2O27-01-06T00:00:00Z", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseUtcTime(c.text), c.seconds);
    if (c.seconds) {
      EXPECT_EQ(FormatUtcTime(*c.seconds), c.text);
    }
  }
}

class ReleaseDocumentParseTest : public testing::Test {
 protected:
  ReleaseDocumentParseTest() {
    document_.serial = 12;
    document_.expires = 1799193600;
    document_.crclist_sha256 = Sha256Of("crclist");
    document_.files["data/Town Hall.pak"] = {Sha256Of("town"), 4};
    document_.files["emb.bin"] = {Sha256Of(""), 0};
    for (size_t i = 0; i < signature_.size(); ++i) signature_[i] = static_cast<std::uint8_t>(i * 7);
    body_ = FormatReleaseDocument(document_);
    text_ = body_ + FormatSignatureLine(signature_);
  }

  // The good document with the first |from| replaced by |to|.
  std::string Edited(std::string_view from, std::string_view to) const {
    std::string text = text_;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  }

  ReleaseDocument document_;
  EcdsaSignature signature_{};
  std::string body_;
  std::string text_;
};

TEST_F(ReleaseDocumentParseTest, RoundTripsWhatThePublisherFormats) {
  EXPECT_EQ(body_,
            "EMBSIG1\nserial 12\nexpires 2027-01-06T00:00:00Z\ncrclist " +
                HexEncode(Sha256Of("crclist")) + "\nfile " + HexEncode(Sha256Of("town")) +
                " 4 data/Town Hall.pak\nfile " + HexEncode(Sha256Of("")) + " 0 emb.bin\n");
  std::string reason;
  const std::optional<ParsedReleaseDocument> parsed = ParseReleaseDocument(text_, reason);
  ASSERT_TRUE(parsed) << reason;
  EXPECT_EQ(parsed->signed_length, body_.size());
  EXPECT_EQ(parsed->signature, signature_);
  EXPECT_EQ(parsed->document.serial, 12u);
  EXPECT_EQ(parsed->document.expires, 1799193600);
  EXPECT_EQ(parsed->document.crclist_sha256, document_.crclist_sha256);
  ASSERT_EQ(parsed->document.files.size(), 2u);
  EXPECT_EQ(parsed->document.files.at("data/Town Hall.pak").size, 4);
  EXPECT_EQ(parsed->document.files.at("data/Town Hall.pak").sha256, Sha256Of("town"));
  EXPECT_EQ(FormatReleaseDocument(parsed->document), body_);

  document_.files.clear();  // a release without files is well-formed
  const std::string empty = FormatReleaseDocument(document_) + FormatSignatureLine(signature_);
  EXPECT_TRUE(ParseReleaseDocument(empty, reason)) << reason;
}

TEST_F(ReleaseDocumentParseTest, RefusesEveryMalformedForm) {
  const std::string town = HexEncode(Sha256Of("town"));
  const std::string sig = HexEncode(signature_);
  const std::string upper_sig = [&] {
    std::string s = sig;
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }();
  const struct {
    std::string name;
    std::string text;
    std::string reason;
  } cases[] = {
      {"empty", "", "empty document"},
      {"too large", text_ + std::string(kReleaseDocumentLimit, '#'), "document larger than"},
      {"format tag", Edited("EMBSIG1", "EMBSIG2"), "line 1: not an EMBSIG1"},
      {"crlf", Edited("serial 12\n", "serial 12\r\n"), "line 2: CR in line"},
      {"no final lf", text_.substr(0, text_.size() - 1), "the last line has no LF"},
      {"no signature", body_, "no signature line"},
      {"serial zero", Edited("serial 12", "serial 0"), "line 2: expected \"serial N\""},
      {"serial leading zero", Edited("serial 12", "serial 012"), "line 2:"},
      {"serial sign", Edited("serial 12", "serial +12"), "line 2:"},
      {"serial overflow", Edited("serial 12", "serial 9223372036854775808"), "line 2:"},
      {"serial two spaces", Edited("serial 12", "serial  12"), "line 2:"},
      {"header order", Edited("serial 12\nexpires 2027-01-06T00:00:00Z",
                              "expires 2027-01-06T00:00:00Z\nserial 12"), "line 2:"},
      {"expiry form", Edited("2027-01-06T00:00:00Z", "1799193600"), "line 3: expected \"expires"},
      {"crclist short", Edited("crclist " + HexEncode(Sha256Of("crclist")), "crclist 00"), "line 4:"},
      {"file hash upper case", Edited(town, upper_sig.substr(0, 64)), "line 5: file hash"},
      {"file field missing", Edited(town + " 4 data/Town Hall.pak", town + " 4"), "line 5: expected \"file"},
      {"file size", Edited(" 4 data/", " -4 data/"), "line 5: file size"},
      {"file size leading zero", Edited(" 4 data/", " 04 data/"), "line 5: file size"},
      {"path trailing space", Edited("Town Hall.pak", "Town Hall.pak "), "line 5: invalid path"},
      {"path control byte", Edited("Town Hall.pak", "Town\tHall.pak"), "line 5: invalid path"},
      {"path too long", Edited("Town Hall.pak", std::string(kReleaseDocumentPathLimit, 'x')), "line 5: invalid path"},
      {"duplicate path", Edited("0 emb.bin", "4 data/Town Hall.pak"), "line 6: duplicate path"},
      {"paths out of order", Edited("0 emb.bin", "0 a.bin"), "line 6: paths out of order"},
      {"unknown line", Edited("file " + town, "note " + town), "line 5: expected a \"file\" or \"sig\""},
      {"signature short", Edited(sig, sig.substr(2)), "line 7: expected \"sig\""},
      {"signature upper case", Edited(sig, upper_sig), "line 7: expected \"sig\""},
      {"text after signature", text_ + "\n", "line 8: text after the signature"},
      {"second signature", text_ + FormatSignatureLine(signature_), "line 8: text after the signature"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string reason;
    EXPECT_FALSE(ParseReleaseDocument(c.text, reason));
    EXPECT_TRUE(reason.starts_with(c.reason)) << reason;
  }
}

// A release signed by OpenSSL on Linux (embpatch keygen and publish
// --sign-key, tests/data/signing), checked by the build's own verifier:
// BCrypt in the Windows build.
class ReleaseVerifyTest : public testing::Test {
 protected:
  void SetUp() override {
    document_ = test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist.sig"));
    crclist_ = test::ReadFileBytes(test::TestDataPath("signing/www/patch/1.0/crclist"));
    for (const char* name : {"signing/key_a.pub", "signing/key_b.pub"}) {
      std::string text = test::ReadFileBytes(test::TestDataPath(name));
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      const std::optional<EcdsaPublicKey> key = ParsePublicKeyText(text);
      ASSERT_TRUE(key) << name;
      keys_.push_back(*key);
    }
    std::string reason;
    const auto parsed = ParseReleaseDocument(document_, reason);
    ASSERT_TRUE(parsed) << reason;
    release_ = parsed->document;
  }

  // |document_| with the low bit of the hex digit at |at| flipped: still
  // well-formed, so only the signature can notice.
  std::string FlipHexDigit(size_t at) const {
    std::string text = document_;
    const char digits[] = "0123456789abcdef";
    const size_t value = std::string_view(digits).find(text[at]);
    EXPECT_NE(value, std::string_view::npos);
    text[at] = digits[value ^ 1];
    return text;
  }

  std::string document_;
  std::string crclist_;
  std::vector<EcdsaPublicKey> keys_;  // A signed the document, B did not
  ReleaseDocument release_;
};

TEST_F(ReleaseVerifyTest, VerdictsForEveryFault) {
  const EcdsaPublicKey& a = keys_[0];
  const EcdsaPublicKey& b = keys_[1];
  const std::int64_t before_expiry = release_.expires - 1;
  const std::uint64_t serial = release_.serial;
  const size_t serial_digit = document_.find("serial ") + 7;
  const size_t signature_digit = document_.size() - 2;
  const struct {
    std::string name;
    std::string document;
    std::vector<EcdsaPublicKey> keys;
    std::int64_t now;
    std::string crclist;
    std::uint64_t min_serial;
    ReleaseVerdict verdict;
  } cases[] = {
      {"good", document_, {a}, before_expiry, crclist_, serial, ReleaseVerdict::kOk},
      {"second pinned key verifies", document_, {b, a}, before_expiry, crclist_, 0, ReleaseVerdict::kOk},
      {"other key", document_, {b}, before_expiry, crclist_, 0, ReleaseVerdict::kBadSignature},
      {"no key", document_, {}, before_expiry, crclist_, 0, ReleaseVerdict::kBadSignature},
      {"bit flipped in body", FlipHexDigit(serial_digit), {a}, before_expiry, crclist_, 0,
       ReleaseVerdict::kBadSignature},
      {"bit flipped in signature", FlipHexDigit(signature_digit), {a}, before_expiry, crclist_, 0,
       ReleaseVerdict::kBadSignature},
      {"crclist edited", document_, {a}, before_expiry, crclist_ + "# more\n", 0,
       ReleaseVerdict::kCrcListMismatch},
      {"rolled back", document_, {a}, before_expiry, crclist_, serial + 1, ReleaseVerdict::kRolledBack},
      {"rolled back, crclist edited too", document_, {a}, before_expiry, crclist_ + "#\n", serial + 1,
       ReleaseVerdict::kCrcListMismatch},
      {"expired", document_, {a}, release_.expires, crclist_, serial, ReleaseVerdict::kExpired},
      {"missing", "", {a}, before_expiry, crclist_, 0, ReleaseVerdict::kMalformed},
      {"truncated", document_.substr(0, document_.size() - 1), {a}, before_expiry, crclist_, 0,
       ReleaseVerdict::kMalformed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReleaseDocument document;
    EXPECT_EQ(VerifyReleaseDocument(c.document, c.keys, c.now, c.crclist, c.min_serial, &document),
              c.verdict);
    // Only an authentic document is handed out.
    const bool authentic = c.verdict != ReleaseVerdict::kBadSignature && c.verdict != ReleaseVerdict::kMalformed;
    EXPECT_EQ(document.serial, authentic ? serial : 0u);
    EXPECT_EQ(document.files.empty(), !authentic);
  }
}

TEST(PublicKeyTextTest, OneSpellingOnly) {
  EcdsaPublicKey key{};
  key[0] = 0x04;
  key[64] = 0xAB;
  const std::string text = FormatPublicKeyText(key);
  EXPECT_EQ(text.size(), 130u);
  EXPECT_EQ(ParsePublicKeyText(text), key);
  std::string upper = text;
  upper[128] = 'A';
  std::string compressed = text;
  compressed[1] = '2';
  for (const std::string& bad : {upper, compressed, text.substr(2), text + "0", std::string()}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParsePublicKeyText(bad));
  }
}

}  // namespace
}  // namespace emberfall

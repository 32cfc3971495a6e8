#include "core/crypto.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace emberfall {
namespace {

EcdsaSignature WithS(const std::string& s_hex) {
  EcdsaSignature signature{};
  signature[0] = 1;  // r: any
  EXPECT_TRUE(HexDecode(s_hex, signature.data() + 32, 32)) << s_hex;
  return signature;
}

TEST(Sha256Test, KnownAnswersAcrossUpdatesAndNoDigestFromASpentObject) {
  EXPECT_EQ(HexEncode(Sha256Of("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(HexEncode(Sha256Of("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  Sha256 hasher;
  const std::string a(1000, 'a');
  for (int i = 0; i < 1000; ++i) hasher.Update(a.data(), i == 0 ? 0 : a.size());
  hasher.Update(a.data(), a.size());
  EXPECT_EQ(HexEncode(hasher.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_THROW(hasher.Final(), std::runtime_error);
  EXPECT_THROW(hasher.Update("x", 1), std::runtime_error);
  hasher.Reset();
  hasher.Update("abc", 3);
  EXPECT_EQ(Sha256Of("abc"), hasher.Final());
}

// n/2 = 7fffffff800000007fffffffffffffffde737d56d38bcf4279dce5617e3192a8.
TEST(EcdsaFormTest, OnlySUpToHalfTheOrderIsLowAndTheTwinIsNMinusS) {
  const struct {
    const char* s;
    bool low;
    const char* twin;
  } cases[] = {
      {"0000000000000000000000000000000000000000000000000000000000000001", true,
       "ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632550"},
      {"7fffffff800000007fffffffffffffffde737d56d38bcf4279dce5617e3192a8", true,
       "7fffffff800000007fffffffffffffffde737d56d38bcf4279dce5617e3192a9"},
      {"7fffffff800000007fffffffffffffffde737d56d38bcf4279dce5617e3192a9", false,
       "7fffffff800000007fffffffffffffffde737d56d38bcf4279dce5617e3192a8"},
      {"ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632550", false,
       "0000000000000000000000000000000000000000000000000000000000000001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s);
    const EcdsaSignature signature = WithS(c.s);
    EXPECT_EQ(IsLowS(signature), c.low);
    EXPECT_EQ(EcdsaTwin(signature), WithS(c.twin));
  }
}

}  // namespace
}  // namespace emberfall

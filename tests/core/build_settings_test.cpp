#include "core/build_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"

namespace emberfall {
namespace {

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

}  // namespace
}  // namespace emberfall

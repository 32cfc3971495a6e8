// On POSIX the user's UI language comes from the locale environment.
#include <gtest/gtest.h>

#include "app/localization.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(UserInterfaceLanguagePosixTest, FollowsTheLocaleEnvironment) {
  const struct {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    Language expected;
  } cases[] = {
      {"de_DE.UTF-8", nullptr, nullptr, Language::German},
      {"de_CH", nullptr, "tr_TR", Language::German},
      {nullptr, nullptr, "tr_TR.UTF-8", Language::Turkish},
      {"", "tr", "de_DE", Language::Turkish},
      {nullptr, "", "de", Language::German},
      {"fr_FR.UTF-8", nullptr, "de_DE", Language::English},
      {"C", nullptr, "de_DE", Language::English},
      {nullptr, nullptr, nullptr, Language::English},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << &c - cases);
    auto value = [](const char* v) { return v ? std::optional<std::string>(v) : std::nullopt; };
    const test::ScopedEnvironmentVariable all("LC_ALL", value(c.lc_all));
    const test::ScopedEnvironmentVariable messages("LC_MESSAGES", value(c.lc_messages));
    const test::ScopedEnvironmentVariable lang("LANG", value(c.lang));
    EXPECT_EQ(UserInterfaceLanguage(), c.expected);
  }
}

}  // namespace
}  // namespace emberfall

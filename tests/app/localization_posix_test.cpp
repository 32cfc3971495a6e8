// On POSIX the user's UI language comes from the locale environment.
#include <gtest/gtest.h>

#include "app/localization.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(UserInterfaceLanguagePosixTest, FollowsTheLocaleEnvironment) {
  struct Case {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    Language expected;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", nullptr, nullptr, Language::German},
      {"de_CH", nullptr, "tr_TR", Language::German},
      {nullptr, nullptr, "tr_TR.UTF-8", Language::Turkish},
      {"", "tr", "de_DE", Language::Turkish},
      {nullptr, "", "de", Language::German},
      {"fr_FR.UTF-8", nullptr, "de_DE", Language::English},
      {"C", nullptr, "de_DE", Language::English},
      {nullptr, nullptr, nullptr, Language::English},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.lc_all ? c.lc_all : "-") << " "
                                    << (c.lc_messages ? c.lc_messages : "-") << " "
                                    << (c.lang ? c.lang : "-"));
    auto value = [](const char* v) { return v ? std::optional<std::string>(v) : std::nullopt; };
    test::ScopedEnvironmentVariable all("LC_ALL", value(c.lc_all));
    test::ScopedEnvironmentVariable messages("LC_MESSAGES", value(c.lc_messages));
    test::ScopedEnvironmentVariable lang("LANG", value(c.lang));
    EXPECT_EQ(UserInterfaceLanguage(), c.expected);
  }
}

TEST(UserInterfaceLanguagePosixTest, DecidesWhenLocaleCfgDoesNot) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "locale.cfg", "a b xx\n");
  test::ScopedEnvironmentVariable all("LC_ALL", "tr_TR.UTF-8");
  EXPECT_EQ(DetectLanguage(dir.Wide("locale.cfg")), Language::Turkish);
  test::ScopedEnvironmentVariable all_de("LC_ALL", "de_AT.UTF-8");
  EXPECT_EQ(DetectLanguage(dir.Wide("locale.cfg")), Language::German);
}

}  // namespace
}  // namespace emberfall

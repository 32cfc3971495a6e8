#include "app/elevation.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace emberfall {
namespace {

TEST(ElevationTextsTest, OnlyThePrimaryLanguageCounts) {
  struct Case {
    const char* name;
    std::uint16_t language;
    const char16_t* cancelled;
  } cases[] = {
      {"Turkish (primary id)", 0x1F, u"Oyun ba\u015flatma iptal edildi (y\u00f6netici izni verilmedi)."},
      {"Turkish (Turkey)", 0x041F, u"Oyun ba\u015flatma iptal edildi (y\u00f6netici izni verilmedi)."},
      {"German (Switzerland)", 0x0807, u"Spielstart abgebrochen (Administratorrechte nicht erteilt)."},
      {"French", 0x040C, u"Game launch cancelled (administrator permission was not granted)."},
      {"neutral", 0, u"Game launch cancelled (administrator permission was not granted)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LaunchCancelledText(c.language), c.cancelled);
  }
}

// The wording itself is the translators'; what the code decides is which
// language each text comes in.
TEST(ElevationTextsTest, EveryTextFollowsThePrimaryLanguage) {
  std::u16string (*const texts[])(std::uint16_t) = {AdminRequiredText, LaunchCancelledText,
                                                    ElevationRequiredText};
  for (std::size_t t = 0; t < std::size(texts); ++t) {
    SCOPED_TRACE(t);
    const std::u16string en = texts[t](0x09), de = texts[t](0x07), tr = texts[t](0x1F);
    EXPECT_FALSE(en.empty());
    EXPECT_NE(en, de);
    EXPECT_NE(en, tr);
    EXPECT_NE(de, tr);
    EXPECT_EQ(texts[t](0x0C), en);
    EXPECT_EQ(texts[t](0x0407), de);
  }
}

TEST(ElevationStepTest, ARelaunchedCopyNeverRelaunchesAgain) {
  struct Case {
    const char* name;
    bool elevated;
    bool relaunchedCopy;
    ElevationStep step;
  } cases[] = {
      {"elevated", true, false, ElevationStep::kRun},
      {"elevated copy", true, true, ElevationStep::kRun},
      {"not elevated", false, false, ElevationStep::kRelaunch},
      {"copy still not elevated", false, true, ElevationStep::kGiveUp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecideElevationStep(c.elevated, c.relaunchedCopy), c.step);
  }
}

}  // namespace
}  // namespace emberfall

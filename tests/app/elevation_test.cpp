#include "app/elevation.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

// Only the primary language (the low ten bits) picks the texts.
TEST(ElevationTextsTest, EveryTextFollowsThePrimaryLanguage) {
  const struct {
    std::uint16_t language;
    std::uint16_t primary;
    const char16_t* cancelled;
  } cases[] = {
      {0x041F, 0x1F, u"Oyun ba\u015flatma iptal edildi (y\u00f6netici izni verilmedi)."},
      {0x0807, 0x07, u"Spielstart abgebrochen (Administratorrechte nicht erteilt)."},
      {0x040C, 0x09, u"Game launch cancelled (administrator permission was not granted)."},
      {0, 0x09, u"Game launch cancelled (administrator permission was not granted)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    EXPECT_EQ(LaunchCancelledText(c.language), c.cancelled);
    EXPECT_EQ(AdminRequiredText(c.language), AdminRequiredText(c.primary));
    EXPECT_EQ(ElevationRequiredText(c.language), ElevationRequiredText(c.primary));
  }
  std::u16string (*const texts[])(std::uint16_t) = {AdminRequiredText, ElevationRequiredText};
  for (auto text : texts) {
    EXPECT_NE(text(0x09), text(0x07));
    EXPECT_NE(text(0x09), text(0x1F));
    EXPECT_NE(text(0x07), text(0x1F));
  }
}

// A copy that is still not elevated gives up rather than relaunching again.
TEST(ElevationStepTest, ARelaunchedCopyNeverRelaunchesAgain) {
  EXPECT_EQ(DecideElevationStep(true, false), ElevationStep::kRun);
  EXPECT_EQ(DecideElevationStep(true, true), ElevationStep::kRun);
  EXPECT_EQ(DecideElevationStep(false, false), ElevationStep::kRelaunch);
  EXPECT_EQ(DecideElevationStep(false, true), ElevationStep::kGiveUp);
}

}  // namespace
}  // namespace emberfall

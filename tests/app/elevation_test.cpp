#include "app/elevation.h"

#include <gtest/gtest.h>

#include <string>

namespace emberfall {
namespace {

// Only the primary language (the low ten bits) picks the texts.
TEST(ElevationTextsTest, EveryTextFollowsThePrimaryLanguage) {
  std::u16string (*const texts[])(std::uint16_t) = {AdminRequiredText, LaunchCancelledText,
                                                    ElevationRequiredText};
  for (auto text : texts) {
    EXPECT_EQ(text(0x041F), text(0x1F));  // Turkish (Turkey)
    EXPECT_EQ(text(0x0807), text(0x07));  // German (Switzerland)
    EXPECT_EQ(text(0x040C), text(0x09));  // French: English
    EXPECT_EQ(text(0), text(0x09));
    EXPECT_NE(text(0x09), text(0x07));
    EXPECT_NE(text(0x09), text(0x1F));
    EXPECT_NE(text(0x07), text(0x1F));
  }
  EXPECT_TRUE(LaunchCancelledText(0x1F).starts_with(u"Oyun ba\u015flatma iptal"));
  EXPECT_TRUE(LaunchCancelledText(0x07).starts_with(u"Spielstart abgebrochen"));
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

#include "app/elevation.h"

#include <gtest/gtest.h>

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

TEST(ElevationTextsTest, AllThreeTextsInEachLanguage) {
  EXPECT_EQ(AdminRequiredText(0x09),
            u"The launcher requires administrator permission.\n\n"
            u"Click Yes in the Windows UAC prompt when starting.");
  EXPECT_EQ(ElevationRequiredText(0x09),
            u"Administrator permission is required to start the game.\n\n"
            u"Click Yes in the Windows UAC prompt.");
  EXPECT_EQ(AdminRequiredText(0x07),
            u"Der Launcher ben\u00f6tigt Administratorrechte.\n\nKlicken Sie in der UAC-Abfrage auf Ja.");
  EXPECT_EQ(ElevationRequiredText(0x07),
            u"Zum Starten des Spiels sind Administratorrechte erforderlich.\n\n"
            u"Klicken Sie in der UAC-Abfrage auf Ja.");
  EXPECT_EQ(AdminRequiredText(0x1F),
            u"Launcher y\u00f6netici izni olmadan \u00e7al\u0131\u015famaz.\n\n"
            u"Ba\u015flat\u0131rken Windows uyar\u0131s\u0131nda Evet'e t\u0131klay\u0131n.");
  EXPECT_EQ(ElevationRequiredText(0x1F),
            u"Oyunu ba\u015flatmak i\u00e7in y\u00f6netici izni gerekir.\n\n"
            u"Windows izin penceresinde Evet'e t\u0131klay\u0131n.");
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

#include "app/elevation.h"

#include "app/localization.h"

namespace emberfall {
namespace {

constexpr std::uint16_t kLangGerman = 0x07;
constexpr std::uint16_t kLangTurkish = 0x1F;

struct Texts {
  const char16_t* english;
  const char16_t* german;
  const char16_t* turkish;
};

std::u16string Pick(const Texts& texts, std::uint16_t primaryLanguage) {
  switch (primaryLanguage & 0x3FF) {
    case kLangTurkish:
      return texts.turkish;
    case kLangGerman:
      return texts.german;
    default:
      return texts.english;
  }
}

constexpr Texts kAdminRequired = {
    u"The launcher requires administrator permission.\n\n"
    u"Click Yes in the Windows UAC prompt when starting.",
    u"Der Launcher ben\u00f6tigt Administratorrechte.\n\n"
    u"Klicken Sie in der UAC-Abfrage auf Ja.",
    u"Launcher y\u00f6netici izni olmadan \u00e7al\u0131\u015famaz.\n\n"
    u"Ba\u015flat\u0131rken Windows uyar\u0131s\u0131nda Evet'e t\u0131klay\u0131n.",
};

constexpr Texts kLaunchCancelled = {
    u"Game launch cancelled (administrator permission was not granted).",
    u"Spielstart abgebrochen (Administratorrechte nicht erteilt).",
    u"Oyun ba\u015flatma iptal edildi (y\u00f6netici izni verilmedi).",
};

constexpr Texts kElevationRequired = {
    u"Administrator permission is required to start the game.\n\n"
    u"Click Yes in the Windows UAC prompt.",
    u"Zum Starten des Spiels sind Administratorrechte erforderlich.\n\n"
    u"Klicken Sie in der UAC-Abfrage auf Ja.",
    u"Oyunu ba\u015flatmak i\u00e7in y\u00f6netici izni gerekir.\n\n"
    u"Windows izin penceresinde Evet'e t\u0131klay\u0131n.",
};

}  // namespace

ElevationStep DecideElevationStep(bool elevated, bool relaunchedCopy) {
  if (elevated) return ElevationStep::kRun;
  return relaunchedCopy ? ElevationStep::kGiveUp : ElevationStep::kRelaunch;
}

std::u16string AdminRequiredText(std::uint16_t primaryLanguage) {
  return Pick(kAdminRequired, primaryLanguage);
}
std::u16string LaunchCancelledText(std::uint16_t primaryLanguage) {
  return Pick(kLaunchCancelled, primaryLanguage);
}
std::u16string ElevationRequiredText(std::uint16_t primaryLanguage) {
  return Pick(kElevationRequired, primaryLanguage);
}

std::u16string AdminRequiredText() { return AdminRequiredText(UserUiPrimaryLanguage()); }
std::u16string LaunchCancelledText() { return LaunchCancelledText(UserUiPrimaryLanguage()); }
std::u16string ElevationRequiredText() { return ElevationRequiredText(UserUiPrimaryLanguage()); }

}  // namespace emberfall

// The launcher's languages: which one a player gets (locale.cfg, else the
// user's interface language) and the tables of its 41 texts in each.
#ifndef EMBERFALL_APP_LOCALIZATION_H_
#define EMBERFALL_APP_LOCALIZATION_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ui_strings.h"

namespace emberfall {

enum class Language : std::uint32_t {
  Turkish = 0,
  English = 1,
  German = 2,
};

// The paths of the given module (nullptr: the running executable). An
// unreadable module path gives empty paths.
LauncherPaths GetLauncherPaths(void* module = nullptr);

// The locale.cfg to read: the first of gameFolder\lib\dev, gameFolder\lib and
// gameFolder that holds an entry of that name (file or not), else the first.
std::u16string FindLocaleConfig(const LauncherPaths& paths);

// The language named by the third token of the first non-comment line of
// |localeConfigPath| ("de", "en", "tr"), else the user's UI language.
// Never fails.
Language DetectLanguage(const std::u16string& localeConfigPath);

// The language the user's interface language selects: German, Turkish, or
// English for everything else.
Language UserInterfaceLanguage();

// The primary language identifier of the user's UI language (the low ten
// bits of GetUserDefaultUILanguage; on POSIX derived from LC_ALL,
// LC_MESSAGES, LANG).
std::uint16_t UserUiPrimaryLanguage();

// The texts of |language|; values other than English and German give Turkish.
UiStrings LoadUiStrings(Language language);

}  // namespace emberfall

#endif  // EMBERFALL_APP_LOCALIZATION_H_

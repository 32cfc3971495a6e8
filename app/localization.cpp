#include "app/localization.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/fs_path.h"
#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::uint16_t kLangGerman = 0x07;
constexpr std::uint16_t kLangTurkish = 0x1F;

constexpr const char16_t* kEnglish[kUiStringCount] = {
    u"START GAME",  // StartGame
    u"START GAME (%d)",  // StartGameCount
    u"CHECKING...",  // Checking
    u"DOWNLOADING...",  // Downloading
    u"UNPACKING...",  // Unpacking
    u"READY TO PLAY",  // ReadyToPlay
    u"Up to date",  // UpToDate
    u"Website",  // Website
    u"Support",  // Support
    u"Discord",  // Discord
    u"%d files updated",  // FilesUpdated
    u"Verifying files %d / %d",  // VerifyingFiles
    u"Update Error",  // UpdateErrorTitle
    u"If the problem persists, visit our support page.",  // UpdateErrorHint
    u"Could not connect to the patch server. Check your internet connection.",  // ErrorConnect
    u"The update list could not be downloaded. Please try again.",  // ErrorListDownload
    u"The update list is invalid. Please contact support.",  // ErrorListInvalid
    u"The update list is empty. Please contact support.",  // ErrorListEmpty
    u"Patch configuration is incomplete. Please contact support.",  // ErrorConfigIncomplete
    u"A file could not be downloaded. Check your connection and try again.",  // ErrorFileDownload
    u"A downloaded file is corrupted or incomplete.",  // ErrorFileCorrupt
    u"Files could not be saved. Check disk space or write permissions.",  // ErrorFileSave
    u"A patch file could not be unpacked. Please try again.",  // ErrorUnpack
    u"Some game files are in use. Close the game and try again.",  // ErrorFilesInUse
    u"An unknown update error occurred.",  // ErrorUnknown
    u"Entry file was not found. Please complete the update first.",  // LaunchEntryMissing
    u"The game could not be started. Please try again.",  // LaunchFailed
    u"Launch Error",  // LaunchErrorTitle
    u"The update could not be verified as genuine. Please contact support.",  // ErrorReleaseUntrusted
    u"The update has expired. Check your computer's date and time, or contact support.",  // ErrorReleaseExpired
    u"The server offered an older update than this game already has. Please try again later.",  // ErrorReleaseRolledBack
    u"A downloaded file does not match the signed update. Please try again.",  // ErrorFileNotSigned
    u"Preparing downloads %d / %d",  // PreparingDownloads
    u"%d file updated",  // FileUpdated
    u"A folder in the game folder is a link to another place. Replace it with a real folder.",  // ErrorLinkInGameFolder
    u"The update is meant for another game or channel. Please contact support.",  // ErrorReleaseWrongChannel
    u"The record of installed updates is damaged. Please contact support.",  // ErrorReleaseStateDamaged
    u"Not enough disk space: %s needed, %s free. Free up space and try again.",  // ErrorDiskSpace
    u"Downloaded %s",  // DownloadedSummary
    u"%s reused from your files",  // ReusedSummary
    u"%s resumed",  // ResumedSummary
};

constexpr const char16_t* kGerman[kUiStringCount] = {
    u"SPIEL STARTEN",  // StartGame
    u"SPIEL STARTEN (%d)",  // StartGameCount
    u"PR\u00DCFUNG...",  // Checking
    u"DOWNLOAD...",  // Downloading
    u"ENTPACKEN...",  // Unpacking
    u"BEREIT ZUM SPIELEN",  // ReadyToPlay
    u"Aktuell",  // UpToDate
    u"Webseite",  // Website
    u"Support",  // Support
    u"Discord",  // Discord
    u"%d Dateien aktualisiert",  // FilesUpdated
    u"Dateien werden gepr\u00FCft %d / %d",  // VerifyingFiles
    u"Aktualisierungsfehler",  // UpdateErrorTitle
    u"Wenn das Problem weiterhin besteht, besuche unsere Support-Seite.",  // UpdateErrorHint
    u"Verbindung zum Patch-Server fehlgeschlagen. Bitte Internetverbindung pr\u00FCfen.",  // ErrorConnect
    u"Die Aktualisierungsliste konnte nicht heruntergeladen werden.",  // ErrorListDownload
    u"Die Aktualisierungsliste ist ung\u00FCltig. Bitte Support kontaktieren.",  // ErrorListInvalid
    u"Die Aktualisierungsliste ist leer. Bitte Support kontaktieren.",  // ErrorListEmpty
    u"Patch-Konfiguration ist unvollst\u00E4ndig. Bitte Support kontaktieren.",  // ErrorConfigIncomplete
    u"Eine Datei konnte nicht heruntergeladen werden. Verbindung pr\u00FCfen und erneut versuchen.",  // ErrorFileDownload
    u"Heruntergeladene Datei ist besch\u00E4digt oder unvollst\u00E4ndig.",  // ErrorFileCorrupt
    u"Dateien konnten nicht gespeichert werden. Speicherplatz oder Schreibrechte pr\u00FCfen.",  // ErrorFileSave
    u"Patch-Datei konnte nicht entpackt werden. Bitte erneut versuchen.",  // ErrorUnpack
    u"Einige Spieldateien werden gerade verwendet. Bitte das Spiel schlie\u00DFen und erneut versuchen.",  // ErrorFilesInUse
    u"Ein unbekannter Aktualisierungsfehler ist aufgetreten.",  // ErrorUnknown
    u"Startdatei wurde nicht gefunden. Bitte zuerst aktualisieren.",  // LaunchEntryMissing
    u"Das Spiel konnte nicht gestartet werden. Bitte erneut versuchen.",  // LaunchFailed
    u"Startfehler",  // LaunchErrorTitle
    u"Die Aktualisierung konnte nicht als echt best\u00E4tigt werden. Bitte Support kontaktieren.",  // ErrorReleaseUntrusted
    u"Die Aktualisierung ist abgelaufen. Bitte Datum und Uhrzeit des Computers pr\u00FCfen oder Support kontaktieren.",  // ErrorReleaseExpired
    u"Der Server bietet eine \u00E4ltere Aktualisierung an, als bereits installiert ist. Bitte sp\u00E4ter erneut versuchen.",  // ErrorReleaseRolledBack
    u"Eine heruntergeladene Datei stimmt nicht mit der signierten Aktualisierung \u00FCberein. Bitte erneut versuchen.",  // ErrorFileNotSigned
    u"Downloads werden vorbereitet %d / %d",  // PreparingDownloads
    u"%d Datei aktualisiert",  // FileUpdated
    u"Ein Ordner im Spielordner verweist an einen anderen Ort. Bitte durch einen echten Ordner ersetzen.",  // ErrorLinkInGameFolder
    u"Die Aktualisierung ist f\u00FCr ein anderes Spiel oder einen anderen Kanal. Bitte Support kontaktieren.",  // ErrorReleaseWrongChannel
    u"Der Eintrag der installierten Aktualisierungen ist besch\u00E4digt. Bitte Support kontaktieren.",  // ErrorReleaseStateDamaged
    u"Nicht genug Speicherplatz: %s ben\u00F6tigt, %s frei. Bitte Platz schaffen und erneut versuchen.",  // ErrorDiskSpace
    u"%s heruntergeladen",  // DownloadedSummary
    u"%s aus deinen Dateien \u00FCbernommen",  // ReusedSummary
    u"%s fortgesetzt",  // ResumedSummary
};

constexpr const char16_t* kTurkish[kUiStringCount] = {
    u"OYUNU BA\u015ELAT",  // StartGame
    u"OYUNU BA\u015ELAT (%d)",  // StartGameCount
    u"KONTROL ED\u0130L\u0130YOR...",  // Checking
    u"\u0130ND\u0130R\u0130L\u0130YOR...",  // Downloading
    u"A\u00C7ILIYOR...",  // Unpacking
    u"OYNAMAYA HAZIR",  // ReadyToPlay
    u"G\u00FCncel",  // UpToDate
    u"Web Sitesi",  // Website
    u"Destek",  // Support
    u"Discord",  // Discord
    u"%d dosya g\u00FCncellendi",  // FilesUpdated
    u"Dosyalar do\u011Frulan\u0131yor %d / %d",  // VerifyingFiles
    u"G\u00FCncelleme Hatas\u0131",  // UpdateErrorTitle
    u"Sorun devam ederse destek sayfam\u0131z\u0131 ziyaret edin.",  // UpdateErrorHint
    u"Patch sunucusuna ba\u011Flan\u0131lamad\u0131. \u0130nternet ba\u011Flant\u0131n\u0131z\u0131 kontrol edin.",  // ErrorConnect
    u"G\u00FCncelleme listesi indirilemedi. L\u00FCtfen tekrar deneyin.",  // ErrorListDownload
    u"G\u00FCncelleme listesi ge\u00E7ersiz. Destek ile ileti\u015Fime ge\u00E7in.",  // ErrorListInvalid
    u"G\u00FCncelleme listesi bo\u015F. Destek ile ileti\u015Fime ge\u00E7in.",  // ErrorListEmpty
    u"Patch yap\u0131land\u0131rmas\u0131 eksik. Destek ile ileti\u015Fime ge\u00E7in.",  // ErrorConfigIncomplete
    u"Bir dosya indirilemedi. Ba\u011Flant\u0131n\u0131z\u0131 kontrol edip tekrar deneyin.",  // ErrorFileDownload
    u"\u0130ndirilen dosya bozuk veya eksik.",  // ErrorFileCorrupt
    u"Dosyalar diske yaz\u0131lamad\u0131. Disk alan\u0131n\u0131 veya yazma izinlerini kontrol edin.",  // ErrorFileSave
    u"Patch dosyas\u0131 a\u00E7\u0131lamad\u0131. L\u00FCtfen tekrar deneyin.",  // ErrorUnpack
    u"Baz\u0131 oyun dosyalar\u0131 kullan\u0131mda. Oyunu kapat\u0131p tekrar deneyin.",  // ErrorFilesInUse
    u"Bilinmeyen bir g\u00FCncelleme hatas\u0131 olu\u015Ftu.",  // ErrorUnknown
    u"Giri\u015F dosyas\u0131 bulunamad\u0131. \u00D6nce g\u00FCncellemeyi tamamlay\u0131n.",  // LaunchEntryMissing
    u"Oyun ba\u015Flat\u0131lamad\u0131. L\u00FCtfen tekrar deneyin.",  // LaunchFailed
    u"Ba\u015Flatma Hatas\u0131",  // LaunchErrorTitle
    u"G\u00FCncellemenin orijinal oldu\u011Fu do\u011Frulanamad\u0131. Destek ile ileti\u015Fime ge\u00E7in.",  // ErrorReleaseUntrusted
    u"G\u00FCncellemenin s\u00FCresi dolmu\u015F. Bilgisayar\u0131n\u0131z\u0131n tarih ve saatini kontrol edin veya destek ile ileti\u015Fime ge\u00E7in.",  // ErrorReleaseExpired
    u"Sunucu, y\u00FCkl\u00FC olandan daha eski bir g\u00FCncelleme sundu. L\u00FCtfen daha sonra tekrar deneyin.",  // ErrorReleaseRolledBack
    u"\u0130ndirilen bir dosya imzal\u0131 g\u00FCncellemeyle e\u015Fle\u015Fmiyor. L\u00FCtfen tekrar deneyin.",  // ErrorFileNotSigned
    u"\u0130ndirmeler haz\u0131rlan\u0131yor %d / %d",  // PreparingDownloads
    // A Turkish noun after a number stays singular: one text for every count.
    u"%d dosya g\u00FCncellendi",  // FileUpdated
    u"Oyun klas\u00F6r\u00FCndeki bir klas\u00F6r ba\u015Fka bir yere ba\u011Flant\u0131. Ger\u00E7ek bir klas\u00F6rle de\u011Fi\u015Ftirin.",  // ErrorLinkInGameFolder
    u"G\u00FCncelleme ba\u015Fka bir oyun veya kanal i\u00E7in. Destek ile ileti\u015Fime ge\u00E7in.",  // ErrorReleaseWrongChannel
    u"Y\u00FCkl\u00FC g\u00FCncellemelerin kayd\u0131 bozuk. Destek ile ileti\u015Fime ge\u00E7in.",  // ErrorReleaseStateDamaged
    u"Yetersiz disk alan\u0131: %s gerekli, %s bo\u015F. Yer a\u00E7\u0131p tekrar deneyin.",  // ErrorDiskSpace
    u"%s indirildi",  // DownloadedSummary
    u"%s mevcut dosyalar\u0131n\u0131zdan kullan\u0131ld\u0131",  // ReusedSummary
    u"%s kald\u0131\u011F\u0131 yerden s\u00FCrd\u00FCr\u00FCld\u00FC",  // ResumedSummary
};

}  // namespace

std::u16string FindLocaleConfig(const LauncherPaths& paths) {
  const std::filesystem::path folder = FsPath(paths.gameFolder);
  const std::filesystem::path candidates[] = {
      folder / "lib" / "dev" / "locale.cfg",
      folder / "lib" / "locale.cfg",
      folder / "locale.cfg",
  };
  for (const std::filesystem::path& candidate : candidates) {
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(candidate, ec)) && !ec) {
      return WidePath(candidate);
    }
  }
  return WidePath(candidates[0]);
}

Language DetectLanguage(const std::u16string& localeConfigPath) {
  std::ifstream in(FsPath(localeConfigPath));
  std::string line;
  bool found = false;
  while (in && std::getline(in, line)) {
    // Text mode on Windows turns CRLF into LF; do the same everywhere.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') {
      found = true;
      break;
    }
  }
  if (found) {
    std::istringstream tokens(line);
    std::string first, second, third;
    tokens >> first >> second >> third;
    if (third == "de") return Language::German;
    if (third == "en") return Language::English;
    if (third == "tr") return Language::Turkish;
  }
  return UserInterfaceLanguage();
}

Language UserInterfaceLanguage() {
  switch (UserUiPrimaryLanguage()) {
    case kLangGerman:
      return Language::German;
    case kLangTurkish:
      return Language::Turkish;
    default:
      return Language::English;
  }
}

UiStrings LoadUiStrings(Language language) {
  const char16_t* const* table = kTurkish;
  if (language == Language::English) table = kEnglish;
  if (language == Language::German) table = kGerman;
  UiStrings strings;
  for (std::size_t slot = 0; slot < kUiStringCount; ++slot) UiStringSlot(strings, slot) = table[slot];
  return strings;
}

}  // namespace emberfall

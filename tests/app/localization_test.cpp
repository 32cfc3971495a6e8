#include "app/localization.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/fs_path.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

struct TableRow {
  std::string key;
  std::string texts[3];  // English, German, Turkish
};

std::vector<TableRow> ReadTable() {
  std::ifstream in(test::TestDataPath("ui_strings.tsv"), std::ios::binary);
  std::vector<TableRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream fields(line);
    std::string cell;
    while (std::getline(fields, cell, '\t')) cells.push_back(cell);
    if (cells.size() != 5) {
      ADD_FAILURE() << "bad row: " << line;
      continue;
    }
    EXPECT_EQ(std::stoul(cells[0]), rows.size());
    rows.push_back({cells[1], {cells[2], cells[3], cells[4]}});
  }
  return rows;
}

TEST(LoadUiStringsTest, EveryTextOfEveryLanguageMatchesTheTable) {
  const std::vector<TableRow> rows = ReadTable();
  ASSERT_EQ(rows.size(), kUiStringCount);
  const Language languages[] = {Language::English, Language::German, Language::Turkish};
  for (int l = 0; l < 3; ++l) {
    const UiStrings strings = LoadUiStrings(languages[l]);
    for (size_t slot = 0; slot < kUiStringCount; ++slot) {
      SCOPED_TRACE(testing::Message() << "language " << l << " slot " << slot << " " << rows[slot].key);
      EXPECT_EQ(WideToUtf8(UiStringSlot(strings, slot)), rows[slot].texts[l]);
    }
  }
}

TEST(LoadUiStringsTest, NamedFieldsFollowTheSlotOrder) {
  const UiStrings en = LoadUiStrings(Language::English);
  EXPECT_EQ(en.StartGame, u"START GAME");
  EXPECT_EQ(en.Checking, u"CHECKING...");
  EXPECT_EQ(en.UpToDate, u"Up to date");
  EXPECT_EQ(en.Discord, u"Discord");
  EXPECT_EQ(en.ErrorUnknown, u"An unknown update error occurred.");
  EXPECT_EQ(en.LaunchErrorTitle, u"Launch Error");
  EXPECT_EQ(&UiStringSlot(en, 27), &en.LaunchErrorTitle);
  EXPECT_EQ(&UiStringSlot(en, 31), &en.ErrorFileNotSigned);
}

TEST(LoadUiStringsTest, UnknownLanguageValuesGiveTurkish) {
  const UiStrings tr = LoadUiStrings(Language::Turkish);
  for (std::uint32_t value : {3u, 7u, 0xFFFFFFFFu}) {
    const UiStrings strings = LoadUiStrings(static_cast<Language>(value));
    for (size_t slot = 0; slot < kUiStringCount; ++slot) {
      EXPECT_EQ(UiStringSlot(strings, slot), UiStringSlot(tr, slot));
    }
  }
}

TEST(FormatTest, FillsThePlaceholders) {
  const UiStrings en = LoadUiStrings(Language::English);
  const UiStrings de = LoadUiStrings(Language::German);
  const UiStrings tr = LoadUiStrings(Language::Turkish);
  EXPECT_EQ(FormatStartGameCount(en, 10), u"START GAME (10)");
  EXPECT_EQ(FormatStartGameCount(tr, 1), u"OYUNU BA\u015ELAT (1)");
  EXPECT_EQ(FormatVerifyingFiles(tr, 1, 20), u"Dosyalar do\u011Frulan\u0131yor 1 / 20");
  EXPECT_EQ(FormatVerifyingFiles(en, 2147483647, -2147483647 - 1),
            u"Verifying files 2147483647 / -2147483648");
}

// One file reads in the singular; every other count, zero and the negative
// ones included, in the plural. The counters "n / N" need no such choice.
TEST(FormatTest, FilesUpdatedAgreesWithTheCount) {
  const struct {
    Language language;
    std::int32_t files;
    const char16_t* text;
  } cases[] = {
      {Language::English, 1, u"1 file updated"},
      {Language::English, 0, u"0 files updated"},
      {Language::English, 2, u"2 files updated"},
      {Language::English, -1, u"-1 files updated"},
      {Language::English, 11, u"11 files updated"},
      {Language::German, 1, u"1 Datei aktualisiert"},
      {Language::German, 3, u"3 Dateien aktualisiert"},
      {Language::German, 21, u"21 Dateien aktualisiert"},
      {Language::Turkish, 1, u"1 dosya g\u00FCncellendi"},
      {Language::Turkish, 2, u"2 dosya g\u00FCncellendi"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "language " << static_cast<int>(c.language) << " files "
                                    << c.files);
    EXPECT_EQ(WideToUtf8(FormatFilesUpdated(LoadUiStrings(c.language), c.files)),
              WideToUtf8(c.text));
  }
}

TEST(ErrorMessageForCodeTest, MapsEveryCode) {
  const UiStrings s = LoadUiStrings(Language::English);
  const std::u16string* expected[] = {
      &s.ErrorConnect,          &s.ErrorListDownload, &s.ErrorListInvalid, &s.ErrorListEmpty,
      &s.ErrorConfigIncomplete, &s.ErrorFileDownload, &s.ErrorFileCorrupt, &s.ErrorFileSave,
      &s.ErrorUnpack,           &s.ErrorFileCorrupt,  &s.ErrorFilesInUse,  &s.ErrorConfigIncomplete,
      &s.ErrorUnknown,          &s.ErrorReleaseUntrusted, &s.ErrorReleaseExpired,
      &s.ErrorReleaseRolledBack, &s.ErrorFileNotSigned, &s.ErrorReleaseUntrusted,
  };
  for (std::uint32_t code = 0; code < 18; ++code) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ErrorMessageForCode(s, code), *expected[code]);
  }
  for (std::uint32_t code : {18u, 42u, 0xFFFFFFFFu}) {
    EXPECT_EQ(ErrorMessageForCode(s, code), s.ErrorUnknown);
  }
}

class LocaleConfigTest : public testing::Test {
 protected:
  LauncherPaths Paths() const { return {dir_.Wide("launcher.exe"), dir_.Wide(), dir_.Wide()}; }
  void Write(const std::string& relative, const std::string& text) {
    test::WriteFileBytes(dir_ / relative, text);
  }
  Language Detect(const std::string& text) {
    Write("locale.cfg", text);
    return DetectLanguage(dir_.Wide("locale.cfg"));
  }
  test::TempDir dir_;
};

TEST_F(LocaleConfigTest, PrefersLibDevThenLibThenTheFolder) {
  const std::u16string dev = WidePath(dir_ / "lib" / "dev" / "locale.cfg");
  const std::u16string lib = WidePath(dir_ / "lib" / "locale.cfg");
  const std::u16string top = WidePath(dir_ / "locale.cfg");
  EXPECT_EQ(FindLocaleConfig(Paths()), dev);  // none exists: the first
  Write("locale.cfg", "x y de\n");
  EXPECT_EQ(FindLocaleConfig(Paths()), top);
  Write("lib/locale.cfg", "");
  EXPECT_EQ(FindLocaleConfig(Paths()), lib);
  std::filesystem::create_directories(dir_ / "lib" / "dev" / "locale.cfg");  // a folder counts
  EXPECT_EQ(FindLocaleConfig(Paths()), dev);
  // A folder cannot be read as a file: the UI language decides.
  EXPECT_EQ(DetectLanguage(dev), UserInterfaceLanguage());
}

TEST_F(LocaleConfigTest, TakesTheThirdTokenOfTheFirstNonCommentLine) {
  EXPECT_EQ(Detect("# comment\n\n#x y en\nSERVICE_LOCALE ignored de\n"), Language::German);
  EXPECT_EQ(Detect("a b en"), Language::English);
  EXPECT_EQ(Detect("a\tb\ttr extra"), Language::Turkish);
  EXPECT_EQ(Detect("#c\r\n\r\n a  b   tr\r\n"), Language::Turkish);
}

TEST_F(LocaleConfigTest, FallsBackToTheUserInterfaceLanguage) {
  const Language fallback = UserInterfaceLanguage();
  for (const char* text : {"a de\n", "a b DE\n", "a b german\n", "   \na b de\n",
                           "a b c\nx y de\n", "# only comments\n", "", "a b de_DE\n"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Detect(text), fallback);
  }
  EXPECT_EQ(DetectLanguage(dir_.Wide("missing.cfg")), fallback);
}

TEST(GetLauncherPathsTest, DescribesTheRunningExecutable) {
  const LauncherPaths paths = GetLauncherPaths();
  const std::filesystem::path exe = FsPath(paths.exePath);
  EXPECT_EQ(exe.parent_path(), test::ExecutableDir());
  EXPECT_NE(exe.filename().string().find("emb_app_tests"), std::string::npos);
  EXPECT_EQ(paths.exeFolder, WidePath(test::ExecutableDir()));
  EXPECT_EQ(paths.gameFolder, paths.exeFolder);
}

}  // namespace
}  // namespace emberfall

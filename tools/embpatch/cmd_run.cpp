// embpatch run: one headless patch run of the launcher's engine, with a live
// display on a terminal and plain progress lines otherwise.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include "app/localization.h"
#include "core/crypto.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "engine/patch_engine.h"
#include "engine/snapshot_mailbox.h"
#include "core/release_state.h"
#include "core/text.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"
#include "tools/embpatch/terminal.h"

namespace emberfall::cli {
namespace {

constexpr int kExitInterrupted = 130;

std::string Bar(std::uint32_t percent, int width) {
  const int filled = static_cast<int>(percent > 100 ? 100 : percent) * width / 100;
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '.') + "]";
}

std::string PercentText(std::uint32_t percent) {
  char text[8];
  std::snprintf(text, sizeof(text), "%3u%%", percent);
  return text;
}

// Redraws a four-line block in place.
class LiveDisplay {
 public:
  static constexpr bool kEveryStep = false;

  void Draw(const ProgressState& s) {
    std::string text;
    if (drawn_) text += "\x1b[3F";  // back to the first line of the block
    auto line = [&text](const std::string& content) { text += "\x1b[2K" + content + "\n"; };
    // Out() keeps the block's own control sequences; the texts, which name
    // files from the server, are escaped one by one.
    line(TerminalSafe(WideToUtf8(s.statusText) + "  " + WideToUtf8(s.detailText)));
    line("overall " + Bar(s.overallPercent, 30) + " " + PercentText(s.overallPercent));
    line("file    " + Bar(s.filePercent, 30) + " " + PercentText(s.filePercent) + "  " +
         TerminalSafe(WideToUtf8(s.barText)));
    text += "\x1b[2K" + TerminalSafe(WideToUtf8(s.noteText));
    Out(text);
    std::fflush(stdout);
    drawn_ = true;
  }
  void Finish() {
    if (drawn_) Out("\n");
  }

 private:
  bool drawn_ = false;
};

// One line whenever the stage, the status or the file changes.
class PlainDisplay {
 public:
  static constexpr bool kEveryStep = true;

  void Draw(const ProgressState& s) {
    if (last_ && SameStep(*last_, s)) return;
    last_ = s;
    std::string line = WideToUtf8(s.statusText);
    if (s.stage == PatchStage::Download ||
        s.stage == PatchStage::Unpack) {
      line += "  [" + std::to_string(s.filesDone + 1) + "/" + std::to_string(s.filesTotal) + "]";
    }
    if (!s.detailText.empty()) line += "  " + WideToUtf8(s.detailText);
    if (!s.noteText.empty()) line += "  " + WideToUtf8(s.noteText);
    OutLine(line);
    std::fflush(stdout);
  }
  void Finish() {}

 private:
  std::optional<ProgressState> last_;
};

std::optional<Language> ParseLanguage(const std::string& text) {
  if (text == "en") return Language::English;
  if (text == "de") return Language::German;
  if (text == "tr") return Language::Turkish;
  return std::nullopt;
}

// Fixed English whatever --lang says: scripts read it.
std::string TransferLine(const ProgressState& s) {
  return "downloaded " + std::to_string(s.bytesFetched) + " bytes, reused " +
         std::to_string(s.bytesReused) + " bytes from local files, resumed " +
         std::to_string(s.bytesResumed) + " bytes";
}

template <typename Display>
int Drive(PatchEngine& engine, SnapshotMailbox& mailbox, Display& display,
          std::atomic<bool>& interrupted, ProgressState& last) {
  engine.Start();
  for (;;) {
    std::deque<ProgressState> states = mailbox.WaitAndTakeAll(std::chrono::milliseconds(100));
    const bool finished = std::any_of(states.begin(), states.end(),
                                      [](const ProgressState& state) { return IsFinal(state.stage); });
    if (!states.empty()) {
      if constexpr (Display::kEveryStep) {
        for (const ProgressState& state : states) display.Draw(state);
      } else {
        display.Draw(states.back());
      }
      last = std::move(states.back());
    }
    if (interrupted.load()) {
      display.Finish();
      ErrLine("embpatch run: interrupted");
      engine.RequestCancel();
      // A request blocked in the network may take its time-out to notice;
      // the user asked to stop, so do not wait that long.
      if (!engine.StopAndWait(5000)) std::_Exit(kExitInterrupted);
      return kExitInterrupted;
    }
    if (finished) break;
  }
  display.Finish();
  engine.StopAndWait(0xFFFFFFFFu);
  return last.stage == PatchStage::Done ? kExitOk : kExitFailure;
}

// The folders of the run: the game folder (created if missing) and the
// launcher executable it updates. False when the folder cannot be used.
bool MakePaths(const ParsedArgs& parsed, LauncherPaths& paths) {
  const std::string game_dir = *parsed.Value("--game-dir");
  std::error_code ec;
  std::filesystem::path game_folder = FsPathFromUtf8(game_dir);
  std::filesystem::create_directories(game_folder, ec);
  game_folder = std::filesystem::absolute(game_folder, ec);
  if (ec || !std::filesystem::is_directory(game_folder)) {
    ErrLine("embpatch run: cannot use game folder '" + game_dir + "'");
    return false;
  }
  paths.gameFolder = WidePath(game_folder);
  if (const std::optional<std::string> exe = parsed.Value("--exe-path")) {
    const std::filesystem::path exe_path = std::filesystem::absolute(FsPathFromUtf8(*exe), ec);
    paths.exePath = WidePath(exe_path);
    paths.exeFolder = WidePath(exe_path.parent_path());
  } else {
    const LauncherPaths own = GetLauncherPaths();
    paths.exePath = own.exePath;
    paths.exeFolder = own.exeFolder;
  }
  return true;
}

// Not elevated and not the launcher: the record of accepted releases goes to
// a file of the user's, never into the game folder.
decltype(PatchEngineOptions::releaseState) ReleaseStateOf(std::optional<std::string> trust_state) {
  return [trust_state](const std::u16string& key) {
    std::u16string path = trust_state ? WidePath(std::filesystem::absolute(FsPathFromUtf8(*trust_state)))
                                      : UserReleaseStatePath(key);
    if (path.empty()) {
      throw PatchFailure(PatchErrorCode::ReleaseStateDamaged,
                         u"no user state folder (HOME, XDG_STATE_HOME, LOCALAPPDATA): "
                         u"give --trust-state FILE");
    }
    return MakeFileReleaseState(std::move(path));
  };
}

// The engine's options from the command line; false with |problem| set on a
// usage error.
bool MakeOptions(const ParsedArgs& parsed, PatchEngineOptions& options, std::string& problem) {
  options.connections = kDefaultConnections;
  if (const std::optional<std::string> text = parsed.Value("--connections")) {
    std::int64_t count = 0;
    if (!ParseCount(*text, count) || count < 1 || count > kMaxConnections) {
      problem = "--connections must be 1 to 16";
      return false;
    }
    options.connections = static_cast<unsigned>(count);
  }
  for (const std::string& url : parsed.Values("--config-url")) {
    options.configUrls.push_back(Utf8ToWide(url));
  }
  if (!ParseTrustKeys(parsed, options.trustedKeys, problem)) return false;
  options.releaseState = ReleaseStateOf(parsed.Value("--trust-state"));
  if (!ParseReleaseTarget(parsed, options.product, options.channel, problem)) return false;
  // An operator's tool: failures are shown here, never sent to the maker.
  options.reportError = [](const std::u16string&, const std::u16string&) {};
  return true;
}

int RunEngine(const LauncherPaths& paths, Language language, PatchEngineOptions options) {
  static std::atomic<bool> interrupted{false};
  InstallInterruptFlag(&interrupted);

  // The plain display prints every step, however far behind it falls.
  const auto mailbox = std::make_shared<SnapshotMailbox>(SnapshotMailbox::Options{
      .maxWaiting = std::numeric_limits<std::size_t>::max(), .coalesceSteps = true});
  mailbox->Open();
  PatchEngine engine(paths, LoadUiStrings(language), PostTo(mailbox), std::move(options));
  ProgressState last;
  int exit_code;
  if (StdoutIsInteractiveTerminal()) {
    LiveDisplay display;
    exit_code = Drive(engine, *mailbox, display, interrupted, last);
  } else {
    PlainDisplay display;
    exit_code = Drive(engine, *mailbox, display, interrupted, last);
  }
  if (exit_code == kExitOk) {
    OutLine(WideToUtf8(last.detailText));
    OutLine(TransferLine(last));
  } else if (exit_code == kExitFailure) {
    ErrLine(WideToUtf8(last.statusText));
    ErrLine(WideToUtf8(last.errorText));
  }
  return exit_code;
}

}  // namespace

int RunPatchRun(const ParsedArgs& parsed) {
  LauncherPaths paths;
  if (!MakePaths(parsed, paths)) return kExitFailure;
  Language language;
  if (const std::optional<std::string> lang = parsed.Value("--lang")) {
    const std::optional<Language> chosen = ParseLanguage(*lang);
    if (!chosen) return UsageError("run", "--lang must be en, de or tr");
    language = *chosen;
  } else {
    language = DetectLanguage(FindLocaleConfig(paths));
  }
  PatchEngineOptions options;
  std::string problem;
  if (!MakeOptions(parsed, options, problem)) return UsageError("run", problem);
  return RunEngine(paths, language, std::move(options));
}

}  // namespace emberfall::cli

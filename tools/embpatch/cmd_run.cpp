// embpatch run: one headless patch run of the launcher's engine, with a live
// display on a terminal and plain progress lines otherwise.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "app/localization.h"
#include "core/crypto.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "engine/patch_engine.h"
#include "core/release_state.h"
#include "core/text.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"
#include "tools/embpatch/terminal.h"

namespace emberfall::cli {
namespace {

constexpr int kExitInterrupted = 130;

// Snapshots cross from the engine's worker to the main thread here. A
// snapshot that only updates the one before it (same stage, status and file)
// replaces it; the others queue, so the plain display prints every step even
// when the main thread falls behind.
class SnapshotMailbox {
 public:
  void Post(const ProgressState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending_.empty() && StepKey(pending_.back()) == StepKey(state)) {
      pending_.back() = state;
    } else {
      pending_.push_back(state);
    }
    if (state.stage == PatchStage::Done ||
        state.stage == PatchStage::Failed) {
      finished_ = true;
    }
    changed_.notify_all();
  }

  // Waits up to |timeout| for new snapshots; returns them, oldest first.
  std::vector<ProgressState> Take(std::chrono::milliseconds timeout, bool& finished) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return !pending_.empty(); });
    finished = finished_;
    return std::exchange(pending_, {});
  }

  static std::u16string StepKey(const ProgressState& s) {
    return ToWideDecimal(static_cast<std::uint32_t>(s.stage)) + u"|" + s.statusText + u"|" + s.noteText;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ProgressState> pending_;
  bool finished_ = false;
};

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
    const std::u16string key = SnapshotMailbox::StepKey(s);
    if (key == last_) return;
    last_ = key;
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
  std::u16string last_;
};

std::optional<Language> ParseLanguage(const std::string& text) {
  if (text == "en") return Language::English;
  if (text == "de") return Language::German;
  if (text == "tr") return Language::Turkish;
  return std::nullopt;
}

template <typename Display>
int Drive(PatchEngine& engine, SnapshotMailbox& mailbox, Display& display,
          std::atomic<bool>& interrupted, ProgressState& last) {
  engine.Start();
  for (;;) {
    bool finished = false;
    std::vector<ProgressState> states = mailbox.Take(std::chrono::milliseconds(100), finished);
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

}  // namespace

int RunPatchRun(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--game-dir", true, false},
                  {"--config-url", true, true},
                  {"--exe-path", true, false},
                  {"--lang", true, false},
                  {"--trust-key", true, true},
                  {"--trust-state", true, false},
                  {"--product", true, false},
                  {"--channel", true, false},
                  {"--connections", true, false}},
                 parsed, error)) {
    return UsageError("run", error);
  }
  if (!parsed.positional().empty()) {
    return UsageError("run", "unexpected argument '" + parsed.positional()[0] + "'");
  }
  const std::optional<std::string> game_dir = parsed.Value("--game-dir");
  if (!game_dir) return UsageError("run", "--game-dir is required");

  std::error_code ec;
  std::filesystem::path game_folder = FsPathFromUtf8(*game_dir);
  std::filesystem::create_directories(game_folder, ec);
  game_folder = std::filesystem::absolute(game_folder, ec);
  if (ec || !std::filesystem::is_directory(game_folder)) {
    ErrLine("embpatch run: cannot use game folder '" + *game_dir + "'");
    return kExitFailure;
  }

  LauncherPaths paths;
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

  Language language;
  if (const std::optional<std::string> lang = parsed.Value("--lang")) {
    const std::optional<Language> chosen = ParseLanguage(*lang);
    if (!chosen) return UsageError("run", "--lang must be en, de or tr");
    language = *chosen;
  } else {
    language = DetectLanguage(FindLocaleConfig(paths));
  }

  PatchEngineOptions options;
  options.connections = kDefaultConnections;
  if (const std::optional<std::string> text = parsed.Value("--connections")) {
    std::int64_t count = 0;
    if (!ParseCount(*text, count) || count < 1 || count > kMaxConnections) {
      return UsageError("run", "--connections must be 1 to 16");
    }
    options.connections = static_cast<unsigned>(count);
  }
  for (const std::string& url : parsed.Values("--config-url")) {
    options.configUrls.push_back(Utf8ToWide(url));
  }
  for (const std::string& text : parsed.Values("--trust-key")) {
    const std::optional<EcdsaPublicKey> key = ParsePublicKeyText(text);
    if (!key) return UsageError("run", "--trust-key takes 130 lower-case hex digits starting 04");
    options.trustedKeys.push_back(*key);
  }
  // Not elevated and not the launcher: the record of accepted releases goes
  // to a file of the user's, never into the game folder.
  const std::optional<std::string> trust_state = parsed.Value("--trust-state");
  options.releaseState = [trust_state](const std::u16string& key) {
    std::u16string path = trust_state ? WidePath(std::filesystem::absolute(FsPathFromUtf8(*trust_state)))
                                      : UserReleaseStatePath(key);
    if (path.empty()) {
      throw PatchFailure(PatchErrorCode::ReleaseStateDamaged,
                         u"no user state folder (HOME, XDG_STATE_HOME, LOCALAPPDATA): "
                         u"give --trust-state FILE");
    }
    return MakeFileReleaseState(std::move(path));
  };
  if (!ParseReleaseTarget(parsed, options.product, options.channel, error)) {
    return UsageError("run", error);
  }
  // An operator's tool: failures are shown here, never sent to the maker.
  options.reportError = [](const std::u16string&, const std::u16string&) {};

  static std::atomic<bool> interrupted{false};
  InstallInterruptFlag(&interrupted);

  SnapshotMailbox mailbox;
  PatchEngine engine(paths, LoadUiStrings(language),
                     [&mailbox](const ProgressState& state) { mailbox.Post(state); }, options);
  ProgressState last;
  int exit_code;
  if (StdoutIsInteractiveTerminal()) {
    LiveDisplay display;
    exit_code = Drive(engine, mailbox, display, interrupted, last);
  } else {
    PlainDisplay display;
    exit_code = Drive(engine, mailbox, display, interrupted, last);
  }
  if (exit_code == kExitOk) {
    OutLine(WideToUtf8(last.detailText));
  } else if (exit_code == kExitFailure) {
    ErrLine(WideToUtf8(last.statusText));
    ErrLine(WideToUtf8(last.errorText));
  }
  return exit_code;
}

}  // namespace emberfall::cli

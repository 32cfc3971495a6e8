#include "ui/window_controller.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "app/localization.h"
#include "engine/game_launch.h"
#include "core/text.h"

namespace emberfall {
namespace {

// r: ready, f: failed, anything else: a run in progress.
ProgressState Snapshot(char kind) {
  ProgressState s;
  s.ready = kind == 'r';
  const PatchStage stage =
      kind == 'r' ? PatchStage::Done : kind == 'f' ? PatchStage::Failed : PatchStage::Download;
  s.stage = stage;
  s.statusText = kind == 'r' ? u"READY" : kind == 'f' ? u"broken" : u"working";
  return s;
}

struct Answers {
  LaunchResult launch = LaunchResult::kStarted;
  std::uint32_t launchError = 0;
  SettingsStart settings = SettingsStart::Started;
  std::uint32_t settingsError = 0;
  BoxAnswer box = BoxAnswer::Cancel;  // every box's answer
  bool startThrows = false;
  bool failureDuringBox = false;  // dispatched by the modal box, as a real one would
};

// Records what the controller asks for, in one line, and answers as told.
struct FakeHost : WindowHost, Answers {
  explicit FakeHost(const Answers& answers) : Answers(answers) {}
  std::string log;
  WindowController* controller = nullptr;
  bool timer = false;

  void Add(const std::string& entry) { log += (log.empty() ? "" : " ") + entry; }
  void StartEngine() override {
    Add("engine");
    if (startThrows) throw std::runtime_error("no thread");
  }
  void CancelEngine() override { Add("cancel"); }
  LaunchResult LaunchGame(std::uint32_t* error) override {
    Add("launch");
    *error = launchError;
    return launch;
  }
  SettingsStart StartSettings(std::uint32_t* error) override {
    Add("settings");
    *error = settingsError;
    return settings;
  }
  void OpenUrl(const std::u16string& url) override { Add("url:" + WideToUtf8(url)); }
  void SetCountdownTimer(bool running) override {
    if (running != std::exchange(timer, running)) Add(running ? "timer:on" : "timer:off");
  }
  void ShowWindowAs(WindowShow show) override {
    Add(show == WindowShow::Minimised ? "min" : show == WindowShow::Hidden ? "hide" : "restore");
  }
  BoxAnswer ShowBox(const std::u16string& text, const std::u16string& caption, BoxKind) override {
    Add("box[" + WideToUtf8(caption) + ": " + WideToUtf8(text) + "]");
    if (!controller->boxOpen()) Add("box-not-marked-open");
    if (std::exchange(failureDuringBox, false)) controller->OnSnapshot(Snapshot('f'));
    return box;
  }
  void RetryVideo() override { Add("video"); }
  void Quit() override { Add("quit"); }
};

// Events: "shown", snapshots r/w/f, "t" a countdown tick, "T" ten ticks,
// "close" (the launcher closes), "hover:<button>", and clicks by button name.
// Returns per event (the first frame first) what of the face must be redrawn:
// 0 nothing, b the start button, 1 all of it.
std::string Drive(WindowController& c, const std::string& events) {
  const auto change = [&c] { return "0b1"[static_cast<int>(c.TakeChange())]; };
  static const std::map<std::string, ButtonId> kButtons = {
      {"-", ButtonId::None}, {"start", ButtonId::Start}, {"website", ButtonId::Website},
      {"support", ButtonId::Support}, {"community", ButtonId::Community},
      {"minimise", ButtonId::Minimise}, {"x", ButtonId::Close}, {"settings", ButtonId::Settings}};
  std::string redraws(1, change());
  std::istringstream in(events);
  for (std::string e; in >> e;) {
    if (e == "shown") c.OnShown();
    else if (e == "r" || e == "w" || e == "f") c.OnSnapshot(Snapshot(e[0]));
    else if (e == "t") c.OnCountdownTick();
    else if (e == "T") for (int i = 0; i < 10; ++i) c.OnCountdownTick();
    else if (e == "close") c.OnClosing();
    else if (e.starts_with("hover:")) c.OnHover(kButtons.at(e.substr(6)));
    else c.OnButton(kButtons.at(e));
    redraws += change();
  }
  return redraws;
}

// Each outcome: what the host was asked for | the countdown, the status text.
TEST(WindowControllerTest, Scenarios) {
  const std::string kLaunchBox = "timer:on video timer:off min launch restore box[LaunchErr: ";
  const struct {
    const char* name;
    const char* events;
    Answers answers;
    std::string outcome;
    const char* redraws = "";  // checked when given
  } scenarios[] = {
      // Nothing is acted on before the window is seen; then only the newest.
      {"failure before shown", "w f", {}, " | -1 CHECKING"},
      {"failure shown once visible", "w f shown", {}, "box[UpdErr: broken\n\nhint] | -1 broken"},
      {"only the newest early snapshot counts", "f r shown", {}, "timer:on video | 10 READY"},
      {"ready twice starts the countdown once", "shown r t r", {},
       "timer:on video video | 9 READY"},
      {"not ready stops the countdown; ready again restarts it", "shown r t w r", {},
       "timer:on video timer:off timer:on video | 10 READY"},
      {"nine ticks leave one second", "shown r t t t t t t t t t", {}, "timer:on video | 1 READY"},
      {"the tenth tick starts the game; later ticks change nothing", "shown r T t r", {},
       "timer:on video timer:off min launch hide quit | -1 READY"},
      {"start before ready does nothing", "shown w start", {}, " | -1 working"},
      {"redraws only on change", "w shown hover:- t hover:website r t", {},
       "timer:on video | 9 READY", "1010011b"},
      // Settings turn the automatic start off for good.
      {"settings during the countdown", "shown r settings w r", {},
       "timer:on video timer:off settings video | -1 READY"},
      {"settings missing", "shown settings", {.settings = SettingsStart::Missing},
       "settings box[LaunchErr: config.exe bulunamadi.] | -1 CHECKING"},
      {"settings failing with a code", "shown settings",
       {.settings = SettingsStart::Failed, .settingsError = 1155},
       "settings box[LaunchErr: failed\n\nWin32: 1155] | -1 CHECKING"},
      {"settings failing without a code", "shown settings", {.settings = SettingsStart::Failed},
       "settings box[LaunchErr: failed] | -1 CHECKING"},
      // Launch failures: the box, then the countdown from ten again.
      {"entry missing", "shown r start", {.launch = LaunchResult::kEntryMissing},
       kLaunchBox + "no entry] timer:on | 10 READY"},
      {"launch refused at the prompt", "shown r start",
       {.launch = LaunchResult::kFailed, .launchError = 1223},
       kLaunchBox + "cancelled] timer:on | 10 READY"},
      {"access denied asks for elevation", "shown r start",
       {.launch = LaunchResult::kFailed, .launchError = 5},
       kLaunchBox + "needs admin] timer:on | 10 READY"},
      {"elevation required", "shown r start", {.launch = LaunchResult::kFailed, .launchError = 740},
       kLaunchBox + "needs admin] timer:on | 10 READY"},
      {"launch after settings: no new countdown", "shown r settings start",
       {.launch = LaunchResult::kFailed, .launchError = 2},
       "timer:on video timer:off settings min launch restore box[LaunchErr: failed] | -1 READY"},
      {"unknown launch result leaves the window minimised", "shown r start", {.launch = static_cast<LaunchResult>(7)},
       "timer:on video timer:off min launch | -1 READY"},
      // The update-error box.
      {"retry starts a new check", "shown f", {.box = BoxAnswer::Retry},
       "box[UpdErr: broken\n\nhint] engine | -1 CHECKING"},
      {"retry that cannot start keeps the failure", "shown f",
       {.box = BoxAnswer::Retry, .startThrows = true},
       "box[UpdErr: broken\n\nhint] engine | -1 broken"},
      {"no second box during the first", "shown f", {.failureDuringBox = true},
       "box[UpdErr: broken\n\nhint] | -1 broken"},
      // Links, minimise and closing.
      {"links", "shown website support community minimise", {},
       "url:https://site.example/new url:https://chat.example/x url:https://chat.example/x min"
       " | -1 CHECKING"},
      {"close button", "shown r x r t start", {},
       "timer:on video cancel timer:off quit | -1 READY"},
      {"nothing starts after closing", "shown w close r T", {}, " | -1 working"},
  };
  for (const auto& s : scenarios) {
    SCOPED_TRACE(s.name);
    FakeHost host(s.answers);
    WindowController controller(
        host, {{.Checking = u"CHECKING", .UpdateErrorTitle = u"UpdErr", .UpdateErrorHint = u"hint",
                .LaunchEntryMissing = u"no entry", .LaunchFailed = u"failed",
                .LaunchErrorTitle = u"LaunchErr"},
               u"cancelled", u"needs admin", u"https://site.example//", u"https://chat.example/x"});
    host.controller = &controller;
    const std::string redraws = Drive(controller, s.events);
    EXPECT_EQ(host.log + " | " + std::to_string(controller.countdown()) + " " +
                  WideToUtf8(controller.state().statusText),
              s.outcome);
    EXPECT_FALSE(controller.boxOpen());
    EXPECT_TRUE(!*s.redraws || redraws == s.redraws) << redraws;
  }
}

// A finished run's note row tells where its bytes came from, in the
// player's language; a note of its own, or a run not done, keeps its note.
TEST(WindowControllerTest, TheNoteOfAFinishedRunSaysWhereItsBytesCameFrom) {
  const struct {
    Language language;
    PatchStage stage;
    std::int64_t fetched, reused, resumed;
    const char16_t* note;  // of the snapshot, then shown
    const char16_t* shown;
  } cases[] = {
      {Language::English, PatchStage::Done, 89967821, 4402341478, 0, u"",
       u"Downloaded 85.8 MB, 4.1 GB reused from your files"},
      {Language::German, PatchStage::Done, 89967821, 0, 1048576, u"",
       u"85.8 MB heruntergeladen, 1.0 MB fortgesetzt"},
      {Language::English, PatchStage::Done, 0, 0, 0, u"", u""},  // up to date
      {Language::English, PatchStage::Done, 5, 0, 0, u"own", u"own"},
      {Language::English, PatchStage::Download, 5, 0, 0, u"a.pak", u"a.pak"},
  };
  for (const auto& c : cases) {
    FakeHost host({});
    WindowController controller(host, {LoadUiStrings(c.language), u"", u"", u"", u""});
    controller.OnShown();
    controller.OnSnapshot({.stage = c.stage, .noteText = c.note, .bytesFetched = c.fetched,
                           .bytesReused = c.reused, .bytesResumed = c.resumed, .ready = true});
    EXPECT_EQ(WideToUtf8(controller.state().noteText), WideToUtf8(c.shown));
  }
}

}  // namespace
}  // namespace emberfall

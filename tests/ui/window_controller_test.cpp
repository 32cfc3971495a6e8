#include "ui/window_controller.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/game_launch.h"
#include "core/text.h"

namespace emberfall {
namespace {

std::string Narrow(const std::u16string& text) { return WideToUtf8(text); }

// Records what the controller asks for, in one line, and answers from a
// script.
class FakeHost : public WindowHost {
 public:
  std::string log;
  std::deque<BoxAnswer> answers;
  int launchResult = kLaunchStarted;
  std::uint32_t launchError = 0;
  SettingsStart settings = SettingsStart::Started;
  std::uint32_t settingsError = 0;
  bool startThrows = false;
  bool timerRunning = false;
  const WindowController* controller = nullptr;
  // Run inside the next box, as messages dispatched by a modal box would be.
  std::vector<ProgressState> snapshotsDuringBox;

  void StartEngine() override {
    Add("engine");
    if (startThrows) throw std::runtime_error("no thread");
  }
  void CancelEngine() override { Add("cancel"); }
  int LaunchGame(std::uint32_t* error) override {
    Add("launch");
    *error = launchError;
    return launchResult;
  }
  SettingsStart StartSettings(std::uint32_t* error) override {
    Add("settings");
    *error = settingsError;
    return settings;
  }
  void OpenUrl(const std::u16string& url) override { Add("url:" + Narrow(url)); }
  void SetCountdownTimer(bool running) override {
    if (running != timerRunning) Add(running ? "timer:on" : "timer:off");
    timerRunning = running;
  }
  void ShowWindowAs(WindowShow show) override {
    Add(show == WindowShow::Minimised ? "min" : show == WindowShow::Hidden ? "hide" : "restore");
  }
  BoxAnswer ShowBox(const std::u16string& text, const std::u16string& caption,
                    BoxKind) override {
    Add("box[" + Narrow(caption) + ": " + Narrow(text) + "]");
    if (controller != nullptr && !controller->boxOpen()) Add("box-not-marked-open");
    std::vector<ProgressState> pending;
    pending.swap(snapshotsDuringBox);
    for (ProgressState& s : pending) inner->OnSnapshot(std::move(s));
    if (answers.empty()) return BoxAnswer::Cancel;
    const BoxAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void RetryVideo() override { Add("video"); }
  void Quit() override { Add("quit"); }

  WindowController* inner = nullptr;

 private:
  void Add(const std::string& entry) {
    if (!log.empty()) log += ' ';
    log += entry;
  }
};

ControllerTexts Texts() {
  ControllerTexts t;
  t.strings.Checking = u"CHECKING";
  t.strings.UpdateErrorTitle = u"UpdErr";
  t.strings.UpdateErrorHint = u"hint";
  t.strings.LaunchEntryMissing = u"no entry";
  t.strings.LaunchFailed = u"failed";
  t.strings.LaunchErrorTitle = u"LaunchErr";
  t.launchCancelled = u"cancelled";
  t.elevationRequired = u"needs admin";
  t.websiteUrl = u"https://site.example//";
  t.communityUrl = u"https://chat.example/x";
  return t;
}

ProgressState Snapshot(char kind) {
  ProgressState s;
  switch (kind) {
    case 'r':
      s.stage = static_cast<std::uint32_t>(PatchStage::Done);
      s.statusText = u"READY";
      s.ready = true;
      break;
    case 'f':
      s.stage = static_cast<std::uint32_t>(PatchStage::Failed);
      s.statusText = u"broken";
      break;
    default:
      s.stage = static_cast<std::uint32_t>(PatchStage::Download);
      s.statusText = u"working";
  }
  return s;
}

// Events: "shown", snapshots "r" (ready), "w" (working), "f" (failed),
// "t" (countdown tick), "T" (ten ticks), "close" (the launcher closes),
// and "start", "settings", "website", "support", "community", "minimise",
// "x" (close button) for clicks.
void Drive(WindowController& c, const std::vector<std::string>& events) {
  for (const std::string& e : events) {
    if (e == "shown") c.OnShown();
    else if (e == "r" || e == "w" || e == "f") c.OnSnapshot(Snapshot(e[0]));
    else if (e == "t") c.OnCountdownTick();
    else if (e == "T") for (int i = 0; i < 10; ++i) c.OnCountdownTick();
    else if (e == "close") c.OnClosing();
    else if (e == "start") c.OnButton(ButtonId::Start);
    else if (e == "settings") c.OnButton(ButtonId::Settings);
    else if (e == "website") c.OnButton(ButtonId::Website);
    else if (e == "support") c.OnButton(ButtonId::Support);
    else if (e == "community") c.OnButton(ButtonId::Community);
    else if (e == "minimise") c.OnButton(ButtonId::Minimise);
    else if (e == "x") c.OnButton(ButtonId::Close);
    else FAIL() << "unknown event " << e;
  }
}

struct Scenario {
  const char* name;
  std::vector<std::string> events;
  std::string log;
  std::int32_t countdown;
  const char* status;
  void (*setup)(FakeHost&) = nullptr;
};

TEST(WindowControllerTest, Scenarios) {
  const Scenario scenarios[] = {
      // Nothing is acted on before the window is seen; then only the newest.
      {"failure before shown", {"w", "f"}, "", -1, "CHECKING"},
      {"failure shown once visible", {"w", "f", "shown"}, "box[UpdErr: broken\n\nhint]", -1,
       "broken"},
      {"ready before shown counts from shown", {"r", "shown"}, "timer:on video", 10, "READY"},
      {"older early snapshots are dropped", {"f", "r", "shown"}, "timer:on video", 10, "READY"},
      // Countdown transitions.
      {"ready twice starts the countdown once", {"shown", "r", "t", "r"},
       "timer:on video video", 9, "READY"},
      {"not ready stops the countdown", {"shown", "r", "t", "w"}, "timer:on video timer:off", -1,
       "working"},
      {"ready then a new run and ready again restarts", {"shown", "r", "t", "w", "r"},
       "timer:on video timer:off timer:on video", 10, "READY"},
      {"nine ticks leave one second", {"shown", "r", "t", "t", "t", "t", "t", "t", "t", "t", "t"},
       "timer:on video", 1, "READY"},
      {"countdown expiry starts the game and quits", {"shown", "r", "T"},
       "timer:on video timer:off min launch hide quit", -1, "READY"},
      {"ticks after expiry change nothing", {"shown", "r", "T", "t", "r"},
       "timer:on video timer:off min launch hide quit", -1, "READY"},
      {"start before ready does nothing", {"shown", "w", "start"}, "", -1, "working"},
      // Settings turn the automatic start off for good.
      {"settings during the countdown", {"shown", "r", "settings", "w", "r"},
       "timer:on video timer:off settings video", -1, "READY"},
      {"settings missing", {"shown", "settings"},
       "settings box[LaunchErr: config.exe bulunamadi.]", -1, "CHECKING",
       [](FakeHost& h) { h.settings = SettingsStart::Missing; }},
      {"settings failing with a code", {"shown", "settings"},
       "settings box[LaunchErr: failed\n\nWin32: 1155]", -1, "CHECKING",
       [](FakeHost& h) {
         h.settings = SettingsStart::Failed;
         h.settingsError = 1155;
       }},
      {"settings failing without a code", {"shown", "settings"},
       "settings box[LaunchErr: failed]", -1, "CHECKING",
       [](FakeHost& h) { h.settings = SettingsStart::Failed; }},
      // Launch failures: the box, then the countdown from ten again.
      {"entry missing", {"shown", "r", "start"},
       "timer:on video timer:off min launch restore box[LaunchErr: no entry] timer:on", 10,
       "READY", [](FakeHost& h) { h.launchResult = kLaunchEntryMissing; }},
      {"launch refused at the prompt", {"shown", "r", "start"},
       "timer:on video timer:off min launch restore box[LaunchErr: cancelled] timer:on", 10,
       "READY",
       [](FakeHost& h) {
         h.launchResult = kLaunchFailed;
         h.launchError = 1223;
       }},
      {"launch after settings: no new countdown", {"shown", "r", "settings", "start"},
       "timer:on video timer:off settings min launch restore box[LaunchErr: failed]", -1, "READY",
       [](FakeHost& h) {
         h.launchResult = kLaunchFailed;
         h.launchError = 2;
       }},
      {"unknown launch result leaves the window minimised", {"shown", "r", "start"},
       "timer:on video timer:off min launch", -1, "READY",
       [](FakeHost& h) { h.launchResult = 7; }},
      // The update-error box.
      {"retry starts a new check", {"shown", "f"}, "box[UpdErr: broken\n\nhint] engine", -1,
       "CHECKING", [](FakeHost& h) { h.answers = {BoxAnswer::Retry}; }},
      {"retry that cannot start keeps the failure", {"shown", "f"},
       "box[UpdErr: broken\n\nhint] engine", -1, "broken",
       [](FakeHost& h) {
         h.answers = {BoxAnswer::Retry};
         h.startThrows = true;
       }},
      {"a second failure during the box opens no second box", {"shown", "f"},
       "box[UpdErr: broken\n\nhint]", -1, "broken",
       [](FakeHost& h) { h.snapshotsDuringBox = {Snapshot('f')}; }},
      // Links, minimise and closing.
      {"links", {"shown", "website", "support", "community", "minimise"},
       "url:https://site.example/new url:https://chat.example/x url:https://chat.example/x min",
       -1, "CHECKING"},
      {"close button", {"shown", "r", "x", "r", "t", "start"},
       "timer:on video cancel timer:off quit", -1, "READY"},
      {"nothing starts after closing", {"shown", "w", "close", "r", "T"}, "", -1, "working"},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    FakeHost host;
    if (s.setup != nullptr) s.setup(host);
    WindowController controller(host, Texts());
    host.controller = &controller;
    host.inner = &controller;
    Drive(controller, s.events);
    EXPECT_EQ(host.log, s.log);
    EXPECT_EQ(controller.countdown(), s.countdown);
    EXPECT_EQ(Narrow(controller.state().statusText), s.status);
    EXPECT_FALSE(controller.boxOpen());
  }
}

TEST(WindowControllerTest, LaunchErrorTexts) {
  FakeHost host;
  WindowController controller(host, Texts());
  const struct {
    std::uint32_t error;
    const char* text;
  } cases[] = {{1223, "cancelled"}, {5, "needs admin"}, {740, "needs admin"},
               {2, "failed"},       {0, "failed"},    {1224, "failed"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(Narrow(controller.LaunchFailureText(c.error)), c.text);
  }
}

TEST(WindowControllerTest, RedrawOnlyOnChange) {
  FakeHost host;
  WindowController controller(host, Texts());
  host.inner = &controller;
  EXPECT_TRUE(controller.TakeRedraw());  // the first frame
  EXPECT_FALSE(controller.TakeRedraw());
  controller.OnSnapshot(Snapshot('w'));  // kept until shown
  EXPECT_FALSE(controller.TakeRedraw());
  controller.OnShown();
  EXPECT_TRUE(controller.TakeRedraw());
  controller.OnHover(ButtonId::None);
  controller.OnCountdownTick();  // no countdown running
  EXPECT_FALSE(controller.TakeRedraw());
  controller.OnHover(ButtonId::Website);
  EXPECT_TRUE(controller.TakeRedraw());
  controller.OnSnapshot(Snapshot('r'));
  EXPECT_TRUE(controller.TakeRedraw());
  controller.OnCountdownTick();
  EXPECT_TRUE(controller.TakeRedraw());
  EXPECT_EQ(controller.countdown(), 9);
}

}  // namespace
}  // namespace emberfall

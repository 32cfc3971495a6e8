// The launcher window's decisions, apart from the window that carries them
// out: which snapshot the face shows, the auto-launch countdown, the
// update-error box and its Retry, the game launch and its error texts, the
// settings program, the links and closing. Everything the controller wants
// done goes through a WindowHost, so the same decisions run in the real
// window and in tests without a window system. UI thread only.
#ifndef EMBERFALL_UI_WINDOW_CONTROLLER_H_
#define EMBERFALL_UI_WINDOW_CONTROLLER_H_

#include <cstdint>
#include <optional>
#include <string>

#include "core/ui_strings.h"
#include "engine/patch_engine.h"
#include "ui/layout.h"

namespace emberfall {

inline constexpr std::int32_t kCountdownSeconds = 10;

enum class WindowShow { Minimised, Hidden, Restored };
enum class BoxKind { LaunchWarning, UpdateError };
enum class BoxAnswer { Ok, Retry, Cancel };
enum class SettingsStart { Started, Missing, Failed };
// What of the face changed since it was last drawn, least first.
enum class FaceChange { None, StartButton, Whole };

// What the controller asks of the window and the process around it.
class WindowHost {
 public:
  virtual ~WindowHost() = default;
  // Starts a patch run; may throw when no worker can be started.
  virtual void StartEngine() = 0;
  // Asks the running patch run to stop; returns at once.
  virtual void CancelEngine() = 0;
  // Starts the game: a LaunchResult value, with the system's error code in
  // |error| after LaunchResult::kFailed.
  virtual LaunchResult LaunchGame(std::uint32_t* error) = 0;
  // Starts the game's settings program, with the system's error code in
  // |error| after SettingsStart::Failed (0 when there is none).
  virtual SettingsStart StartSettings(std::uint32_t* error) = 0;
  virtual void OpenUrl(const std::u16string& url) = 0;
  // Runs or stops the one-second countdown tick.
  virtual void SetCountdownTimer(bool running) = 0;
  virtual void ShowWindowAs(WindowShow show) = 0;
  // A modal box owned by the window; returns when the user answered.
  virtual BoxAnswer ShowBox(const std::u16string& text, const std::u16string& caption,
                            BoxKind kind) = 0;
  // The update is done: a background video that is not playing may try again.
  virtual void RetryVideo() = 0;
  // Ends the message loop (exit code 0).
  virtual void Quit() = 0;
};

struct ControllerTexts {
  UiStrings strings;
  // For a game start refused at the elevation prompt, and for one that
  // needs rights the launcher does not have.
  std::u16string launchCancelled;
  std::u16string elevationRequired;
  // The maker's web site (its "/new" page is opened) and the community link.
  std::u16string websiteUrl;
  std::u16string communityUrl;
};

class WindowController {
 public:
  WindowController(WindowHost& host, ControllerTexts texts);
  WindowController(const WindowController&) = delete;
  WindowController& operator=(const WindowController&) = delete;

  // The window is on screen. Snapshots that arrived before are not acted on
  // until now (no box without a visible owner, no countdown nobody saw);
  // only the newest of them counts, as each one carries the whole state.
  void OnShown();
  void OnSnapshot(ProgressState snapshot);
  void OnHover(ButtonId button);
  void OnButton(ButtonId button);
  void OnCountdownTick();
  // The launcher is closing: the countdown stops and later snapshots and
  // ticks change nothing, so no game starts after the user closed.
  void OnClosing();

  // The snapshot the face shows: the newest one, and once a run is done its
  // note row says how many bytes were downloaded, reused and resumed
  // (FormatTransferSummary).
  const ProgressState& state() const { return state_; }
  bool ready() const { return ready_; }
  ButtonId hover() const { return hover_; }
  // Seconds left before the automatic start; -1 when off.
  std::int32_t countdown() const { return countdown_; }
  // A modal box is open: the face is not redrawn meanwhile.
  bool boxOpen() const { return boxDepth_ > 0; }
  // What of the face changed since the last call. A countdown tick changes
  // the start button only.
  FaceChange TakeChange();

  // The web-site page opened by the Website link.
  static std::u16string WebsitePageUrl(std::u16string base);
  // The text shown after LaunchResult::kFailed with system error |error|.
  std::u16string LaunchFailureText(std::uint32_t error) const;

 private:
  void Apply(ProgressState snapshot);
  void Changed(FaceChange change);
  void StartCountdown();
  void StopCountdown();
  void StartGame();
  void OpenSettings();
  void ShowUpdateError(const ProgressState& failure);
  BoxAnswer Box(const std::u16string& text, const std::u16string& caption, BoxKind kind);

  WindowHost& host_;
  const ControllerTexts texts_;
  ProgressState state_;
  bool ready_ = false;
  ButtonId hover_ = ButtonId::None;
  std::int32_t countdown_ = -1;
  bool autoLaunchDisabled_ = false;
  bool shown_ = false;
  bool closing_ = false;
  int boxDepth_ = 0;
  FaceChange change_ = FaceChange::Whole;
  std::optional<ProgressState> early_;
};

}  // namespace emberfall

#endif  // EMBERFALL_UI_WINDOW_CONTROLLER_H_

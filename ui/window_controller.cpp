#include "ui/window_controller.h"

#include <algorithm>
#include <utility>

#include "engine/game_launch.h"
#include "app/process_launch.h"
#include "core/text.h"

namespace emberfall {

WindowController::WindowController(WindowHost& host, ControllerTexts texts)
    : host_(host), texts_(std::move(texts)) {
  state_.statusText = texts_.strings.Checking;
}

std::u16string WindowController::WebsitePageUrl(std::u16string base) {
  while (!base.empty() && base.back() == u'/') base.pop_back();
  return base + u"/new";
}

std::u16string WindowController::LaunchFailureText(std::uint32_t error) const {
  switch (error) {
    case kErrorCancelled:
      return texts_.launchCancelled;
    case kErrorAccessDenied:
    case kErrorElevationRequired:
      return texts_.elevationRequired;
    default:
      return texts_.strings.LaunchFailed;
  }
}

FaceChange WindowController::TakeChange() { return std::exchange(change_, FaceChange::None); }

void WindowController::Changed(FaceChange change) { change_ = std::max(change_, change); }

void WindowController::OnShown() {
  if (shown_) return;
  shown_ = true;
  Changed(FaceChange::Whole);
  if (early_) {
    ProgressState snapshot = std::move(*early_);
    early_.reset();
    Apply(std::move(snapshot));
  }
}

void WindowController::OnSnapshot(ProgressState snapshot) {
  if (closing_) return;
  if (!shown_) {
    early_ = std::move(snapshot);
    return;
  }
  Apply(std::move(snapshot));
}

void WindowController::Apply(ProgressState snapshot) {
  const bool wasReady = ready_;
  const bool failed = snapshot.stage == PatchStage::Failed;
  state_ = std::move(snapshot);
  // The row that named the files while they came says, once the run is
  // done, where they came from: a player on a slow line sees what the
  // reused and resumed bytes saved. A run that installed nothing has no line.
  if (state_.stage == PatchStage::Done && state_.noteText.empty()) {
    state_.noteText = FormatTransferSummary(texts_.strings, state_.bytesFetched,
                                            state_.bytesReused, state_.bytesResumed);
  }
  ready_ = state_.ready;
  Changed(FaceChange::Whole);
  if (!ready_) {
    StopCountdown();
  } else if (!wasReady) {
    StartCountdown();
  }
  if (ready_) host_.RetryVideo();
  // One box at a time: a failure that arrives while another box is open
  // stays on the face.
  if (failed && !boxOpen()) ShowUpdateError(state_);
}

void WindowController::OnHover(ButtonId button) {
  if (button == hover_) return;
  hover_ = button;
  Changed(FaceChange::Whole);
}

void WindowController::OnButton(ButtonId button) {
  if (closing_) return;
  switch (button) {
    case ButtonId::Start:
      if (ready_) StartGame();
      break;
    case ButtonId::Website:
      host_.OpenUrl(WebsitePageUrl(texts_.websiteUrl));
      break;
    case ButtonId::Support:
    case ButtonId::Community:
      host_.OpenUrl(texts_.communityUrl);
      break;
    case ButtonId::Minimise:
      host_.ShowWindowAs(WindowShow::Minimised);
      break;
    case ButtonId::Close:
      host_.CancelEngine();
      OnClosing();
      host_.Quit();
      break;
    case ButtonId::Settings:
      OpenSettings();
      break;
    case ButtonId::None:
      break;
  }
}

void WindowController::OnCountdownTick() {
  if (countdown_ < 1) return;
  --countdown_;
  Changed(FaceChange::StartButton);
  if (countdown_ == 0) StartGame();
}

void WindowController::OnClosing() {
  StopCountdown();
  closing_ = true;
}

void WindowController::StartCountdown() {
  if (autoLaunchDisabled_ || closing_) return;
  countdown_ = kCountdownSeconds;
  Changed(FaceChange::Whole);
  host_.SetCountdownTimer(true);
}

void WindowController::StopCountdown() {
  if (countdown_ != -1) Changed(FaceChange::Whole);
  countdown_ = -1;
  host_.SetCountdownTimer(false);
}

BoxAnswer WindowController::Box(const std::u16string& text, const std::u16string& caption,
                                BoxKind kind) {
  // The box pumps messages: snapshots and ticks may arrive while it is open.
  ++boxDepth_;
  BoxAnswer answer = BoxAnswer::Cancel;
  try {
    answer = host_.ShowBox(text, caption, kind);
  } catch (...) {
    --boxDepth_;
    throw;
  }
  --boxDepth_;
  Changed(FaceChange::Whole);
  return answer;
}

void WindowController::StartGame() {
  StopCountdown();
  host_.ShowWindowAs(WindowShow::Minimised);
  std::uint32_t error = 0;
  const LaunchResult result = host_.LaunchGame(&error);
  if (result == LaunchResult::kStarted) {
    host_.ShowWindowAs(WindowShow::Hidden);
    OnClosing();
    host_.Quit();
    return;
  }
  if (result != LaunchResult::kEntryMissing && result != LaunchResult::kFailed) return;
  host_.ShowWindowAs(WindowShow::Restored);
  const std::u16string text =
      result == LaunchResult::kEntryMissing ? texts_.strings.LaunchEntryMissing : LaunchFailureText(error);
  Box(text, texts_.strings.LaunchErrorTitle, BoxKind::LaunchWarning);
  // Ten seconds later the start is tried again, unless the user steps in.
  if (ready_ && !closing_) StartCountdown();
}

void WindowController::OpenSettings() {
  autoLaunchDisabled_ = true;
  StopCountdown();
  std::uint32_t error = 0;
  switch (host_.StartSettings(&error)) {
    case SettingsStart::Started:
      return;
    case SettingsStart::Missing:
      Box(u"config.exe bulunamadi.", texts_.strings.LaunchErrorTitle, BoxKind::LaunchWarning);
      return;
    case SettingsStart::Failed: {
      std::u16string text = texts_.strings.LaunchFailed;
      if (error != 0) text += u"\n\nWin32: " + ToWideDecimalUnsigned(error);
      Box(text, texts_.strings.LaunchErrorTitle, BoxKind::LaunchWarning);
      return;
    }
  }
}

void WindowController::ShowUpdateError(const ProgressState& failure) {
  const ProgressState shown = failure;
  const std::u16string text = shown.statusText + u"\n\n" + texts_.strings.UpdateErrorHint;
  if (Box(text, texts_.strings.UpdateErrorTitle, BoxKind::UpdateError) != BoxAnswer::Retry) return;
  if (closing_) return;
  state_ = ProgressState{};
  state_.statusText = texts_.strings.Checking;
  ready_ = false;
  Changed(FaceChange::Whole);
  try {
    host_.StartEngine();
  } catch (...) {
    // No new run started: the failure stays on screen rather than a check
    // that never progresses.
    state_ = shown;
    ready_ = false;
  }
}

}  // namespace emberfall

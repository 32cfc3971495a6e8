// Draws the launcher's face for the screen tests at the top-left corner of
// the screen with the real drawing code, over the plain background, or for
// "still" over the video's first frame, from a video whose every frame
// route is refused, through the presentation of this system or the one
// named:
//   emb_render_probe downloading|de_verifying|tr_downloads|summary|hover|still <status file>
//                    [gdi|direct2d]
// The status file gets "recovered=0|1 background=clear|still|video
// presentation=gdi|direct2d" at frame 20 (the render target is dropped at
// frame 10); the probe ends when "<status>.stop" appears.
#include "core/win/windows_include.h"

#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/localization.h"
#include "engine/patch_engine.h"
#include "ui/background_video.h"
#include "ui/render_resources.h"
#include "ui/video_preparation.h"

namespace emberfall {
namespace {

struct Probe {
  RenderResources render;
  ProgressState state;
  UiStrings strings = LoadUiStrings(Language::English);
  ButtonId hover = ButtonId::None;
  int countdown = -1;
  int frames = 0;
  bool recovered = false;
  std::filesystem::path status;
  std::unique_ptr<BackgroundVideo> video;
};

Probe* g_probe = nullptr;

// The widest texts of the face's one-line rows: the longest failure message,
// six-digit counts (German verifying, Turkish downloads) and a deep path.
void ShowWidestTexts(Probe& probe, Language language) {
  probe.strings = LoadUiStrings(language);
  ProgressState& s = probe.state;
  s.statusText.clear();
  const SpaceShortfall space{1099511627775, 1099511627775};
  for (std::uint32_t code = 0; code <= 21; ++code) {
    std::u16string failure = FailureStatusText(probe.strings, CodeOfNumber(code), space);
    if (failure.size() > s.statusText.size()) s.statusText = std::move(failure);
  }
  s.detailText = language == Language::German
                     ? FormatVerifyingFiles(probe.strings, 999999, 999999)
                     : FormatPreparingDownloads(probe.strings, 999999, 999999);
  s.noteText = u"data/maps/";
  for (int i = 0; i < 5; ++i) s.noteText += u"ember valley north ridge/";
  s.noteText += u"terrain.pak";
}

// The widest line of where a finished run's bytes came from, of the three
// languages, on the note row of READY.
void ShowWidestSummary(Probe& probe) {
  ProgressState& s = probe.state;
  for (Language language : {Language::English, Language::German, Language::Turkish}) {
    const std::int64_t most = 1099511627775;  // 1024.0 GB
    std::u16string line = FormatTransferSummary(LoadUiStrings(language), most, most, most);
    if (line.size() > s.noteText.size()) s.noteText = std::move(line);
  }
}

void SetScenario(Probe& probe, const std::string& scenario) {
  ProgressState& s = probe.state;
  if (scenario != "hover" && scenario != "summary") {
    s.stage = PatchStage::Download;
    s.statusText = probe.strings.Downloading;
    s.detailText = u"1.0 MB / 2.0 MB";
    s.barText = u"1.5 MB/s";
    s.noteText = u"data/maps/ember_valley.pak";
    s.overallPercent = 50;
    s.filePercent = 25;
    if (scenario == "de_verifying") ShowWidestTexts(probe, Language::German);
    if (scenario == "tr_downloads") ShowWidestTexts(probe, Language::Turkish);
    return;
  }
  s.stage = PatchStage::Done;
  s.statusText = probe.strings.ReadyToPlay;
  s.detailText = probe.strings.UpToDate;
  s.overallPercent = s.filePercent = 100;
  s.ready = true;
  if (scenario == "summary") {
    ShowWidestSummary(probe);
    return;
  }
  probe.countdown = 7;
  probe.hover = ButtonId::Start;
}

void DrawFrame(Probe& p) {
  // A device lost halfway, as by a driver reset: the next frame rebuilds it.
  if (p.frames == 10) p.render.DiscardDeviceResources();
  p.render.Render(p.state, p.strings, p.state.ready, p.hover, p.video.get(), p.countdown);
  ++p.frames;
  if (p.frames == 11) p.recovered = p.render.hasRenderTarget();
  if (p.frames == 20) {
    static const char* const kBackgrounds[] = {"clear", "still", "video"};
    std::ofstream(p.status) << "recovered=" << p.recovered << " background="
                            << kBackgrounds[static_cast<int>(p.render.lastBackground())]
                            << " presentation="
                            << (p.render.presentation() == Presentation::Gdi ? "gdi" : "direct2d")
                            << "\n";
  }
  std::error_code ec;
  std::filesystem::path stop = p.status;
  if (std::filesystem::exists(stop += ".stop", ec) || p.frames > 60000 / 33) PostQuitMessage(0);
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_probe != nullptr && message == WM_TIMER) {
    DrawFrame(*g_probe);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wParam, lParam);
}

int Run(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  const std::string named = argc == 4 ? argv[3] : "";
  const Presentation presentation = named == "gdi"        ? Presentation::Gdi
                                    : named == "direct2d" ? Presentation::Direct2D
                                                          : DefaultPresentation();
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  auto probe = std::make_unique<Probe>();
  probe->status = argv[2];
  SetScenario(*probe, argv[1]);
  if (std::string(argv[1]) == "still") {
    probe->video = std::make_unique<BackgroundVideo>(FrameRoutes{.bitmap = false, .reader = false, .texture = false});
    WaitForBackgroundVideo(nullptr, 15000);
    if (probe->video->StartVideo(nullptr)) return 1;  // no route may play
    probe->video->DecodeStill(nullptr);
  }
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ProbeProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"EmbRenderProbe";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(WS_EX_APPWINDOW, L"EmbRenderProbe", L"Emb Render Probe", WS_POPUP,
                                0, 0, 1124, 618, nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr || !probe->render.InitRendering(window, presentation)) {
    std::fprintf(stderr, "no window or InitRendering failed\n");
    return 1;
  }
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  g_probe = probe.get();
  SetTimer(window, 1, 33, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  g_probe = nullptr;  // the process ends: no orderly teardown needed
  return 0;
}

}  // namespace
}  // namespace emberfall

int main(int argc, char** argv) { return emberfall::Run(argc, argv); }

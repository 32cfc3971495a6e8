// Draws the launcher's face for one scenario into a borderless window at the
// top-left corner of the screen, with the real drawing code, the embedded
// icon and, when the engine can, the video. The screen tests take a
// screenshot of it and check pixels at design coordinates.
//
//   emb_render_probe <scenario> <status file> [width height]
//
// Scenarios: downloading, ready, hover. The status file gets "frames=N
// video=0|1 recovered=0|1" once 20 frames are drawn (the render target is
// dropped at frame 10 and must be back at frame 11); the probe ends when
// "<status>.stop" appears, or after 60 s. After that report each
// "<status>.next" (taken away by the probe) turns to the next page of the
// widest German and Turkish texts, and "<status>.page" names the page (0, 1)
// once it is on screen.
#include "core/win/windows_include.h"

#include <objbase.h>

#include <cstdio>
#include <iterator>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/localization.h"
#include "core/patch_engine.h"
#include "ui/background_video.h"
#include "ui/render_resources.h"

namespace emberfall {
namespace {

struct Probe {
  RenderResources render;
  BackgroundVideo* video = nullptr;
  ProgressState state;
  UiStrings strings = LoadUiStrings(Language::English);
  bool ready = false;
  ButtonId hover = ButtonId::None;
  int countdown = -1;
  int frames = 0;
  int videoFrames = 0;
  bool recovered = false;
  std::filesystem::path status;
  int page = -1;  // the overflow page shown; -1: the scenario's own face
  int pageFrames = 0;
};

Probe* g_probe = nullptr;

// The widest texts the face's one-line rows get: the longest failure message
// on the status row, a counter with six-digit counts on the detail row, a
// deep path on the note row.
struct OverflowPage {
  Language language;
  bool verifying;  // the verification counter, else the download one
};
constexpr OverflowPage kOverflowPages[] = {{Language::German, true}, {Language::Turkish, false}};
constexpr int kOverflowPageCount = static_cast<int>(std::size(kOverflowPages));

void ShowOverflowPage(Probe& probe, int page) {
  const OverflowPage& p = kOverflowPages[page];
  probe.strings = LoadUiStrings(p.language);
  ProgressState& s = probe.state;
  s.statusText.clear();
  for (std::uint32_t code = 0; code < 18; ++code) {
    std::u16string failure = ErrorMessageForCode(probe.strings, code);
    if (failure.size() > s.statusText.size()) s.statusText = std::move(failure);
  }
  s.detailText = p.verifying ? FormatVerifyingFiles(probe.strings, 999999, 999999)
                             : FormatPreparingDownloads(probe.strings, 999999, 999999);
  s.noteText = u"data/maps/";
  for (int i = 0; i < 5; ++i) s.noteText += u"ember valley north ridge/";
  s.noteText += u"terrain.pak";
  probe.page = page;
  probe.pageFrames = 0;
}

// After the first report: turns to the next overflow page when the screen
// test asks, and tells it once that page is on screen.
void StepOverflowPages(Probe& probe) {
  std::error_code ec;
  auto next = probe.status;
  next += ".next";
  if (std::filesystem::remove(next, ec) && probe.page + 1 < kOverflowPageCount) {
    ShowOverflowPage(probe, probe.page + 1);
  }
  // The page was drawn by the frame before this one as well.
  if (probe.page >= 0 && ++probe.pageFrames == 2) {
    auto current = probe.status;
    current += ".page";
    std::ofstream(current) << probe.page << "\n";
  }
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_probe != nullptr && message == WM_TIMER) {
    // Halfway to the first report the device is lost, as a driver reset
    // would do: the next frame must build the target again.
    if (g_probe->frames == 10) g_probe->render.DiscardDeviceResources();
    g_probe->render.Render(g_probe->state, g_probe->strings, g_probe->ready, g_probe->hover,
                           g_probe->video, g_probe->countdown);
    ++g_probe->frames;
    if (g_probe->frames == 11) g_probe->recovered = g_probe->render.hasRenderTarget();
    if (g_probe->render.lastFrameHadVideo()) ++g_probe->videoFrames;
    if (g_probe->frames > 20) StepOverflowPages(*g_probe);
    if (g_probe->frames == 20) {
      std::ofstream(g_probe->status) << "frames=" << g_probe->frames
                                     << " video=" << (g_probe->videoFrames > 0 ? 1 : 0)
                                     << " recovered=" << (g_probe->recovered ? 1 : 0) << "\n";
    }
    std::error_code ec;
    auto stop = g_probe->status;
    stop += ".stop";
    if (std::filesystem::exists(stop, ec) || g_probe->frames > 60000 / 33) PostQuitMessage(0);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wParam, lParam);
}

void SetScenario(Probe& probe, const std::string& scenario) {
  ProgressState& s = probe.state;
  if (scenario == "downloading") {
    s.stage = static_cast<std::uint32_t>(PatchStage::Download);
    s.statusText = probe.strings.Downloading;
    s.detailText = u"1.0 MB / 2.0 MB";
    s.barText = u"1.5 MB/s";
    s.noteText = u"data/maps/ember_valley.pak";
    s.overallPercent = 50;
    s.filePercent = 25;
  } else {
    s.stage = static_cast<std::uint32_t>(PatchStage::Done);
    s.statusText = probe.strings.ReadyToPlay;
    s.detailText = probe.strings.UpToDate;
    s.overallPercent = 100;
    s.filePercent = 100;
    s.ready = true;
    probe.ready = true;
    probe.countdown = 7;
    if (scenario == "hover") probe.hover = ButtonId::Start;
  }
}

int Run(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: emb_render_probe <scenario> <status file> [width height]\n");
    return 2;
  }
  const int width = argc >= 5 ? std::atoi(argv[3]) : 1124;
  const int height = argc >= 5 ? std::atoi(argv[4]) : 618;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  auto probe = std::make_unique<Probe>();
  probe->status = argv[2];
  SetScenario(*probe, argv[1]);

  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = ProbeProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = L"EmbRenderProbe";
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(WS_EX_APPWINDOW, L"EmbRenderProbe", L"Emb Render Probe", WS_POPUP,
                                0, 0, width, height, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  if (!probe->render.InitRendering(window)) {
    std::fprintf(stderr, "InitRendering failed\n");
    return 1;
  }
  BackgroundVideo video;
  const bool playing = WaitForBackgroundVideo(nullptr, 15000) && video.StartVideo(nullptr);
  probe->video = &video;
  std::fprintf(stderr, "video %s\n", playing ? "playing" : "not playing");
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  g_probe = probe.get();
  SetTimer(window, 1, 33, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  g_probe = nullptr;
  DestroyWindow(window);
  video.ShutdownVideo();
  probe.reset();
  CoUninitialize();
  return 0;
}

}  // namespace
}  // namespace emberfall

int main(int argc, char** argv) {
  try {
    return emberfall::Run(argc, argv);
  } catch (...) {
    return 1;
  }
}

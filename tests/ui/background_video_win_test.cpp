// The embedded video under Wine: the file in the temporary folder and the
// media engine.
#include "ui/background_video.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/fs_path.h"
#include "core/win/scoped_com.h"
#include "core/win/scoped_handle.h"
#include "ui/video_preparation.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

// Dispatches the thread's messages for |ms| milliseconds.
void Pump(int ms) {
  for (int i = 0; i < ms / 20; ++i) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class BackgroundVideoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    com_.reset(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_EQ(com_.get(), S_OK);
  }
  void TearDown() override { com_.reset(); }

  win::ScopedComApartment com_;

  const std::string resource_{VideoResourceBytes(nullptr)};
  test::TempDir temp_;
  test::ScopedEnvironmentVariable tmp_{"TMP", Utf8Path(temp_.path())};  // read by GetTempPathW
  const std::filesystem::path file_ = temp_.path() / "EmbLauncher" / "hero.mp4";
};

// The folder is the user's to write while the launcher runs elevated: only
// an identical file is reused, and the prepared one is held against changes.
TEST_F(BackgroundVideoTest, OnlyAnIdenticalFileIsReusedAndThePreparedOneIsHeld) {
  ASSERT_FALSE(resource_.empty()) << "the test executable carries no RCDATA 101";
  EXPECT_TRUE(ExtractVideoResource(GetModuleHandleW(L"kernel32.dll")).empty());
  const std::pair<std::optional<std::string>, bool> cases[] = {
      {std::nullopt, false}, {resource_, true}, {std::string(resource_.size(), 'X'), false}};
  for (const auto& [before, reusable] : cases) {
    SCOPED_TRACE(!before ? "no file" : reusable ? "identical" : "same size, other contents");
    ReleaseVideoFile();
    std::filesystem::remove_all(file_.parent_path());
    if (before) test::WriteFileBytes(file_, *before);
    EXPECT_EQ(FindReusableVideoFile(nullptr).has_value(), reusable);
    EXPECT_EQ(FsPath(ExtractVideoResource(nullptr)), file_);
    const std::wstring path = file_.wstring();
    const win::ScopedFileHandle writer(CreateFileW(
        path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.is_valid());
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_TRUE(test::ReadFileBytes(file_) == resource_);
  }
  ReleaseVideoFile();
}

BackgroundVideo* g_video = nullptr;
std::string g_nested;

// What a snapshot turning ready does while a start waits: start the video.
void CALLBACK StartAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  const bool during = g_video->starting();
  const bool started = g_video->StartVideo(nullptr);
  g_nested = std::string(during ? "during a start" : "after it") + (started ? ", started" : "") +
             (g_video->starting() ? ", the start goes on" : ", the start was ended");
}

// Wine's engine draws frames only into Direct3D 11 textures: there the start
// fails and the engine must stop decoding. Each start is let settle first, as
// a shutdown mid-start can stall Wine's media source. A start set off by the
// first start's own message wait is refused and leaves that start alone.
TEST_F(BackgroundVideoTest, AStartPlaysOrRefusesAndStopsTheEngineTheSameWayTwice) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));  // prepares it
  EXPECT_EQ(FsPath(GetVideoPath(nullptr)), file_);
  BackgroundVideo video;
  g_video = &video;
  SetTimer(nullptr, 0, 1, &StartAgain);
  const bool first = video.StartVideo(nullptr);
  EXPECT_EQ(g_nested, "during a start, the start goes on");
  for (const bool again : {false, true}) {
    SCOPED_TRACE(again ? "second start" : "first start");
    EXPECT_EQ(again ? video.StartVideo(nullptr) : first, first);
    EXPECT_EQ(video.playing(), first);
    EXPECT_EQ(video.framesRefused(), !first);
    const double at = video.CurrentTime();
    Pump(1500);
    EXPECT_TRUE(first || video.CurrentTime() - at < 0.5) << "the refused engine went on playing";
  }
  video.ShutdownVideo();
  EXPECT_FALSE(video.playing());
}

// Distinct colours of every other pixel of each row.
std::size_t Colours(const std::uint8_t* pixels, std::uint32_t pitch, std::uint32_t height) {
  std::set<std::uint32_t> seen;
  for (const std::uint8_t* p = pixels; p + 4 <= pixels + pitch * height; p += 8) {
    seen.insert(p[0] << 16 | p[1] << 8 | p[2]);
  }
  return seen.size();
}

// The routes a player's system may end on where the engine refuses WIC
// bitmaps (Wine's): the source reader, else the engine's texture.
struct RouteCase {
  const char* name;
  FrameRoutes routes;
  FrameRoute refusedBitmaps;  // the route taken after the bitmap refusal
};
constexpr RouteCase kRouteCases[] = {{"reader", {}, FrameRoute::Reader},
                                     {"texture", {.reader = false}, FrameRoute::Texture}};

// The current frame's pixels, empty when none could be had.
std::vector<std::uint8_t> CurrentPixels(BackgroundVideo& video) {
  if (video.route() == FrameRoute::Reader) {
    const DecodedFrame frame = video.LatestDecodedFrame();
    if (frame.data() == nullptr) return {};
    EXPECT_EQ(frame.width() * 1000 + frame.height(), 854u * 1000 + 480u);
    return {frame.data(), frame.data() + frame.pitch() * frame.height()};
  }
  const MappedFrame frame = video.ReadFrame(320, 180);
  if (frame.data() == nullptr) return {};
  return {frame.data(), frame.data() + frame.pitch() * frame.height()};
}

// Frames reach the renderer by a route (under Wine the reader's, as its
// engine refuses WIC bitmaps, and the texture without the reader) and
// differ a second apart; the first frame decodes as the still, also for a
// video whose every route is refused.
TEST_F(BackgroundVideoTest, FramesComeByARouteAndTheFirstFrameIsTheStill) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  {
    BackgroundVideo refused({.bitmap = false, .reader = false, .texture = false});
    EXPECT_FALSE(refused.StartVideo(nullptr));
    ASSERT_TRUE(refused.DecodeStill(nullptr));
    const StillFrame& still = *refused.still();
    EXPECT_EQ(still.width * 1000 + still.height, 854u * 1000 + 480u);
    EXPECT_GT(Colours(still.pixels.data(), still.width * 4, still.height), 30u);
  }
  for (const RouteCase& c : kRouteCases) {
    SCOPED_TRACE(c.name);
    BackgroundVideo video(c.routes);
    if (!video.StartVideo(nullptr)) {
      // Wine makes Direct3D devices only with a display; the display tests
      // run this again on one.
      ASSERT_FALSE(TextureFrames().Create()) << "a Direct3D 11 device exists, yet no route played";
      GTEST_SKIP() << "no Direct3D 11 device (no display)";
    }
    if (video.route() == FrameRoute::Bitmap) return;  // drawn by the renderer
    // Only after an engine refused the bitmaps.
    EXPECT_EQ(video.route(), c.refusedBitmaps);
    EXPECT_GE(video.enginesMade(), 1u);
    std::vector<std::uint8_t> frames[2];
    for (auto& pixels : frames) {
      if (&pixels == &frames[1]) Pump(1000);
      ASSERT_TRUE(test::WaitUntil([&] {
        Pump(20);
        // Wine's engine says S_OK again for a frame already reported.
        if (video.NewFrameReady()) {
          EXPECT_FALSE(video.NewFrameReady()) << "the same frame twice";
        }
        pixels = CurrentPixels(video);
        return !pixels.empty() && Colours(pixels.data(), static_cast<std::uint32_t>(pixels.size()), 1) > 30;
      }));
    }
    EXPECT_NE(frames[0], frames[1]) << "the frames a second apart are the same";
  }
}

// The 6 s clip loops: frames go on past its end, and from the one engine, as
// each new engine costs memory that Wine never gives back.
TEST_F(BackgroundVideoTest, FramesComeOnPastTheClipsEndFromOneEngine) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  for (const RouteCase& c : kRouteCases) {
    SCOPED_TRACE(c.name);
    BackgroundVideo video(c.routes);
    if (!video.StartVideo(nullptr)) GTEST_SKIP() << "no route plays here (no display)";
    const std::uint32_t made = video.enginesMade();  // also any the start set aside
    const auto start = std::chrono::steady_clock::now();
    int late = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(9500)) {
      Pump(20);
      const bool fresh = video.NewFrameReady();
      if (fresh && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(8000)) ++late;
    }
    EXPECT_GT(late, 5) << "too few frames after the clip's end";
    EXPECT_EQ(video.enginesMade(), made);
  }
}

// A box right after the start pauses the video: the reader holds its
// frames; the texture route's young engine plays on unseen rather than
// being shut down (Wine's can stall the thread then). Frames come on after
// the box without a new engine.
TEST_F(BackgroundVideoTest, FramesComeOnAfterAPauseRightAfterTheStart) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  for (const RouteCase& c : kRouteCases) {
    SCOPED_TRACE(c.name);
    BackgroundVideo video(c.routes);
    if (!video.StartVideo(nullptr)) GTEST_SKIP() << "no route plays here (no display)";
    const std::uint32_t made = video.enginesMade();
    video.SetPaused(true);
    video.NewFrameReady();
    Pump(500);
    if (video.route() == FrameRoute::Reader) {
      EXPECT_FALSE(video.NewFrameReady()) << "frames came while paused";
    }
    video.SetPaused(false);
    int fresh = 0;
    ASSERT_TRUE(test::WaitUntil([&] {
      Pump(20);
      fresh += video.NewFrameReady() ? 1 : 0;
      return fresh > 5;
    }));
    EXPECT_EQ(video.enginesMade(), made);
  }
}

// The start's wait dispatches the thread's messages: a quit taken there must
// still reach the message loop.
TEST_F(BackgroundVideoTest, TheStartsWaitKeepsAQuitForTheMessageLoop) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  BackgroundVideo video;
  PostQuitMessage(7);
  video.StartVideo(nullptr);
  MSG msg{};
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was lost";
  EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace
}  // namespace emberfall

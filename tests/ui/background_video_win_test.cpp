// The embedded video under Wine: extraction into the temporary folder, the
// content check that decides reuse, and playback through the media engine.
#include "ui/background_video.h"

#include <gtest/gtest.h>

#include "core/win/windows_include.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "core/fs_path.h"
#include "tests/support/test_support.h"
#include "ui/com_ptr.h"
#include "ui/video_file.h"

namespace emberfall {
namespace {

class BackgroundVideoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    resource_ = VideoResourceBytes(nullptr);
    ASSERT_FALSE(resource_.empty()) << "the test executable carries no RCDATA 101";
  }
  void TearDown() override { CoUninitialize(); }

  std::filesystem::path VideoFile() const { return temp_.path() / "EmbLauncher" / "hero.mp4"; }

  test::TempDir temp_;
  // GetTempPathW reads TMP first.
  test::ScopedEnvironmentVariable tmp_{"TMP", Utf8Path(temp_.path())};
  std::string_view resource_;
};

TEST_F(BackgroundVideoTest, TempVideoPathIsUnderTheTemporaryFolder) {
  const std::u16string path = TempVideoPath();
  const std::u16string folder = WidePath(temp_.path());
  ASSERT_GE(path.size(), folder.size());
  EXPECT_EQ(path.substr(path.size() - 21), u"\\EmbLauncher\\hero.mp4");
  EXPECT_EQ(std::filesystem::equivalent(FsPath(path).parent_path().parent_path(), temp_.path()),
            true);
}

TEST_F(BackgroundVideoTest, ExtractsTheResourceOnceAndReusesAnIdenticalFile) {
  EXPECT_FALSE(FindReusableVideoFile(nullptr).has_value());
  const std::u16string path = ExtractVideoResource(nullptr);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(test::ReadFileBytes(VideoFile()), resource_);
  const auto reusable = FindReusableVideoFile(nullptr);
  ASSERT_TRUE(reusable.has_value());
  EXPECT_EQ(*reusable, path);
}

TEST_F(BackgroundVideoTest, SameSizeButOtherContentsIsWrittenAgain) {
  // The folder is the user's to write while the launcher runs elevated: a
  // planted file of the right size must not be played.
  std::string planted(resource_.size(), 'X');
  test::WriteFileBytes(VideoFile(), planted);
  EXPECT_FALSE(FindReusableVideoFile(nullptr).has_value());
  ASSERT_FALSE(ExtractVideoResource(nullptr).empty());
  EXPECT_EQ(test::ReadFileBytes(VideoFile()), resource_);
}

TEST_F(BackgroundVideoTest, OtherSizeIsOverwritten) {
  test::WriteFileBytes(VideoFile(), "short");
  ASSERT_FALSE(ExtractVideoResource(nullptr).empty());
  EXPECT_EQ(test::ReadFileBytes(VideoFile()), resource_);
}

// The launcher runs elevated while the user can write the temporary folder:
// once checked, the file stays as it is for as long as the engine may read
// it, whether it was written or found. (Wine renames a folder whatever
// handles are open in it, so the hold on the folder is not testable here.)
TEST_F(BackgroundVideoTest, ThePreparedFileCannotBeChangedOrMoved) {
  struct Case {
    const char* name;
    bool planted;  // an identical file is there before
  };
  for (const Case& c : {Case{"written", false}, Case{"reused", true}}) {
    SCOPED_TRACE(c.name);
    ReleaseVideoFile();
    std::filesystem::remove_all(VideoFile().parent_path());
    if (c.planted) test::WriteFileBytes(VideoFile(), std::string(resource_));
    ASSERT_FALSE(ExtractVideoResource(nullptr).empty());
    const std::wstring file = VideoFile().wstring();
    HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(file.c_str()));
    EXPECT_FALSE(MoveFileW(file.c_str(), (file + L".moved").c_str()));
    EXPECT_TRUE(test::ReadFileBytes(VideoFile()) == resource_);
  }
  ReleaseVideoFile();
}

TEST_F(BackgroundVideoTest, ExtractionFailsWhileTheFileIsHeldOpen) {
  test::WriteFileBytes(VideoFile(), "short");
  const std::wstring file = VideoFile().wstring();
  HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ExtractVideoResource(nullptr).empty());
  CloseHandle(held);
  EXPECT_FALSE(ExtractVideoResource(nullptr).empty());
}

TEST_F(BackgroundVideoTest, PreparationRunsInTheBackgroundAndSignals) {
  PrepareBackgroundVideo(nullptr);
  EXPECT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  EXPECT_EQ(test::ReadFileBytes(VideoFile()), resource_);
  EXPECT_EQ(GetVideoPath(nullptr), WidePath(VideoFile()));
}

// Counts pixels that are neither black nor the bitmap's initial fill.
int CountVideoPixels(IWICBitmap* bitmap) {
  UINT width = 0;
  UINT height = 0;
  bitmap->GetSize(&width, &height);
  const WICRect whole{0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  win::ComPtr<IWICBitmapLock> lock;
  if (FAILED(bitmap->Lock(&whole, WICBitmapLockRead, lock.put()))) return -1;
  UINT stride = 0;
  UINT size = 0;
  BYTE* data = nullptr;
  lock->GetStride(&stride);
  lock->GetDataPointer(&size, &data);
  int count = 0;
  for (UINT y = 0; y < height; ++y) {
    for (UINT x = 0; x < width; ++x) {
      const BYTE* p = data + y * stride + x * 4;
      if (p[0] + p[1] + p[2] > 30) ++count;
    }
  }
  return count;
}

// Lets the engine run for |ms| while dispatching messages. Shutting an
// engine down while its pipeline is still starting can stall Wine's media
// source, so every test lets playback settle first.
void Play(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(BackgroundVideoTest, EnginePlaysTheEmbeddedVideoWhereItsFramesCanBeDrawn) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  BackgroundVideo video;
  const bool started = video.StartVideo(nullptr);
  DWORD width = 0;
  DWORD height = 0;
  if (RunningUnderWine()) {
    // Wine's engine decodes and plays the clip, but draws frames only into
    // Direct3D 11 textures: the start fails and the engine stops decoding.
    EXPECT_FALSE(started);
    EXPECT_TRUE(video.framesRefused());
    EXPECT_FALSE(video.playing());
    const double stoppedAt = video.CurrentTime();
    Play(1500);
    EXPECT_LT(video.CurrentTime() - stoppedAt, 0.5) << "the refused engine went on playing";
    return;
  }
  ASSERT_TRUE(started) << "the media engine did not play the embedded video";
  EXPECT_FALSE(video.framesRefused());
  ASSERT_TRUE(video.NativeVideoSize(&width, &height));
  EXPECT_EQ(width, 854u);
  EXPECT_EQ(height, 480u);
  Play(1500);
  video.ShutdownVideo();
  EXPECT_FALSE(video.playing());
  EXPECT_FALSE(video.NativeVideoSize(&width, &height));
}

TEST_F(BackgroundVideoTest, StartsAgainFromTheBeginningAfterTheEnd) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine's media engine neither loops nor seeks (SetLoop and SetCurrentTime "
                    "are stubs); the clip stops on its last frame there";
  }
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  BackgroundVideo video;
  ASSERT_TRUE(video.StartVideo(nullptr));
  // The clip is 6 s long. Past its end the position is back near the start
  // and playback goes on.
  double latest = 0;
  bool wrapped = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(14);
  while (std::chrono::steady_clock::now() < deadline && !wrapped) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    const double now = video.CurrentTime();
    if (now + 1.0 < latest) wrapped = true;
    latest = std::max(latest, now);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(wrapped) << "the furthest position seen was " << latest << " s";
  EXPECT_TRUE(video.playing());
}

TEST_F(BackgroundVideoTest, ASecondStartReplacesTheEngine) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  BackgroundVideo video;
  const bool first = video.StartVideo(nullptr);
  Play(1500);
  const bool second = video.StartVideo(nullptr);
  EXPECT_EQ(second, first);
  EXPECT_EQ(video.playing(), second);
  EXPECT_EQ(video.framesRefused(), !second);
  Play(1500);
}

TEST_F(BackgroundVideoTest, DeliversFramesCroppedToFill) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine's media engine transfers frames only into Direct3D 11 textures";
  }
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));
  BackgroundVideo video;
  ASSERT_TRUE(video.StartVideo(nullptr));
  win::ComPtr<IWICImagingFactory> factory;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWICImagingFactory, factory.put_void())));
  win::ComPtr<IWICBitmap> target;
  ASSERT_TRUE(SUCCEEDED(factory->CreateBitmap(320, 320, GUID_WICPixelFormat32bppPBGRA,
                                              WICBitmapCacheOnLoad, target.put())));
  bool transferred = false;
  for (int i = 0; i < 100 && !transferred; ++i) {
    transferred = video.TransferFrame(target.get());
    if (!transferred) std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  ASSERT_TRUE(transferred);
  // A square target crops the wide video's sides: no letter-box bars.
  EXPECT_GT(CountVideoPixels(target.get()), 320 * 320 / 4);
  video.ShutdownVideo();
  EXPECT_FALSE(video.TransferFrame(target.get()));
}

TEST_F(BackgroundVideoTest, StartWithoutAVideoFileFails) {
  // A module without RCDATA 101 (kernel32) gives no file and no engine.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  EXPECT_TRUE(VideoResourceBytes(kernel).empty());
  EXPECT_TRUE(ExtractVideoResource(kernel).empty());
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

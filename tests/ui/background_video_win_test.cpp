// The embedded video under Wine: extraction into the temporary folder, the
// content check that decides reuse, and the media engine.
#include "ui/background_video.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "core/fs_path.h"
#include "core/win/scoped_handle.h"
#include "tests/support/test_support.h"

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

// The folder is the user's to write while the launcher runs elevated: only
// an identical file is reused, and the prepared file stays as it is for as
// long as the engine may read it. (Wine renames a folder whatever handles
// are open in it, so the hold on the folder is not testable here.)
TEST_F(BackgroundVideoTest, OnlyAnIdenticalFileIsReusedAndThePreparedOneIsHeld) {
  EXPECT_TRUE(ExtractVideoResource(GetModuleHandleW(L"kernel32.dll")).empty());  // no RCDATA 101
  EXPECT_EQ(FsPath(TempVideoPath()), VideoFile());
  const struct {
    const char* name;
    std::optional<std::string> before;  // the file found there
    bool heldOpen;                      // by someone else, without sharing
    bool reusable;
  } cases[] = {
      {"no file", std::nullopt, false, false},
      {"identical", std::string(resource_), false, true},
      {"same size, other contents", std::string(resource_.size(), 'X'), false, false},
      {"other size", "short", false, false},
      {"held open", "short", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReleaseVideoFile();
    std::filesystem::remove_all(VideoFile().parent_path());
    if (c.before) test::WriteFileBytes(VideoFile(), *c.before);
    const std::wstring file = VideoFile().wstring();
    const win::ScopedFileHandle held(
        c.heldOpen ? CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                   : INVALID_HANDLE_VALUE);
    EXPECT_EQ(FindReusableVideoFile(nullptr).has_value(), c.reusable);
    const std::u16string path = ExtractVideoResource(nullptr);
    EXPECT_EQ(path.empty(), c.heldOpen);
    if (c.heldOpen) continue;
    EXPECT_EQ(FsPath(path), VideoFile());
    const win::ScopedFileHandle writer(CreateFileW(
        file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.is_valid());
    EXPECT_FALSE(DeleteFileW(file.c_str()));
    EXPECT_FALSE(MoveFileW(file.c_str(), (file + L".moved").c_str()));
    EXPECT_TRUE(test::ReadFileBytes(VideoFile()) == resource_);
  }
  ReleaseVideoFile();
}

// Lets the engine run for |ms| while dispatching messages. Shutting an
// engine down while its pipeline is still starting can stall Wine's media
// source, so every start is let settle first.
void Play(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Wine's engine decodes and plays the clip, but draws frames only into
// Direct3D 11 textures: there the start fails and the engine stops decoding.
TEST_F(BackgroundVideoTest, AStartPlaysOrRefusesAndStopsTheEngineTheSameWayTwice) {
  ASSERT_TRUE(WaitForBackgroundVideo(nullptr, 15000));  // prepares it
  EXPECT_TRUE(test::ReadFileBytes(VideoFile()) == resource_);
  BackgroundVideo video;
  const bool first = video.StartVideo(nullptr);
  for (const bool again : {false, true}) {
    SCOPED_TRACE(again ? "second start" : "first start");
    if (again) {
      EXPECT_EQ(video.StartVideo(nullptr), first);
    }
    EXPECT_EQ(video.playing(), first);
    EXPECT_EQ(video.framesRefused(), !first);
    const double at = video.CurrentTime();
    Play(1500);
    if (!first) {
      EXPECT_LT(video.CurrentTime() - at, 0.5) << "the refused engine went on playing";
    }
  }
  video.ShutdownVideo();
  EXPECT_FALSE(video.playing());
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

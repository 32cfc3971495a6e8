// The launcher window's own handles under Wine with a display, on a run that
// stays in its first request: the frame timer runs only while a video plays
// in a window that is not minimised, and the icons go with the window.
#include "ui/launcher_window.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <tuple>
#include <utility>
#include <vector>

#include "app/localization.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

TEST(LauncherWindowTest, NoFrameTimerWhileMinimisedAndTheIconsGoWithTheWindow) {
  test::LoopbackHttpServer server;
  // Short, as the window's destruction waits for the request in flight.
  server.Serve("/c.xml", test::Response::Stall(std::chrono::seconds(2)));
  LauncherWindowParts parts;
  parts.paths = GetLauncherPaths(nullptr);
  parts.strings = LoadUiStrings(Language::English);
  parts.engineOptions.configUrls = {server.Url("/c.xml")};
  auto window = CreateLauncherWindow(GetModuleHandleW(nullptr), std::move(parts));
  ASSERT_NE(window, nullptr);
  const HWND shown = window->window();
  const auto icon = [&](WPARAM kind) {
    return reinterpret_cast<HICON>(SendMessageW(shown, WM_GETICON, kind, 0));
  };
  const HICON big = icon(ICON_BIG), small = icon(ICON_SMALL);
  ASSERT_TRUE(big != nullptr && small != nullptr);

  ShowWindow(shown, SW_MINIMIZE);
  ASSERT_TRUE(test::WaitUntil([&] {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    return IsIconic(shown) != FALSE;
  }));
  // True only if the timer existed: a minimised window draws no frames.
  EXPECT_FALSE(KillTimer(shown, kRedrawTimer));

  window.reset();
  ICONINFO info{};
  EXPECT_FALSE(GetIconInfo(big, &info)) << "the big icon outlived its window";
  EXPECT_FALSE(GetIconInfo(small, &info)) << "the small icon outlived its window";
}

// What each read returns, with the message and wParam it leaves in the MSG.
const std::vector<std::tuple<BOOL, UINT, WPARAM>>* g_reads = nullptr;
std::size_t g_next = 0;

BOOL ScriptedGetMessage(MSG* msg) {
  const auto [result, message, wParam] = g_reads->at(g_next++);
  *msg = MSG{.message = message, .wParam = wParam};
  return result;
}

TEST(RunMessageLoopTest, EndsWithTheQuitCodeOrOneWhenAReadFails) {
  // What a failed read leaves in the MSG is undefined; here it looks like a quit.
  const std::pair<std::vector<std::tuple<BOOL, UINT, WPARAM>>, int> rows[] = {
      {{{TRUE, WM_NULL, 0}, {FALSE, WM_QUIT, 3}}, 3},
      {{{-1, WM_QUIT, 7}}, 1},
      {{{TRUE, WM_NULL, 0}, {-1, WM_QUIT, 9}}, 1},
  };
  for (const auto& [reads, exitCode] : rows) {
    g_reads = &reads;
    g_next = 0;
    EXPECT_EQ(RunMessageLoop(&ScriptedGetMessage), exitCode) << reads.size() << " reads";
    EXPECT_EQ(g_next, reads.size());
  }
}

}  // namespace
}  // namespace emberfall

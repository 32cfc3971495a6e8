#include "app/shell_open.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// Links go through the desktop shell, so that the browser does not inherit
// the launcher's elevation. The real shell route is tried without COM on the
// thread only: with COM, Wine's desktop might open a browser.
TEST(ShellOpenTest, TheDirectRouteOnlyWhenTheShellRefuses) {
  constexpr char16_t kUrl[] = u"https://emberfall.invalid/news?id=7&lang=tr#\u00e7ay yolu";
  const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  const std::pair<std::function<bool(const std::u16string&)>, const char*> cases[] = {
      {[](const std::u16string&) { return true; }, "shell"},
      {[](const std::u16string&) { return false; }, "shell direct"},
      {OpenUrlUnelevated, "shell direct"},  // no COM on the thread
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::string calls;
    UrlOpeners openers;
    openers.unelevated = [&](const std::u16string& url) {
      calls += url == kUrl ? "shell" : "shell(another URL)";
      return c.first(url);
    };
    openers.direct = [&](HWND window, const std::u16string& url) {
      calls += url == kUrl && window == owner ? " direct" : " direct(another URL or owner)";
    };
    OpenUrl(owner, kUrl, openers);
    EXPECT_EQ(calls, c.second);
  }
}

}  // namespace
}  // namespace emberfall

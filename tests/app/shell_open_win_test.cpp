// Links: through the desktop shell when it answers, otherwise straight from
// the launcher, always with the URL exactly as given.
#include "app/shell_open.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace emberfall {
namespace {

// Not a real host: the direct route is recorded, never taken.
constexpr char16_t kUrl[] = u"https://emberfall.invalid/news?id=7&lang=tr#\u00e7ay yolu";

// Without COM on the thread the real shell route cannot ask the shell. (With
// COM, whether Wine's desktop takes the request depends on what else runs in
// the prefix, and a test must not open a browser.)
TEST(ShellOpenTest, TheDirectRouteOnlyWhenTheShellRefuses) {
  const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  const struct {
    const char* name;
    std::function<bool(const std::u16string&)> shell;
    const char* calls;
  } cases[] = {
      {"the shell opens it", [](const std::u16string&) { return true; }, "shell"},
      {"the shell refuses", [](const std::u16string&) { return false; }, "shell direct"},
      {"no COM on the thread", OpenUrlUnelevated, "shell direct"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string calls;
    UrlOpeners openers;
    openers.unelevated = [&](const std::u16string& url) {
      calls += url == kUrl ? "shell" : "shell(another URL)";
      return c.shell(url);
    };
    openers.direct = [&](HWND window, const std::u16string& url) {
      calls += url == kUrl && window == owner ? " direct" : " direct(another URL or owner)";
    };
    OpenUrl(owner, kUrl, openers);
    EXPECT_EQ(calls, c.calls);
  }
}

}  // namespace
}  // namespace emberfall

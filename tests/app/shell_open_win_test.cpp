// Links: through the desktop shell when it answers, otherwise straight from
// the launcher, always with the URL exactly as given.
#include "app/shell_open.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace emberfall {
namespace {

// Not a real host: the direct route is recorded, never taken.
constexpr char16_t kUrl[] = u"https://emberfall.invalid/news?id=7&lang=tr#\u00e7ay yolu";

struct Calls {
  std::vector<std::u16string> unelevated;
  std::vector<std::u16string> direct;
  std::vector<HWND> owners;
};

UrlOpeners Recording(Calls& calls, bool shellAccepts) {
  UrlOpeners openers;
  openers.unelevated = [&calls, shellAccepts](const std::u16string& url) {
    calls.unelevated.push_back(url);
    return shellAccepts;
  };
  openers.direct = [&calls](HWND owner, const std::u16string& url) {
    calls.direct.push_back(url);
    calls.owners.push_back(owner);
  };
  return openers;
}

TEST(ShellOpenTest, TheDirectRouteOnlyWhenTheShellRefuses) {
  struct Case {
    const char* name;
    bool shellAccepts;
    size_t directCalls;
  };
  const Case cases[] = {
      {"the shell opens it", true, 0},
      {"the shell refuses", false, 1},
  };
  const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Calls calls;
    OpenUrl(owner, kUrl, Recording(calls, c.shellAccepts));
    EXPECT_EQ(calls.unelevated, std::vector<std::u16string>{kUrl});
    ASSERT_EQ(calls.direct.size(), c.directCalls);
    if (c.directCalls == 1) {
      EXPECT_EQ(calls.direct[0], kUrl);
      EXPECT_EQ(calls.owners[0], owner);
    }
  }
}

// Without COM on the thread the shell cannot be asked: the link still opens,
// through the second route. (With COM, whether Wine's desktop takes the
// request depends on what else runs in the prefix, and a test must not open
// a browser.)
TEST(ShellOpenTest, WithoutCOMTheLinkStillOpens) {
  Calls calls;
  UrlOpeners openers = Recording(calls, false);
  openers.unelevated = OpenUrlUnelevated;
  OpenUrl(nullptr, kUrl, openers);
  EXPECT_EQ(calls.direct, std::vector<std::u16string>{kUrl});
}

}  // namespace
}  // namespace emberfall

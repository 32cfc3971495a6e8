// The relaunch marker between an unelevated launcher and the copy it starts,
// with a real second process playing the copy.
#include "app/relaunch_marker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(RelaunchMarkerTest, OneMarkerPerExecutableWhateverTheCase) {
  const std::wstring name = RelaunchMarkerName(L"C:\\Games\\Emberfall\\launcher.exe");
  EXPECT_EQ(name.rfind(L"Local\\EmbLauncherRelaunch.", 0), 0u) << std::string(name.begin(), name.end());
  EXPECT_EQ(name.find(L'\\', 6), std::wstring::npos);
  EXPECT_EQ(RelaunchMarkerName(L"c:\\games\\EMBERFALL\\Launcher.EXE"), name);
  EXPECT_NE(RelaunchMarkerName(L"D:\\Games\\Emberfall\\launcher.exe"), name);
}

TEST(RelaunchMarkerTest, ACopyFindsTheMarkerOnlyWhileItsParentHoldsIt) {
  const std::wstring path = L"C:\\EmbTest\\" + std::to_wstring(GetCurrentProcessId()) + L"\\launcher.exe";
  EXPECT_FALSE(RelaunchMarker::Open(path));
  {
    const RelaunchMarker parent = RelaunchMarker::Create(path);
    ASSERT_TRUE(parent);
    EXPECT_TRUE(RelaunchMarker::Open(path));
    EXPECT_FALSE(RelaunchMarker::Open(path + L"2"));
  }
  EXPECT_FALSE(RelaunchMarker::Open(path));
}

TEST(RelaunchMarkerTest, TheParentWaitsUntilTheCopyAnswersOrEnds) {
  struct Case {
    const char* name;
    const char* copy;
    bool answered;
  };
  const Case cases[] = {
      {"the copy answers and runs on", "answer", true},
      {"the copy ends without answering", "silent", false},
  };
  const std::wstring path = L"C:\\EmbTest\\" + std::to_wstring(GetCurrentProcessId()) + L"\\copy.exe";
  const std::string narrowPath(path.begin(), path.end());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RelaunchMarker parent = RelaunchMarker::Create(path);
    ASSERT_TRUE(parent);
    const std::wstring program = test::BuiltProgram("emb_launcher_peer").wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + program + L"\" " + std::wstring(c.copy, c.copy + std::strlen(c.copy)) +
                               L" \"" + path + L"\"";
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    const win::ScopedHandle process(info.hProcess);
    const win::ScopedHandle thread(info.hThread);

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(parent.WaitForAnswer(process.get(), 20000), c.answered);
    EXPECT_LT(Clock::now() - start, milliseconds(15000));
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 5000);
  }
}

}  // namespace
}  // namespace emberfall

// The relaunch marker between an unelevated launcher and the copy it starts,
// with a real second process (the peer helper) playing the copy.
#include "app/relaunch_marker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

const std::wstring kFolder = L"\\EmbTest\\" + std::to_wstring(GetCurrentProcessId());

TEST(RelaunchMarkerTest, OneMarkerPerExecutableWhateverTheCase) {
  const std::wstring path = L"C:" + kFolder + L"\\launcher.exe";
  EXPECT_EQ(RelaunchMarkerName(path).rfind(L"Local\\EmbLauncherRelaunch.", 0), 0u);
  EXPECT_FALSE(RelaunchMarker::Open(path));
  {
    const RelaunchMarker parent = RelaunchMarker::Create(path);
    ASSERT_TRUE(parent);
    EXPECT_TRUE(RelaunchMarker::Open(L"c:" + kFolder + L"\\LAUNCHER.EXE"));
    EXPECT_FALSE(RelaunchMarker::Open(L"D:" + kFolder + L"\\launcher.exe"));
  }
  EXPECT_FALSE(RelaunchMarker::Open(path));
}

TEST(RelaunchMarkerTest, TheParentWaitsUntilTheCopyAnswersOrEnds) {
  const std::wstring path = L"C:" + kFolder + L"\\copy.exe";
  for (const wchar_t* copy : {L"answer", L"silent"}) {
    SCOPED_TRACE(std::string(copy, copy + 6));
    const RelaunchMarker parent = RelaunchMarker::Create(path);
    ASSERT_TRUE(parent);
    const std::wstring program = test::BuiltProgram("emb_launcher_peer").wstring();
    std::wstring commandLine = L"\"" + program + L"\" " + copy + L" \"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &info));
    const win::ScopedHandle process(info.hProcess);
    const win::ScopedHandle thread(info.hThread);
    const auto start = std::chrono::steady_clock::now();
    // "answer" answers and runs on; "silent" ends without answering.
    EXPECT_EQ(parent.WaitForAnswer(process.get(), 20000), copy[0] == L'a');
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), 5000);
  }
}

}  // namespace
}  // namespace emberfall

// The launcher process's Windows parts under Wine, against real processes
// (the peer helper plays the other launcher process).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "app/dll_search.h"
#include "app/launcher_shutdown.h"
#include "app/relaunch_marker.h"
#include "app/shell_open.h"
#include "core/fs_path.h"
#include "core/win/scoped_handle.h"
#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// A winhttp stand-in beside the program is loaded only without the start-up
// restriction. Wine prefers a native DLL only when the registry says so per
// program (a child's WINEDLLOVERRIDES comes from the Unix environment).
TEST(DllSearchTest, APlantedDllLoadsOnlyUnrestrictedAndImportsAreKnownDlls) {
  const std::wstring key = L"Software\\Wine\\AppDefaults\\emb_planted_probe.exe";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\DllOverrides").c_str(), L"winhttp",
                            REG_SZ, L"native,builtin", sizeof(L"native,builtin")),
            ERROR_SUCCESS);
  for (const char* search : {"default", "restricted"}) {
    SCOPED_TRACE(search);
    const test::TempDir folder;
    fs::copy_file(test::ExecutableDir() / "planted" / "winhttp.dll", folder / "winhttp.dll");
    fs::copy_file(test::BuiltProgram("emb_launcher_peer"), folder / "emb_planted_probe.exe");
    const test::ProcessResult result =
        test::RunProcess(folder / "emb_planted_probe.exe", {"dll", search});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(fs::exists(folder / "planted.marker"), std::string(search) == "default");
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  // The restriction cannot reach the import directory, resolved before the
  // entry point runs: the launcher imports only Known DLLs, delay-loads the rest.
  const std::set<std::string> known = {
      "advapi32.dll", "combase.dll", "comdlg32.dll", "gdi32.dll",    "imm32.dll",
      "kernel32.dll", "msvcrt.dll",  "ole32.dll",    "oleaut32.dll", "rpcrt4.dll",
      "sechost.dll",  "shcore.dll",  "shell32.dll",  "shlwapi.dll",  "user32.dll",
      "ws2_32.dll"};
  const win::ScopedLibrary module(LoadLibraryExW(test::BuiltProgram("launcher").c_str(), nullptr,
                                                 LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(module);
  // Without the low bits that mark an image mapped as a resource.
  const BYTE* base =
      reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module.get()) & ~3ull);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  ASSERT_NE(imports, 0u);
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports); d->Name; ++d) {
    std::string name(reinterpret_cast<const char*>(base + d->Name));
    CharLowerA(name.data());
    EXPECT_TRUE(known.contains(name)) << name << " is resolved from the launcher's folder first";
  }
}

// One marker per executable path, held only while the parent waits. Any
// waitable handle stands for the copy's process: signalled once it ended.
TEST(RelaunchMarkerTest, OneMarkerPerExecutableAnsweredOrEnded) {
  const std::wstring folder = L"\\EmbTest\\" + std::to_wstring(GetCurrentProcessId());
  const std::wstring path = L"C:" + folder + L"\\launcher.exe";
  EXPECT_EQ(RelaunchMarkerName(path).rfind(L"Local\\EmbLauncherRelaunch.", 0), 0u);
  EXPECT_FALSE(RelaunchMarker::Open(path));
  {
    const RelaunchMarker parent = RelaunchMarker::Create(path);
    ASSERT_TRUE(parent);
    EXPECT_FALSE(RelaunchMarker::Open(L"D:" + folder + L"\\launcher.exe"));
    const win::ScopedHandle running(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const win::ScopedHandle ended(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_FALSE(parent.WaitForAnswer(running.get(), 100));
    EXPECT_FALSE(parent.WaitForAnswer(ended.get(), 10000)) << "a copy that ended has not answered";
    const RelaunchMarker copy = RelaunchMarker::Open(L"c:" + folder + L"\\LAUNCHER.EXE");
    EXPECT_TRUE(copy);
    copy.Answer();
    EXPECT_TRUE(parent.WaitForAnswer(running.get(), 10000));
    EXPECT_TRUE(parent.WaitForAnswer(ended.get(), 10000));
  }
  EXPECT_FALSE(RelaunchMarker::Open(path));
}

// Gone by the end of the budget with the loop's exit code; when it ran out,
// by TerminateProcess: DLL detach code could wait for ever on a lock a killed
// worker held. The detach probe DLL tells.
TEST(LauncherShutdownTest, TheProcessIsGoneByTheEndOfTheBudget) {
  constexpr milliseconds kBudget(1500);
  const struct {
    const char* mode;
    const char* workerMs;
    milliseconds endsAfter;
    bool detachRuns;
  } cases[] = {
      {"stuck", "0", kBudget, false},  // the worker never ends
      {"stall", "1000", kBudget, false},  // a slow worker, then a teardown that never returns
      {"orderly", "100", milliseconds(100), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const test::TempDir folder;
    const test::ScopedEnvironmentVariable marker("EMB_DETACH_MARKER",
                                                 Utf8Path(folder / "detached"));
    const std::string event = "Local\\EmbTestShutdown." + std::to_string(GetCurrentProcessId()) +
                              "." + c.mode;  // a new one per case, unset
    const win::ScopedHandle started(CreateEventA(nullptr, TRUE, FALSE, event.c_str()));
    ASSERT_TRUE(started);
    const auto peer = test::StartProcess(test::BuiltProgram("emb_launcher_peer"),
                                         {"shutdown", c.mode, "1500", c.workerMs, event});
    ASSERT_NE(peer, nullptr);
    ASSERT_EQ(WaitForSingleObject(started.get(), 20000), WAIT_OBJECT_0) << "the peer did not start";
    const auto start = std::chrono::steady_clock::now();
    const std::optional<int> exitCode = peer->Wait(milliseconds(10000));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!exitCode) peer->Kill();
    ASSERT_TRUE(exitCode.has_value()) << "the process outlived its shutdown";
    EXPECT_EQ(*exitCode, 7);
    EXPECT_GE(elapsed, c.endsAfter - milliseconds(100));
    EXPECT_LT(elapsed, c.endsAfter + milliseconds(800));
    EXPECT_EQ(std::filesystem::exists(folder / "detached"), c.detachRuns);
  }
}

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

// Under Wine, against real processes (the peer helper plays the other
// launcher process).
#include "app/dll_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

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

}  // namespace
}  // namespace emberfall

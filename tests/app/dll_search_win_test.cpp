// The elevated launcher and DLLs planted in its folder, under Wine.
#include "app/dll_search.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <string>

#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

// The DLLs the loader resolves before a program's first instruction: the
// names in its import directory, lower case.
std::set<std::string> StartupImports(const fs::path& program) {
  std::set<std::string> names;
  const HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return names;
  // The low bits of the handle mark an image mapped as a resource.
  const BYTE* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) & ~3ull);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
       imports != 0 && d->Name != 0; ++d) {
    std::string name(reinterpret_cast<const char*>(base + d->Name));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    names.insert(name);
  }
  FreeLibrary(module);
  return names;
}

// A winhttp stand-in beside the program, loadable in principle, is loaded
// only without the start-up restriction. Wine prefers a native DLL only when
// told so per program; a child's WINEDLLOVERRIDES comes from the parent's
// Unix environment, not from SetEnvironmentVariable, so the registry tells.
TEST(DllSearchTest, APlantedDllIsLoadedOnlyWithoutTheRestriction) {
  const std::wstring key = L"Software\\Wine\\AppDefaults\\emb_planted_probe.exe";
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, (key + L"\\DllOverrides").c_str(), L"winhttp",
                            REG_SZ, L"native,builtin", sizeof(L"native,builtin")),
            ERROR_SUCCESS);
  for (const char* search : {"default", "restricted"}) {
    SCOPED_TRACE(search);
    const test::TempDir folder;
    for (const char* file : {"libemb_detach_probe.dll", "planted/winhttp.dll"}) {
      fs::copy_file(test::ExecutableDir() / file, folder / fs::path(file).filename().string());
    }
    fs::copy_file(test::BuiltProgram("emb_launcher_peer"), folder / "emb_planted_probe.exe");
    const test::ProcessResult result =
        test::RunProcess(folder / "emb_planted_probe.exe", {"dll", search});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(fs::exists(folder / "planted.marker"), std::string(search) == "default");
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

// The restriction cannot reach what the loader resolves before the entry
// point runs, so the launcher imports nothing but Known DLLs, which always
// come from System32, and delay-loads the rest.
TEST(DllSearchTest, TheLauncherImportsOnlyKnownDllsAtStart) {
  const std::set<std::string> known = {
      "advapi32.dll", "combase.dll", "comdlg32.dll", "gdi32.dll",    "imm32.dll",
      "kernel32.dll", "msvcrt.dll",  "ole32.dll",    "oleaut32.dll", "rpcrt4.dll",
      "sechost.dll",  "shcore.dll",  "shell32.dll",  "shlwapi.dll",  "user32.dll",
      "ws2_32.dll"};
  const std::set<std::string> imports = StartupImports(test::BuiltProgram("launcher"));
  ASSERT_FALSE(imports.empty());
  for (const std::string& name : imports) {
    EXPECT_TRUE(known.contains(name)) << name << " is resolved from the launcher's folder first";
  }
}

}  // namespace
}  // namespace emberfall

// The elevated launcher and DLLs planted in its folder, under Wine: a winhttp
// stand-in beside the program, loadable in principle (a per-program DLL
// override lets Wine prefer a native DLL), is loaded only without the
// start-up restriction.
#include "app/dll_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/win/windows_include.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

namespace fs = std::filesystem;

template <typename T>
bool ReadAt(const std::string& image, size_t offset, T& value) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
  std::memcpy(&value, image.data() + offset, sizeof(T));
  return true;
}

// The DLLs the loader resolves before a program's first instruction: the
// names in its import directory, lower case. Empty when |image| is no PE32+.
std::set<std::string> StartupImports(const std::string& image) {
  std::set<std::string> names;
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS64 nt{};
  if (!ReadAt(image, 0, dos) || !ReadAt(image, static_cast<size_t>(dos.e_lfanew), nt)) return names;
  const IMAGE_DATA_DIRECTORY directory =
      nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  const size_t sections = static_cast<size_t>(dos.e_lfanew) +
                          offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                          nt.FileHeader.SizeOfOptionalHeader;
  auto file_offset = [&](DWORD rva) -> size_t {
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
      IMAGE_SECTION_HEADER section{};
      if (!ReadAt(image, sections + i * sizeof(section), section)) break;
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData) {
        return section.PointerToRawData + (rva - section.VirtualAddress);
      }
    }
    return image.size();
  };
  for (size_t at = file_offset(directory.VirtualAddress);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor{};
    if (directory.VirtualAddress == 0 || !ReadAt(image, at, descriptor) || descriptor.Name == 0) {
      break;
    }
    const size_t name = file_offset(descriptor.Name);
    if (name >= image.size()) break;
    std::string text(image.c_str() + name);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    names.insert(text);
  }
  return names;
}

// Wine's per-program DLL override, set for the lifetime of the object. A
// child's WINEDLLOVERRIDES comes from the parent's Unix environment, not
// from SetEnvironmentVariable, so the registry is the way in.
class ScopedNativeFirst {
 public:
  ScopedNativeFirst(const wchar_t* program, const wchar_t* dll) : key_(kAppDefaults) {
    key_ += program;
    key_ += L"\\DllOverrides";
    ok_ = RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), dll, REG_SZ, L"native,builtin",
                          sizeof(L"native,builtin")) == ERROR_SUCCESS;
  }
  ~ScopedNativeFirst() {
    RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, key_.substr(0, key_.rfind(L'\\')).c_str());
  }
  ScopedNativeFirst(const ScopedNativeFirst&) = delete;
  ScopedNativeFirst& operator=(const ScopedNativeFirst&) = delete;
  bool ok() const { return ok_; }

 private:
  static constexpr wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";
  std::wstring key_;
  bool ok_ = false;
};

TEST(DllSearchTest, APlantedDllIsLoadedOnlyWithoutTheRestriction) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool loaded;
  };
  const Case cases[] = {
      {"default search", {"--default-search"}, true},
      {"restricted to System32", {}, false},
  };
  const ScopedNativeFirst native_first(L"emb_planted_probe.exe", L"winhttp");
  ASSERT_TRUE(native_first.ok());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir folder;
    fs::copy_file(test::BuiltProgram("emb_dll_probe"), folder / "emb_planted_probe.exe");
    fs::copy_file(test::ExecutableDir() / "planted" / "winhttp.dll", folder / "winhttp.dll");
    const test::ProcessResult result = test::RunProcess(folder / "emb_planted_probe.exe", c.args);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(fs::exists(folder / "planted.marker"), c.loaded);
  }
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
  const std::set<std::string> imports =
      StartupImports(test::ReadFileBytes(test::BuiltProgram("launcher")));
  ASSERT_FALSE(imports.empty());
  for (const std::string& name : imports) {
    EXPECT_TRUE(known.contains(name)) << name << " is resolved from the launcher's folder first";
  }
}

}  // namespace
}  // namespace emberfall

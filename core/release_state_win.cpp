#include "core/release_state.h"

#include "core/environment.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"

namespace emberfall {
namespace {

constexpr size_t kVariableUnits = 32768;
constexpr wchar_t kSerialsKey[] = L"SOFTWARE\\Emberfall\\Launcher\\ReleaseSerials";

// Only administrators can write below HKEY_LOCAL_MACHINE\SOFTWARE, and the
// launcher runs elevated: the player cannot roll the record back.
class RegistryReleaseState : public ReleaseStateStore {
 public:
  explicit RegistryReleaseState(std::u16string valueName) : value_(std::move(valueName)) {}

  std::uint64_t Load() override {
    win::ScopedRegistryKey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialsKey, 0,
                                   KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) Damaged(u"cannot open the key", status);
    DWORD type = 0;
    std::uint64_t serial = 0;
    DWORD size = sizeof(serial);
    const std::wstring name = win::ToWinString(value_);
    status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(&serial), &size);
    if (status == ERROR_FILE_NOT_FOUND) return 0;
    if (status != ERROR_SUCCESS) Damaged(u"unreadable", status);
    if (type != REG_QWORD || size != sizeof(serial)) Damaged(u"not a release record", 0);
    if (serial > kMaxReleaseSerial) Damaged(u"serial out of range", 0);
    return serial;
  }

  bool Save(std::uint64_t serial) override {
    win::ScopedRegistryKey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::wstring name = win::ToWinString(value_);
    return RegSetValueExW(key.get(), name.c_str(), 0, REG_QWORD,
                          reinterpret_cast<const BYTE*>(&serial), sizeof(serial)) == ERROR_SUCCESS &&
           RegFlushKey(key.get()) == ERROR_SUCCESS;
  }

  std::u16string Describe() const override {
    return u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Emberfall\\Launcher\\ReleaseSerials\\" + value_;
  }

 private:
  [[noreturn]] void Damaged(const std::u16string& why, LSTATUS status) const {
    std::u16string detail = Describe() + u" | " + why;
    if (status != 0) detail += u" (error " + ToWideDecimal(status) + u")";
    throw PatchFailure(PatchErrorCode::ReleaseStateDamaged, std::move(detail));
  }

  std::u16string value_;
};

}  // namespace

std::u16string UserReleaseStatePath(std::u16string_view key) {
  const std::optional<std::u16string> local = ReadEnvironmentVariable(u"LOCALAPPDATA", kVariableUnits);
  if (!local) return {};
  return *local + u"\\Emberfall\\release-state\\" + ReleaseStateFileName(key);
}

std::unique_ptr<ReleaseStateStore> MakeMachineReleaseState(const std::u16string& key) {
  return std::make_unique<RegistryReleaseState>(key);
}

}  // namespace emberfall

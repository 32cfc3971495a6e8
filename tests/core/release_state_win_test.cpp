// The launcher's release record in the registry, where only administrators
// write (Wine does not enforce that, but keeps the values).
#include "core/release_state.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/patch_error.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {
namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\Emberfall\\Launcher\\ReleaseSerials";

TEST(ReleaseStateWinTest, TheMachineRecordLivesInTheRegistryAndFailsClosed) {
  const std::u16string key = u"TEST|" + win::FromWinString(std::to_wstring(std::random_device()()));
  const std::wstring value = win::ToWinString(key);
  const std::unique_ptr<ReleaseStateStore> store = MakeMachineReleaseState(key);
  EXPECT_EQ(store->Load(), 0u);
  ASSERT_TRUE(store->Save(42));
  EXPECT_EQ(MakeMachineReleaseState(key)->Load(), 42u);

  const auto damaged = [&] {
    try {
      store->Load();
    } catch (const PatchFailure& failure) {
      return failure.code() == PatchErrorCode::ReleaseStateDamaged;
    }
    return false;
  };
  const std::uint64_t too_large = 9223372036854775808ull;
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, value.c_str(), REG_QWORD, &too_large,
                            sizeof(too_large)), ERROR_SUCCESS);
  EXPECT_TRUE(damaged());
  // Eight bytes, as a serial takes, but text.
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, value.c_str(), REG_SZ, L"123", 8), ERROR_SUCCESS);
  EXPECT_TRUE(damaged());
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, value.c_str());
  EXPECT_EQ(store->Load(), 0u);
}

}  // namespace
}  // namespace emberfall

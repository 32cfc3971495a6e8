#include "core/release_state.h"

#include "core/environment.h"
#include "core/fs_path.h"

namespace emberfall {
namespace {

constexpr size_t kVariableUnits = 32768;

}  // namespace

std::u16string UserReleaseStatePath(std::u16string_view key) {
  std::u16string folder;
  if (auto state = ReadEnvironmentVariable(u"XDG_STATE_HOME", kVariableUnits); state && (*state)[0] == u'/') {
    folder = *state;
  } else if (auto home = ReadEnvironmentVariable(u"HOME", kVariableUnits); home && (*home)[0] == u'/') {
    folder = *home + u"/.local/state";
  } else {
    return {};
  }
  return folder + u"/emberfall/release-state/" + ReleaseStateFileName(key);
}

std::unique_ptr<ReleaseStateStore> MakeMachineReleaseState(const std::u16string& key) {
  return MakeFileReleaseState(UserReleaseStatePath(key));
}

}  // namespace emberfall

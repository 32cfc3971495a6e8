// The highest release serial a game folder has accepted from signed
// publications: what makes a replayed older release refusable after a newer
// one was seen. It is security state, so it is never kept in the game folder,
// which the player (and anything running as the player) can write:
//
// - the launcher keeps it under HKEY_LOCAL_MACHINE, which only administrators
//   can write, one value per game folder, product and channel;
// - embpatch keeps it in a file given with --trust-state, by default in the
//   user's state folder ($XDG_STATE_HOME, %LOCALAPPDATA%), in the form
//
//     EMBTR1
//     serial <decimal, 0 to 2^63-1>
//
// A missing record means nothing was accepted yet (serial 0). A record that
// exists but cannot be read as one fails closed: it is never taken as 0, nor
// as the newest serial.
#ifndef EMBERFALL_CORE_RELEASE_STATE_H_
#define EMBERFALL_CORE_RELEASE_STATE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace emberfall {

// Serials above this are refused everywhere (documents, records).
inline constexpr std::uint64_t kMaxReleaseSerial = 9223372036854775807ull;

class ReleaseStateStore {
 public:
  virtual ~ReleaseStateStore() = default;

  // The serial recorded; 0 when there is no record. Throws PatchFailure
  // ReleaseStateDamaged, naming Describe(), when a record exists that is not
  // in the form above or holds a serial past kMaxReleaseSerial.
  virtual std::uint64_t Load() = 0;

  // Records |serial| so that a reader sees the old or the new record, never
  // half of one. False when that fails; the old record then stays.
  virtual bool Save(std::uint64_t serial) = 0;

  // Where the record lives, for messages.
  virtual std::u16string Describe() const = 0;
};

// The key of one game folder's record: its resolved path in PathKey
// spelling, the product and the channel, so that each channel of each
// installation counts its own serials.
std::u16string ReleaseStateKey(std::u16string_view resolvedFolder, std::string_view product,
                               std::string_view channel);

// The record in the file at |path| (read and written without following a link
// there; the folders above are made when missing).
std::unique_ptr<ReleaseStateStore> MakeFileReleaseState(std::u16string path);

// The name of |key|'s file in a state folder: 32 hex digits of its
// SHA-256, then ".trust".
std::u16string ReleaseStateFileName(std::u16string_view key);

// The bytes a file record holds for |serial|.
std::string FormatReleaseStateFile(std::uint64_t serial);

// The file in the user's state folder for |key| ($XDG_STATE_HOME or
// ~/.local/state, %LOCALAPPDATA% on Windows, then "emberfall/release-state/"
// and a name made from the key); empty when the platform names no such
// folder.
std::u16string UserReleaseStatePath(std::u16string_view key);

// The launcher's record for |key|: on Windows a REG_QWORD value named by the
// key in HKEY_LOCAL_MACHINE\SOFTWARE\Emberfall\Launcher\ReleaseSerials;
// elsewhere, where no launcher runs, the user state file.
std::unique_ptr<ReleaseStateStore> MakeMachineReleaseState(const std::u16string& key);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_RELEASE_STATE_H_

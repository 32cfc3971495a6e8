// The game folder as the elevated launcher must see it. The player can write
// everything below it, so a link planted there could aim the launcher's
// writes and deletes anywhere on the machine. The folder itself is opened
// once, following links (a link at or above it is the player's own choice,
// such as a game moved to another drive), and every folder below it is then
// reached one component at a time without following a link and held open
// while it is used:
//
// - POSIX: each folder is a descriptor opened with O_NOFOLLOW relative to the
//   one above, and the file operations use the *at calls relative to it, so
//   renaming or replacing a folder of the path changes nothing.
// - Windows: each folder is opened with FILE_FLAG_OPEN_REPARSE_POINT, refused
//   when it is a junction or symbolic link, and held without delete sharing,
//   so no folder of the path can be renamed, removed or replaced while it is
//   held; operations then go by the path, which starts at the root's own
//   resolved path and so passes through no link.
#ifndef EMBERFALL_CORE_GAME_FOLDER_H_
#define EMBERFALL_CORE_GAME_FOLDER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/file_handle.h"

namespace emberfall {

// One folder at or below the root, with the folders between it and the root,
// all held open until this is destroyed. Move-only. Valid only while the
// GameFolder it came from lives.
class HeldFolder {
 public:
  HeldFolder() = default;
  HeldFolder(HeldFolder&&) noexcept = default;
  HeldFolder& operator=(HeldFolder&&) noexcept = default;

  // The folder's full path (Windows: below the root's resolved path), for
  // the path-based calls of the platform and for messages.
  const std::u16string& path() const { return path_; }
  // The folder's own handle: a descriptor on POSIX, a HANDLE on Windows.
  std::intptr_t native() const { return native_; }
  // path() joined with |name|, one component.
  std::u16string PathOf(std::u16string_view name) const;

 private:
  friend class GameFolder;
  std::u16string path_;
  std::intptr_t native_ = PlatformFileTraits::Invalid();
  std::vector<FileHandle> chain_;  // the folders opened below the root, in order
};

// Where walking a relative path ended.
struct FolderLookup {
  enum class Status {
    kFound,    // |folder| holds the last component |name|
    kMissing,  // a folder of the path does not exist (and was not to be made)
    kLink,     // a folder of the path is a symbolic link or junction: |at|
    kFailed,   // a folder could not be opened or made: |at| and |error|
  };
  Status status = Status::kFailed;
  HeldFolder folder;
  std::u16string name;   // the last component of the relative path
  std::u16string at;     // the folder where the walk stopped, as the root was named
  std::error_code error; // kFailed: the platform's error (mkdir's, open's)
};

class GameFolder {
 public:
  // Opens |path| as the root, following links. When that fails, is_open() is
  // false and every lookup fails with open_error().
  explicit GameFolder(std::u16string path);

  GameFolder(GameFolder&&) noexcept = default;
  GameFolder& operator=(GameFolder&&) noexcept = default;

  bool is_open() const { return root_.is_valid(); }
  const std::error_code& open_error() const { return openError_; }
  // The root as it was named, for messages.
  const std::u16string& path() const { return path_; }
  // Where the root really is, every link resolved: the key of records kept
  // about this game folder elsewhere. The name as given when that is unknown.
  const std::u16string& resolved_path() const;
  // |relative| below the root as it was named, for messages.
  std::u16string DisplayPath(std::u16string_view relative) const;

  // The root itself, held.
  HeldFolder Root() const;

  // Walks to the folder that holds the last component of |relative| ("\" or
  // "/" separators; no empty, "." or ".." component: a path that passed
  // IsSafeRelativePath, or a name of the launcher's own), opening every
  // folder on the way without following a link. With |create| the missing
  // folders are made on the way. The last component itself is not touched.
  FolderLookup OpenParent(std::u16string_view relative, bool create) const;

 private:
  std::u16string path_;
  mutable std::u16string resolved_;  // the root's final path; POSIX finds it when first asked
  FileHandle root_;
  std::error_code openError_;
};

// Walks like GameFolder::OpenParent (without making folders), but keeps the
// folder of the previous walk and reuses it while the paths stay in it, so a
// pass over a sorted list walks each folder once. One per thread; the held
// folder is released with the cursor.
class FolderCursor {
 public:
  const FolderLookup& Find(const GameFolder& root, std::u16string_view relative);

 private:
  std::u16string folder_;  // |relative| without its last component, as given
  FolderLookup lookup_;
  bool held_ = false;
};

// The names in |folder| (neither "." nor ".."), of files, links and folders
// alike, none of them followed. Empty when it cannot be read; a name that
// is not valid text on the platform is left out. For sweeping a folder of
// the launcher's own, whose names it chose.
std::vector<std::u16string> ListNamesAt(const HeldFolder& folder);
// Removes the folder |name| in |folder| when it is empty; a link there is
// never followed (POSIX leaves it, Windows removes the link itself). Best
// effort, no report.
void RemoveEmptyFolderAt(const HeldFolder& folder, std::u16string_view name);

namespace game_folder_internal {

// One step of a walk, per platform: opens the folder |name| inside |parent|
// (whose path is |parentPath|) without following a link, making it first
// when |create| and it is missing. kFound with |child| set, or why not.
FolderLookup::Status OpenChildFolder(const FileHandle& parent, const std::u16string& parentPath,
                                     std::u16string_view name, bool create, FileHandle& child,
                                     std::error_code& error);

// Opens the root folder, following links; Windows also finds its final path
// (every path of a lookup starts there), POSIX leaves |resolved| empty.
FileHandle OpenRootFolder(const std::u16string& path, std::u16string& resolved,
                          std::error_code& error);

// The final path of an open folder; empty when the platform cannot tell.
std::u16string FinalPath(const FileHandle& folder);

// The separator of the platform's native paths.
char16_t NativeSeparator();

}  // namespace game_folder_internal

// The failure of a run that met a link below the game folder at |at|: code
// LinkInGameFolder, the folder named in the detail.
[[noreturn]] void ThrowLinkInGameFolder(const std::u16string& at);

// |path| relative to |folder| when it lies below it, by the names alone (no
// file system access; "." and ".." components resolved, "\" and "/" both
// separators, names compared by PathKey as the volume compares them);
// empty when it does not. The relative path keeps |path|'s spelling. The
// launcher's own executable is handled through this, relative to the game
// folder.
std::u16string RelativeBelow(std::u16string_view folder, std::u16string_view path);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_GAME_FOLDER_H_

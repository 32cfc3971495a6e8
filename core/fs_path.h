// Conversions between the project's text and std::filesystem paths. Windows
// paths are UTF-16 natively; POSIX paths are bytes, taken as UTF-8.
#ifndef EMBERFALL_CORE_FS_PATH_H_
#define EMBERFALL_CORE_FS_PATH_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace emberfall {

// A filesystem path from UTF-16 text. Never throws on odd text: unpaired
// surrogates become U+FFFD on POSIX and pass through on Windows.
std::filesystem::path FsPath(std::u16string_view path);

// A filesystem path from UTF-8 bytes (a command-line argument). POSIX keeps
// the bytes as they are.
std::filesystem::path FsPathFromUtf8(std::string_view path);

// The UTF-16 text of a path.
std::u16string WidePath(const std::filesystem::path& path);

// The UTF-8 text of a path, for messages.
std::string Utf8Path(const std::filesystem::path& path);

// |folder| joined with a normalised relative path of the CRC list or the
// configuration ("\" separators) by the standard path append. POSIX turns
// the "\" separators into "/" first.
std::u16string JoinRelativePath(std::u16string_view folder, std::u16string_view relative);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FS_PATH_H_

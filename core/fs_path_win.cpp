#include "core/fs_path.h"

#include "core/text.h"
#include "core/win/wide.h"

namespace emberfall {

std::filesystem::path FsPath(std::u16string_view path) {
  return std::filesystem::path(win::ToWinString(path));
}

std::filesystem::path FsPathFromUtf8(std::string_view path) { return FsPath(Utf8ToWide(path)); }

std::u16string WidePath(const std::filesystem::path& path) {
  return win::FromWinString(path.native());
}

std::string Utf8Path(const std::filesystem::path& path) { return WideToUtf8(WidePath(path)); }

std::u16string JoinRelativePath(std::u16string_view folder, std::u16string_view relative) {
  return WidePath(FsPath(folder) / FsPath(relative));
}

}  // namespace emberfall

#include "core/fs_path.h"

#include "core/text.h"

namespace emberfall {

std::filesystem::path FsPath(std::u16string_view path) {
  return std::filesystem::path(WideToUtf8(path));
}

std::filesystem::path FsPathFromUtf8(std::string_view path) {
  return std::filesystem::path(std::string(path));
}

std::u16string WidePath(const std::filesystem::path& path) { return Utf8ToWide(path.native()); }

std::string Utf8Path(const std::filesystem::path& path) { return path.native(); }

std::u16string JoinRelativePath(std::u16string_view folder, std::u16string_view relative) {
  std::u16string portable(relative);
  for (char16_t& c : portable) {
    if (c == u'\\') c = u'/';
  }
  return WidePath(FsPath(folder) / FsPath(portable));
}

}  // namespace emberfall

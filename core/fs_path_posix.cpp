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

}  // namespace emberfall

#include "ui/video_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "core/fs_path.h"

namespace emberfall {

namespace {

std::u16string FileUrl(std::u16string_view prefix, std::u16string_view path) {
  std::u16string url(prefix);
  url.reserve(url.size() + path.size() + 8);
  for (char16_t c : path) {
    switch (c) {
      case u'\\':
        url += u'/';
        break;
      case u' ':
        url += u"%20";
        break;
      case u'#':
        url += u"%23";
        break;
      default:
        url += c;
    }
  }
  return url;
}

}  // namespace

std::u16string VideoFileUrl(std::u16string_view path) { return FileUrl(u"file:///", path); }

std::u16string LegacyVideoFileUrl(std::u16string_view path) { return FileUrl(u"file://", path); }

bool FileHasContents(const std::u16string& path, std::string_view bytes) {
  const std::filesystem::path file = FsPath(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec) || ec) return false;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size != bytes.size()) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::vector<char> buffer(1 << 16);
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    const std::size_t want = std::min(buffer.size(), bytes.size() - offset);
    in.read(buffer.data(), static_cast<std::streamsize>(want));
    if (static_cast<std::size_t>(in.gcount()) != want) return false;
    if (!std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(want),
                    bytes.begin() + static_cast<std::ptrdiff_t>(offset))) {
      return false;
    }
    offset += want;
  }
  // The file may have grown since its size was read.
  return in.peek() == std::char_traits<char>::eof();
}

namespace {

std::uint8_t Clamp8(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace

void Nv12ToBgra(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint32_t stride,
                std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                std::uint32_t outStride) {
  // BT.601 video range in 16.16 fixed point: 255/219 for luma, and the
  // chroma weights scaled by 255/224.
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* lumaRow = luma + static_cast<std::size_t>(y) * stride;
    const std::uint8_t* chromaRow = chroma + static_cast<std::size_t>(y / 2) * stride;
    std::uint8_t* pixel = out + static_cast<std::size_t>(y) * outStride;
    for (std::uint32_t x = 0; x < width; ++x, pixel += 4) {
      const int c = 76309 * (lumaRow[x] - 16);
      const int cb = chromaRow[x & ~1u] - 128;
      const int cr = chromaRow[(x & ~1u) + 1] - 128;
      pixel[0] = Clamp8((c + 132201 * cb + 32768) >> 16);
      pixel[1] = Clamp8((c - 25675 * cb - 53279 * cr + 32768) >> 16);
      pixel[2] = Clamp8((c + 104597 * cr + 32768) >> 16);
      pixel[3] = 255;
    }
  }
}

}  // namespace emberfall

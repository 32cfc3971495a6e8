// Portable helpers of the background video's file: its URL and the check
// that a file left in the temporary folder really is the embedded video.
#ifndef EMBERFALL_UI_VIDEO_FILE_H_
#define EMBERFALL_UI_VIDEO_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace emberfall {

// "file:///" + |path| with "\" as "/", " " as "%20" and "#" as "%23"; every
// other unit is copied unchanged.
std::u16string VideoFileUrl(std::u16string_view path);

// The same with two slashes ("file://C:/..."), the older form of a file URL.
// Some media-engine implementations (Wine's) resolve only this one.
std::u16string LegacyVideoFileUrl(std::u16string_view path);

// True when |path| is a regular file whose contents are exactly |bytes|.
// Any error while reading counts as a difference. The size is compared first,
// so a file of another size costs one status query.
bool FileHasContents(const std::u16string& path, std::string_view bytes);

// Converts one decoded frame from NV12 (a plane of luma, then one of
// interleaved Cb and Cr at half the resolution both ways; video range,
// BT.601) to opaque 32-bit BGRA, |width| x |height| pixels, rows |stride|
// bytes apart in both planes and |outStride| apart in |out|.
void Nv12ToBgra(const std::uint8_t* luma, const std::uint8_t* chroma, std::uint32_t stride,
                std::uint32_t width, std::uint32_t height, std::uint8_t* out,
                std::uint32_t outStride);

}  // namespace emberfall

#endif  // EMBERFALL_UI_VIDEO_FILE_H_

// Portable helpers of the background video's file: its URL and the check
// that a file left in the temporary folder really is the embedded video.
#ifndef EMBERFALL_UI_VIDEO_FILE_H_
#define EMBERFALL_UI_VIDEO_FILE_H_

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

}  // namespace emberfall

#endif  // EMBERFALL_UI_VIDEO_FILE_H_

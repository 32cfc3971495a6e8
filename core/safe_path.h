// The rule every path taken from the network passes before it touches the
// disk: a safe path relative to the game folder.
#ifndef EMBERFALL_CORE_SAFE_PATH_H_
#define EMBERFALL_CORE_SAFE_PATH_H_

#include <string>
#include <string_view>

namespace emberfall {

// True when |path| is a safe path relative to the game folder: 1 to 1024
// units, not rooted, no empty, "." or ".." component, no component ending in
// "." or space, no C0 control character or DEL (the release document
// refuses the same bytes) or any of "*:<>?|, no component that
// Windows opens as a device (a reserved device name, also with spaces before
// its extension or a superscript digit 1-3 for the COM/LPT number), and no
// name of the launcher's own files: the cache, the hash record, an old trust file and their
// temporary files at the top of the game folder, the store of fetched chunks
// (kChunkStoreFolderName) as the first folder of a path, a staged ".emb-new" file
// anywhere (case ignored as in path keys), nor an 8.3 short name ("NAME~N.EXT")
// that Windows may have given one of those. On success |normalised| holds the
// path with "\" separators; on failure it is empty.
bool IsSafeRelativePath(std::u16string_view path, std::u16string& normalised);

// True when the part of |component| before its first "." names a DOS device
// (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9), ASCII case ignored.
bool IsReservedDeviceName(std::u16string_view component);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_SAFE_PATH_H_

// The background video's file: the embedded MP4 (RCDATA 101) written once to
// the temporary folder, off the UI thread, and held open against changes
// while the media engine may read it. Best-effort: every failure leaves no
// path, and the launcher runs on its plain background.
#ifndef EMBERFALL_UI_VIDEO_PREPARATION_H_
#define EMBERFALL_UI_VIDEO_PREPARATION_H_

#include <optional>
#include <string>
#include <string_view>

#include "core/win/windows_include.h"

namespace emberfall {

inline constexpr int kVideoResourceId = 101;

// The embedded video's bytes; empty when the module has none.
std::string_view VideoResourceBytes(HMODULE module);

// <temporary folder>\EmbLauncher\hero.mp4; empty if there is no temporary
// folder.
std::u16string TempVideoPath();

// The temporary file, when it exists and holds exactly the embedded video.
// The launcher runs elevated and the folder is writable by the user, so a
// file of the right size is not trusted without comparing its contents, and
// neither the file nor its folder may be a link (junction, symbolic link).
// On success the file and its folder are held open until ReleaseVideoFile
// or the process ends: nobody can write, delete or rename them meanwhile.
std::optional<std::u16string> FindReusableVideoFile(HMODULE module);

// The reusable file, or a fresh copy of the resource written there (a new
// file created exclusively: a file or link at the name is removed first, a
// link's target is never written; deleted again when the write comes up
// short), checked and held like a reusable one. Empty on failure, and when
// the folder is a link.
std::u16string ExtractVideoResource(HMODULE module);

// Closes the handles that hold the video file and its folder; the engine
// must no longer read the file. Any thread.
void ReleaseVideoFile();

// Starts the preparation once per process and returns at once: a known or
// reusable file signals readiness immediately, otherwise a detached thread
// extracts the resource. Any thread; null means the executable.
void PrepareBackgroundVideo(HMODULE module);

// Prepares if needed, waits up to |timeoutMs| for the preparation, and tells
// whether a video path is known now.
bool WaitForBackgroundVideo(HMODULE module, DWORD timeoutMs);

// The prepared path; when there is none yet, extracts on the calling thread.
// Empty on failure.
std::u16string GetVideoPath(HMODULE module);

}  // namespace emberfall

#endif  // EMBERFALL_UI_VIDEO_PREPARATION_H_

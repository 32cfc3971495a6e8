#include "ui/video_preparation.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "core/file_apply.h"
#include "core/fs_path.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"

namespace emberfall {
namespace {

// Shared by the UI thread and the extraction thread. Never destroyed: the
// detached extraction thread may still use it while the process exits.
struct Preparation {
  std::mutex mutex;
  std::u16string path;
  win::ScopedHandle readyEvent;
  bool started = false;
};

Preparation& SharedPreparation() {
  static Preparation* preparation = new Preparation;
  return *preparation;
}

// The launcher runs elevated, and the temporary folder is the user's to
// write: between the content check and the engine's open, another process
// could swap the file, or turn the folder into a junction so that the write
// lands elsewhere. The verified file and its folder stay open, sharing
// neither writing nor deleting, so neither can change while the engine may
// read the file. Never destroyed, like the preparation.
struct HeldVideo {
  std::mutex mutex;
  win::ScopedFileHandle folder;
  win::ScopedFileHandle file;
};

HeldVideo& SharedHeldVideo() {
  static HeldVideo* held = new HeldVideo;
  return *held;
}

// A handle opened with FILE_FLAG_OPEN_REPARSE_POINT shows a link as what it
// is, so a junction or symbolic link fails this check.
bool IsPlain(HANDLE handle, bool directory) {
  FILE_BASIC_INFO info{};
  if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof(info))) return false;
  if (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  return ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == directory;
}

// Without FILE_SHARE_DELETE nobody can rename the folder away and put a
// junction in its place while this handle lives.
win::ScopedFileHandle OpenVideoFolder(const std::wstring& folder) {
  constexpr DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  win::ScopedFileHandle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, kFlags, nullptr));
  if (!handle || !IsPlain(handle.get(), true)) return {};
  return handle;
}

bool HandleHasContents(HANDLE file, std::string_view bytes) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != bytes.size()) {
    return false;
  }
  std::vector<char> buffer(1 << 16);
  size_t offset = 0;
  while (offset < bytes.size()) {
    const auto want = static_cast<DWORD>(std::min(buffer.size(), bytes.size() - offset));
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), want, &got, nullptr) || got != want) return false;
    if (!std::equal(buffer.begin(), buffer.begin() + want, bytes.begin() + offset)) return false;
    offset += want;
  }
  return true;
}

// Opens the folder and the file of |path| without following links, checks
// the file against |bytes| through the handle that will be held, and holds
// both. False, holding nothing new, when any of that fails.
bool HoldVerifiedVideo(const std::u16string& path, std::string_view bytes) {
  win::ScopedFileHandle folder =
      OpenVideoFolder(win::ToWinString(WidePath(FsPath(path).parent_path())));
  if (!folder) return false;
  const std::wstring native = win::ToWinString(path);
  win::ScopedFileHandle file(CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || !IsPlain(file.get(), false) || !HandleHasContents(file.get(), bytes)) return false;
  HeldVideo& held = SharedHeldVideo();
  std::lock_guard<std::mutex> lock(held.mutex);
  held.file = std::move(file);
  held.folder = std::move(folder);
  return true;
}

// Under the preparation mutex.
void EnsureReadyEvent(Preparation& p) {
  if (!p.readyEvent) p.readyEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// Under the preparation mutex.
void SignalReady(Preparation& p) {
  if (p.readyEvent) SetEvent(p.readyEvent.get());
}

void ExtractionThread(HMODULE module) {
  std::u16string path;
  try {
    path = ExtractVideoResource(module);
  } catch (...) {
    path.clear();
  }
  Preparation& p = SharedPreparation();
  std::lock_guard<std::mutex> lock(p.mutex);
  try {
    if (!path.empty()) p.path = path;
  } catch (...) {
  }
  EnsureReadyEvent(p);
  SignalReady(p);
}

HMODULE ModuleOrExe(HMODULE module) { return module != nullptr ? module : GetModuleHandleW(nullptr); }

}  // namespace

std::string_view VideoResourceBytes(HMODULE module) {
  module = ModuleOrExe(module);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(kVideoResourceId), MAKEINTRESOURCEW(10));
  if (info == nullptr) return {};
  const DWORD size = SizeofResource(module, info);
  HGLOBAL loaded = LoadResource(module, info);
  if (size == 0 || loaded == nullptr) return {};
  const void* data = LockResource(loaded);
  if (data == nullptr) return {};
  return std::string_view(static_cast<const char*>(data), size);
}

std::u16string TempVideoPath() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH, buffer);
  if (length == 0 || length > MAX_PATH) return {};
  std::u16string path = win::FromWinString(buffer, length);
  if (path.back() != u'\\' && path.back() != u'/') path += u'\\';
  return path + u"EmbLauncher\\hero.mp4";
}

std::optional<std::u16string> FindReusableVideoFile(HMODULE module) {
  const std::string_view bytes = VideoResourceBytes(module);
  if (bytes.empty()) return std::nullopt;
  std::u16string path = TempVideoPath();
  if (path.empty()) return std::nullopt;
  if (!HoldVerifiedVideo(path, bytes)) return std::nullopt;
  return path;
}

std::u16string ExtractVideoResource(HMODULE module) {
  if (std::optional<std::u16string> reusable = FindReusableVideoFile(module)) return *reusable;
  const std::string_view bytes = VideoResourceBytes(module);
  if (bytes.empty()) return {};
  const std::u16string path = TempVideoPath();
  if (path.empty()) return {};
  std::error_code ec;
  const std::filesystem::path folder = FsPath(path).parent_path();
  std::filesystem::create_directories(folder, ec);

  // Held while writing, so the folder checked here is the one written to.
  const win::ScopedFileHandle held_folder = OpenVideoFolder(win::ToWinString(WidePath(folder)));
  if (!held_folder) return {};
  if (!WriteNewFile(path, bytes)) return {};
  // The file was closed after writing; what is held is checked once more.
  if (!HoldVerifiedVideo(path, bytes)) return {};
  return path;
}

void ReleaseVideoFile() {
  HeldVideo& held = SharedHeldVideo();
  std::lock_guard<std::mutex> lock(held.mutex);
  held.file.reset();
  held.folder.reset();
}

void PrepareBackgroundVideo(HMODULE module) {
  module = ModuleOrExe(module);
  Preparation& p = SharedPreparation();
  std::lock_guard<std::mutex> lock(p.mutex);
  EnsureReadyEvent(p);
  if (p.started) return;
  p.started = true;
  if (p.path.empty()) {
    if (std::optional<std::u16string> reusable = FindReusableVideoFile(module)) p.path = *reusable;
  }
  if (!p.path.empty()) {
    SignalReady(p);
    return;
  }
  try {
    std::thread(ExtractionThread, module).detach();
  } catch (const std::system_error&) {
    // No thread: run without waiting; GetVideoPath extracts on demand.
    SignalReady(p);
  }
}

bool WaitForBackgroundVideo(HMODULE module, DWORD timeoutMs) {
  PrepareBackgroundVideo(module);
  HANDLE event = nullptr;
  {
    Preparation& p = SharedPreparation();
    std::lock_guard<std::mutex> lock(p.mutex);
    event = p.readyEvent.get();
  }
  if (event == nullptr) return false;
  if (WaitForSingleObject(event, timeoutMs) != WAIT_OBJECT_0) return false;
  return !GetVideoPath(module).empty();
}

std::u16string GetVideoPath(HMODULE module) {
  Preparation& p = SharedPreparation();
  std::lock_guard<std::mutex> lock(p.mutex);
  if (!p.path.empty()) return p.path;
  std::u16string path = ExtractVideoResource(ModuleOrExe(module));
  if (!path.empty()) p.path = path;
  return path;
}

}  // namespace emberfall

// Move-only owners of Win32 kernel handles. Two flavours, because the API
// marks failure two ways: CreateFileW returns INVALID_HANDLE_VALUE, while
// events, mutexes, processes and threads come back as NULL.
#ifndef EMBERFALL_CORE_WIN_SCOPED_HANDLE_H_
#define EMBERFALL_CORE_WIN_SCOPED_HANDLE_H_

#include <utility>

#include "core/win/windows_include.h"

namespace emberfall::win {

template <typename Traits>
class GenericScopedHandle {
 public:
  GenericScopedHandle() = default;
  explicit GenericScopedHandle(HANDLE handle) : handle_(handle) {}
  ~GenericScopedHandle() { Close(); }

  GenericScopedHandle(GenericScopedHandle&& other) noexcept : handle_(other.release()) {}
  GenericScopedHandle& operator=(GenericScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  GenericScopedHandle(const GenericScopedHandle&) = delete;
  GenericScopedHandle& operator=(const GenericScopedHandle&) = delete;

  bool is_valid() const { return handle_ != Traits::kInvalid && handle_ != nullptr; }
  explicit operator bool() const { return is_valid(); }
  HANDLE get() const { return handle_; }

  // Closes the current handle and returns the address for an out-parameter.
  HANDLE* put() {
    reset();
    return &handle_;
  }

  void reset(HANDLE handle = Traits::kInvalid) {
    Close();
    handle_ = handle;
  }

  HANDLE release() { return std::exchange(handle_, Traits::kInvalid); }

  // Closes now and reports whether CloseHandle succeeded (it can fail for a
  // file whose delayed write fails). An empty owner closes successfully.
  bool CloseChecked() {
    if (!is_valid()) return true;
    return CloseHandle(release()) != 0;
  }

 private:
  void Close() {
    if (is_valid()) CloseHandle(handle_);
    handle_ = Traits::kInvalid;
  }

  HANDLE handle_ = Traits::kInvalid;
};

struct NullHandleTraits {
  static inline const HANDLE kInvalid = nullptr;
};
struct FileHandleTraits {
  static inline const HANDLE kInvalid = INVALID_HANDLE_VALUE;
};

// Events, mutexes, processes, threads, tokens, pipes.
using ScopedHandle = GenericScopedHandle<NullHandleTraits>;
// Handles from CreateFileW.
using ScopedFileHandle = GenericScopedHandle<FileHandleTraits>;

}  // namespace emberfall::win

#endif  // EMBERFALL_CORE_WIN_SCOPED_HANDLE_H_

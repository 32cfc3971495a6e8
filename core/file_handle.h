// A move-only owner of one open file of the platform: a CreateFileW handle on
// Windows, a descriptor elsewhere. Both mark "no file" with -1
// (INVALID_HANDLE_VALUE is (HANDLE)-1), so the value fits one integer type and
// this header stays free of platform includes.
#ifndef EMBERFALL_CORE_FILE_HANDLE_H_
#define EMBERFALL_CORE_FILE_HANDLE_H_

#include <cstddef>
#include <cstdint>
#include <utility>

namespace emberfall {

class FileHandle {
 public:
  static constexpr std::intptr_t kInvalid = -1;

  FileHandle() = default;
  // Takes ownership of |native| (a HANDLE or a descriptor).
  explicit FileHandle(std::intptr_t native) : native_(native) {}
  ~FileHandle() { Close(); }

  FileHandle(FileHandle&& other) noexcept : native_(std::exchange(other.native_, kInvalid)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      native_ = std::exchange(other.native_, kInvalid);
    }
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool is_valid() const { return native_ != kInvalid; }
  std::intptr_t native() const { return native_; }

  // Reads up to |capacity| bytes at the current position (ReadFile / read).
  // Returns false on a read error; |got| is 0 at end of file.
  bool Read(void* buffer, size_t capacity, size_t& got) const;

  // Closes now and reports whether the platform's close succeeded. Closing
  // an empty handle succeeds.
  bool Close();

 private:
  std::intptr_t native_ = kInvalid;
};

}  // namespace emberfall

#endif  // EMBERFALL_CORE_FILE_HANDLE_H_

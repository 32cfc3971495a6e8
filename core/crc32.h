// CRC-32 as the CRC list publishes it: the reflected IEEE 802.3 checksum
// (polynomial 0xEDB88320, initial value and final XOR 0xFFFFFFFF), the one
// ZIP and PNG use, computed by carry-less multiplication where the processor
// has it (chosen once at run time) and sixteen bytes per step elsewhere.
#ifndef EMBERFALL_CORE_CRC32_H_
#define EMBERFALL_CORE_CRC32_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/file_handle.h"

namespace emberfall {

class Sha256;

// The sixteen lookup tables: table 0 is the byte table of the polynomial,
// entry i of table k is (entry i of table k-1) >> 8 XOR table 0 at its low
// byte. Exposed for the known-answer tests.
using Crc32Tables = std::array<std::array<std::uint32_t, 256>, 16>;
const Crc32Tables& Crc32LookupTables();

// Folds |length| bytes into the running value |crc|. No inversion at either
// end: start from 0xFFFFFFFF and invert the result yourself, or use
// Crc32Buffer. |data| may be null when |length| is 0. Any alignment.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, size_t length);

// The finished CRC-32 of one buffer.
std::uint32_t Crc32Buffer(const void* data, size_t length);

// The read buffer of Crc32File: 1 MiB, aligned to 32 bytes, zeroed once when
// made. Making one costs more than hashing a small file, so whoever hashes
// many files (a verification pass) makes one and passes it to every call.
// Move-only; one thread at a time. Throws std::bad_alloc.
class HashBuffer {
 public:
  static constexpr size_t kBytes = 1048576;

  HashBuffer();

  std::uint8_t* data() { return bytes_.get(); }

  // Hashing through this buffer gives up between blocks once |*flag| is
  // true, so a multi-gigabyte file does not hold up a cancelled run. |flag|
  // must outlive the buffer's use; null (the default): never give up.
  void set_cancel_flag(const std::atomic<bool>* flag) { cancel_ = flag; }
  bool cancelled() const { return cancel_ != nullptr && cancel_->load(); }

 private:
  struct AlignedDelete {
    void operator()(std::uint8_t* p) const;
  };
  std::unique_ptr<std::uint8_t[], AlignedDelete> bytes_;
  const std::atomic<bool>* cancel_ = nullptr;
};

// Hashes |file| from its current position to its end through |buffer|.
// Returns true and sets |crc| when every read succeeded; on a read error, or
// when the buffer's cancel flag is set, returns false and leaves |crc| alone.
// |sha256| (may be null) is fed the same bytes on the way, so one read of
// the file gives both.
bool Crc32File(const FileHandle& file, std::uint32_t& crc, HashBuffer& buffer,
               Sha256* sha256 = nullptr);

// Eight lower-case hexadecimal digits ("%08x").
std::string FormatCrcHex(std::uint32_t crc);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_CRC32_H_

#include "core/crc32.h"

#include <cstdio>
#include <new>

#include "core/crc32_clmul.h"
#include "core/crypto.h"
#include "core/file_handle.h"

namespace emberfall {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;
constexpr std::align_val_t kFileBufferAlignment{32};

constexpr Crc32Tables MakeTables() {
  Crc32Tables tables{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1u) ? kPolynomial : 0u);
    tables[0][i] = value;
  }
  for (size_t k = 1; k < 16; ++k) {
    for (size_t i = 0; i < 256; ++i) {
      const std::uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous >> 8) ^ tables[0][previous & 0xFFu];
    }
  }
  return tables;
}

// Built by the compiler, so there is no start-up cost and no race on first use.
constexpr Crc32Tables kTables = MakeTables();

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

const Crc32Tables& Crc32LookupTables() { return kTables; }

std::uint32_t Crc32UpdatePortable(std::uint32_t crc, const std::uint8_t* p, size_t length) {
  const auto& t = kTables;
  while (length >= 16) {
    const std::uint32_t a = LoadLe32(p) ^ crc;
    const std::uint32_t b = LoadLe32(p + 4);
    const std::uint32_t c = LoadLe32(p + 8);
    const std::uint32_t d = LoadLe32(p + 12);
    // Only |a| depends on the previous step; keeping the other twelve
    // lookups in separate sums lets them run ahead of the dependency chain.
    const std::uint32_t low = t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^
                              t[8][b >> 24] ^ t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF];
    const std::uint32_t high = t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^ t[3][d & 0xFF] ^
                               t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          low ^ high;
    p += 16;
    length -= 16;
  }
  while (length-- > 0) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
  return crc;
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, size_t length) {
  static const bool clmul = Crc32ClmulSupported();
  const auto* p = static_cast<const std::uint8_t*>(data);
  // Below four lanes of 16 bytes the folding has nothing to fold.
  if (clmul && length >= 64) {
    const size_t folded = length & ~size_t{15};
    crc = Crc32UpdateClmul(crc, p, folded);
    p += folded;
    length -= folded;
  }
  return Crc32UpdatePortable(crc, p, length);
}

std::uint32_t Crc32Buffer(const void* data, size_t length) {
  return ~Crc32Update(0xFFFFFFFFu, data, length);
}

// The buffer has an owner instead of living in thread-local storage: with
// mingw-w64's emulated TLS a thread-local object's destructor can run after
// its storage was freed at thread exit, and the worker then crashed freeing
// a stale pointer.
HashBuffer::HashBuffer() : bytes_(new (kFileBufferAlignment) std::uint8_t[kBytes]()) {}

void HashBuffer::AlignedDelete::operator()(std::uint8_t* p) const {
  ::operator delete[](p, kFileBufferAlignment);
}

bool Crc32File(const FileHandle& file, std::uint32_t& crc, HashBuffer& buffer, Sha256* sha256) {
  std::uint32_t running = 0xFFFFFFFFu;
  for (;;) {
    if (buffer.cancelled()) return false;
    size_t got = 0;
    if (!ReadChunk(file, buffer.data(), HashBuffer::kBytes, got)) return false;
    if (got == 0) break;
    running = Crc32Update(running, buffer.data(), got);
    if (sha256 != nullptr) sha256->Update(buffer.data(), got);
  }
  crc = ~running;
  return true;
}

std::string FormatCrcHex(std::uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof(text), "%08x", static_cast<unsigned>(crc));
  return std::string(text, 8);
}

}  // namespace emberfall

// The two ways CRC-32 is computed, for crc32.cpp and the tests that check one
// against the other. Everyone else calls Crc32Update, which picks.
#ifndef EMBERFALL_CORE_CRC32_CLMUL_H_
#define EMBERFALL_CORE_CRC32_CLMUL_H_

#include <cstddef>
#include <cstdint>

namespace emberfall {

// True when this processor has carry-less multiplication and SSE4.1
// (CPUID leaf 1). Always false on other architectures.
bool Crc32ClmulSupported();

// Folds |length| bytes into |crc| like Crc32Update. Only where
// Crc32ClmulSupported(); |length| must be at least 64 and a multiple of 16.
std::uint32_t Crc32UpdateClmul(std::uint32_t crc, const std::uint8_t* data, size_t length);

// Slicing-by-16, the portable way; any length.
std::uint32_t Crc32UpdatePortable(std::uint32_t crc, const std::uint8_t* data, size_t length);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_CRC32_CLMUL_H_

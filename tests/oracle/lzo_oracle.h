// liblzo2 for the benchmarks only (the launcher never links it): the
// compressors whose streams our decoder reads, and its decoder as baseline.
#ifndef EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_
#define EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace emberfall::oracle {

enum class LzoLevel { Lzo1x1, Lzo1x999 };

// The stream of lzo1x_1_compress or lzo1x_999_compress; throws on failure.
std::vector<std::uint8_t> LzoCompress(std::span<const std::uint8_t> data, LzoLevel level);
// lzo1x_decompress_safe; returns liblzo2's result code (0 = ok).
int LzoDecompressSafe(const std::uint8_t* source, size_t source_length, std::uint8_t* destination,
                      size_t capacity, size_t& produced);
const char* LevelName(LzoLevel level);

}  // namespace emberfall::oracle

#endif  // EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_

// liblzo2 as a reference: the compressors that make the streams our decoder
// must read, and its safe decoder as the speed baseline. Tests and
// benchmarks only; the launcher never links liblzo2.
#ifndef EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_
#define EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace emberfall::oracle {

enum class LzoLevel { Lzo1x1, Lzo1x999 };

// The LZO1X stream of |data|, made by lzo1x_1_compress or lzo1x_999_compress.
std::vector<std::uint8_t> LzoCompress(std::span<const std::uint8_t> data, LzoLevel level);

// lzo1x_decompress_safe; returns liblzo2's result code (0 = ok).
int LzoDecompressSafe(const std::uint8_t* source, size_t source_length, std::uint8_t* destination,
                      size_t capacity, size_t& produced);

const char* LevelName(LzoLevel level);

}  // namespace emberfall::oracle

#endif  // EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_

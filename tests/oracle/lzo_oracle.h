// liblzo2 for the oracle test and the benchmarks: its compressors, whose
// streams our decoder reads, and its safe decoder, which reads ours. No
// program we ship links liblzo2.
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
const char* LevelName(LzoLevel level);
// Whether lzo1x_decompress_safe of |stream|, with room for |expected| only,
// reports success and yields exactly |expected|.
bool LzoDecodesTo(std::span<const std::uint8_t> stream, std::span<const std::uint8_t> expected);

}  // namespace emberfall::oracle

#endif  // EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_

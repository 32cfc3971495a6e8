// liblzo2's compressors, whose streams our decoder reads, for the oracle test
// and the benchmarks; the launcher never links liblzo2.
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

}  // namespace emberfall::oracle

#endif  // EMBERFALL_TESTS_ORACLE_LZO_ORACLE_H_

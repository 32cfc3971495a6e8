// Test and benchmark data: the same bytes on every platform and run
// (std::mt19937's raw output is fixed by the standard).
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_CORPUS_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_CORPUS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace emberfall::test {

using Bytes = std::vector<std::uint8_t>;

// Eight bytes per step (xorshift64*).
Bytes FastRandomBytes(size_t size, std::uint64_t seed);
// English-like words, punctuation and line breaks.
Bytes TextBytes(size_t size, std::uint32_t seed);
// Stretches of the kinds an LZO1X compressor meets, one after another: text,
// runs of one byte, noise, and copies of earlier bytes from 1 to 60000 bytes
// back, 2 to 300 long.
Bytes MixedBytes(size_t size, std::uint32_t seed);
// Noise in which the |length| bytes from offset 8 on repeat |distance| bytes
// later (overlapping when |distance| < |length|), then 8 more bytes of noise.
Bytes RepeatedBytes(size_t distance, size_t length, std::uint64_t seed);
// What the compressor tests feed it, by name: every length from 0 to 4096 (of
// MixedBytes), a repeat at each reach limit of the LZO1X forms at lengths
// around each length field's edge (RepeatedBytes), and the corpora: text,
// noise, zeros, MixedBytes and |program|'s bytes.
std::vector<std::pair<std::string, Bytes>> LzoCompressorInputs(const Bytes& program);
inline constexpr size_t kLzoReachDistances[] = {1,    1024,  1025,  2048,  2049, 3072,
                                                3073, 16384, 16385, 49151, 49152};
inline constexpr size_t kLzoEdgeLengths[] = {4, 8, 9, 10, 33, 34, 300};
// The two framings of a payload.
Bytes FrameBare(std::uint32_t uncompressed_size, std::span<const std::uint8_t> stream);
Bytes FrameMcoz(std::uint32_t uncompressed_size, std::span<const std::uint8_t> stream,
                std::uint32_t marker = 0);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_CORPUS_H_

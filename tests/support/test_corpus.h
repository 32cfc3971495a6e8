// Deterministic test data for the checksum and payload tests, the fuzz seeds
// and the benchmarks: the same bytes on every platform and every run
// (std::mt19937's raw output is fixed by the standard).
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_CORPUS_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_CORPUS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace emberfall::test {

using Bytes = std::vector<std::uint8_t>;

struct CorpusPart {
  std::string name;
  Bytes data;
};

Bytes RandomBytes(size_t size, std::uint32_t seed);
// Pseudo-random too, but eight bytes per step (xorshift64*): for the
// multi-megabyte files of the apply tests, where generation time counts.
Bytes FastRandomBytes(size_t size, std::uint64_t seed);
// English-like words, punctuation and line breaks.
Bytes TextBytes(size_t size, std::uint32_t seed);
// Machine-code-like records: a small set of opcodes, small immediates,
// addresses and zero padding.
Bytes BinaryLikeBytes(size_t size, std::uint32_t seed);
// Runs of one byte, 1 to |max_run| long, of random values.
Bytes RunBytes(size_t size, size_t max_run, std::uint32_t seed);
// A pattern of |period| random bytes repeated, with a rare changed byte, so
// that compressors emit matches that overlap their own output.
Bytes PatternBytes(size_t size, size_t period, std::uint32_t seed);
// Random data in which copies of earlier bytes sit exactly at the distances
// where the stream format changes its match encoding (2048, 2049, 3072,
// 16384, 16385, 49151 and their neighbours).
Bytes DistanceBytes(std::uint32_t seed);

// The varied corpus of the decoder tests: empty, one byte, long runs, short
// patterns, random, text, binary-like, and the distance limits. Every part
// is at most a few hundred KiB.
std::vector<CorpusPart> SmallCorpus();

// The two framings of a payload.
Bytes FrameBare(std::uint32_t uncompressed_size, std::span<const std::uint8_t> stream);
Bytes FrameMcoz(std::uint32_t uncompressed_size, std::span<const std::uint8_t> stream,
                std::uint32_t marker = 0);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_CORPUS_H_

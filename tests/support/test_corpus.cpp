#include "tests/support/test_corpus.h"

#include <algorithm>
#include <array>
#include <random>
#include <string_view>

namespace emberfall::test {
namespace {

// A value in [0, bound) from the raw generator output; the slight bias does
// not matter for test data, and unlike the distributions it is portable.
std::uint32_t Below(std::mt19937& rng, std::uint32_t bound) { return rng() % bound; }

void AppendLe32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Bytes RandomBytes(size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng() >> 24);
  return out;
}

Bytes FastRandomBytes(size_t size, std::uint64_t seed) {
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  Bytes out(size);
  for (size_t at = 0; at < size; at += 8) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    const std::uint64_t value = state * 0x2545F4914F6CDD1Dull;
    for (size_t i = 0; i < 8 && at + i < size; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  return out;
}

Bytes TextBytes(size_t size, std::uint32_t seed) {
  static constexpr std::array<std::string_view, 48> kWords = {
      "the",    "patch",   "launcher", "file",    "server",  "game",    "of",      "and",
      "to",     "a",       "in",       "is",      "that",    "for",     "it",      "with",
      "as",     "was",     "on",       "be",      "at",      "by",      "this",    "have",
      "from",   "or",      "one",      "had",     "not",     "but",     "what",    "all",
      "were",   "when",    "we",       "there",   "can",     "an",      "your",    "which",
      "their",  "said",    "if",       "Emberfall", "world", "dragon",  "checksum", "download"};
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size + 16);
  while (out.size() < size) {
    const std::string_view word = kWords[Below(rng, kWords.size())];
    out.insert(out.end(), word.begin(), word.end());
    const std::uint32_t roll = Below(rng, 100);
    if (roll < 6) out.push_back('.');
    if (roll < 9) out.push_back(',');
    out.push_back(roll > 96 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

Bytes BinaryLikeBytes(size_t size, std::uint32_t seed) {
  static constexpr std::array<std::uint8_t, 12> kOpcodes = {0x48, 0x89, 0x8B, 0xE8, 0xFF, 0x0F,
                                                            0x83, 0xC3, 0x55, 0x41, 0x31, 0x74};
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size + 32);
  std::uint32_t address = 0x401000;
  while (out.size() < size) {
    const std::uint32_t roll = Below(rng, 100);
    out.push_back(kOpcodes[Below(rng, kOpcodes.size())]);
    if (roll < 40) {
      out.push_back(static_cast<std::uint8_t>(Below(rng, 16) << 3 | Below(rng, 8)));
    } else if (roll < 70) {
      address += Below(rng, 256);
      AppendLe32(out, address);
    } else if (roll < 80) {
      out.insert(out.end(), Below(rng, 24), 0);
    } else {
      out.push_back(static_cast<std::uint8_t>(rng()));
    }
  }
  out.resize(size);
  return out;
}

Bytes RunBytes(size_t size, size_t max_run, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    const size_t run = 1 + Below(rng, static_cast<std::uint32_t>(max_run));
    out.insert(out.end(), std::min(run, size - out.size()), static_cast<std::uint8_t>(rng()));
  }
  return out;
}

Bytes PatternBytes(size_t size, size_t period, std::uint32_t seed) {
  std::mt19937 rng(seed);
  const Bytes pattern = RandomBytes(period, seed + 1);
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) {
    out[i] = Below(rng, 997) == 0 ? static_cast<std::uint8_t>(rng()) : pattern[i % period];
  }
  return out;
}

Bytes DistanceBytes(std::uint32_t seed) {
  static constexpr std::array<size_t, 16> kDistances = {2047,  2048,  2049,  2050,  3071,  3072,
                                                        3073,  16383, 16384, 16385, 16386, 32768,
                                                        49150, 49151, 49152, 49153};
  std::mt19937 rng(seed);
  Bytes out = RandomBytes(60000, seed);
  for (size_t distance : kDistances) {
    for (size_t length : {2, 3, 4, 9, 34, 300}) {
      const size_t start = out.size() - distance;
      for (size_t i = 0; i < length; ++i) out.push_back(out[start + i]);
      // A little noise between copies keeps the compressor from chaining them.
      for (int i = 0; i < 5; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
    }
  }
  return out;
}

std::vector<CorpusPart> SmallCorpus() {
  std::vector<CorpusPart> parts;
  parts.push_back({"empty", {}});
  parts.push_back({"one-byte", {0x42}});
  parts.push_back({"two-bytes", {0x00, 0xFF}});
  parts.push_back({"zeros-300k", Bytes(300000, 0)});
  parts.push_back({"runs", RunBytes(100000, 5000, 11)});
  parts.push_back({"short-runs", RunBytes(20000, 12, 12)});
  for (size_t period : {1, 2, 3, 5, 7, 8, 13, 16, 31}) {
    parts.push_back({"pattern-" + std::to_string(period), PatternBytes(20000, period, 20 + period)});
  }
  parts.push_back({"random-1", RandomBytes(1, 30)});
  parts.push_back({"random-17", RandomBytes(17, 31)});
  parts.push_back({"random-20k", RandomBytes(20000, 32)});
  parts.push_back({"text", TextBytes(60000, 40)});
  parts.push_back({"binary-like", BinaryLikeBytes(60000, 50)});
  parts.push_back({"distances", DistanceBytes(60)});
  return parts;
}

// Sized up front and filled in place: GCC 12 at -O3 takes an insert after a
// push_back for a write past the end (-Wstringop-overflow) and stops the build.
Bytes FrameBare(std::uint32_t uncompressed_size, std::span<const std::uint8_t> stream) {
  Bytes out(4 + stream.size());
  for (size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(uncompressed_size >> (8 * i));
  std::copy(stream.begin(), stream.end(), out.begin() + 4);
  return out;
}

Bytes FrameMcoz(std::uint32_t uncompressed_size, std::span<const std::uint8_t> stream,
                std::uint32_t marker) {
  Bytes out = {'M', 'C', 'O', 'Z'};
  AppendLe32(out, marker);
  AppendLe32(out, static_cast<std::uint32_t>(stream.size()));
  AppendLe32(out, uncompressed_size);
  AppendLe32(out, 0);
  out.resize(20 + stream.size());
  std::copy(stream.begin(), stream.end(), out.begin() + 20);
  return out;
}

}  // namespace emberfall::test

#include "tests/support/test_corpus.h"

#include <algorithm>
#include <array>
#include <random>
#include <string_view>

namespace emberfall::test {

Bytes FastRandomBytes(size_t size, std::uint64_t seed) {
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  Bytes out(size);
  for (size_t at = 0; at < size; at += 8) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    const std::uint64_t value = state * 0x2545F4914F6CDD1Dull;
    for (size_t i = 0; i < 8 && at + i < size; ++i) {
      out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  }
  return out;
}

// rng() % n rather than the distributions, which are not portable.
Bytes TextBytes(size_t size, std::uint32_t seed) {
  static constexpr std::array<std::string_view, 24> kWords = {
      "the", "patch", "launcher", "file", "server", "game",   "of",        "and",
      "to",  "a",     "in",       "is",   "that",   "dragon", "Emberfall", "checksum",
      "was", "on",    "be",       "at",   "for",    "it",     "with",      "download"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const std::string_view word = kWords[rng() % kWords.size()];
    out.insert(out.end(), word.begin(), word.end());
    const std::uint32_t roll = rng() % 100;
    if (roll < 6) out.push_back('.');
    if (roll < 9) out.push_back(',');
    out.push_back(roll > 96 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

Bytes MixedBytes(size_t size, std::uint32_t seed) {
  static constexpr size_t kDistances[] = {1, 2, 3, 7, 700, 1024, 1025, 2048, 2049, 3000, 3073,
                                          16384, 16385, 40000, 49151, 49152, 60000};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const size_t length = 2 + rng() % (rng() % 8 == 0 ? 299 : 24);
    const size_t distance = kDistances[rng() % std::size(kDistances)];
    switch (rng() % 4) {
      case 0: for (std::uint8_t c : TextBytes(length, rng())) out.push_back(c); break;
      case 1: out.insert(out.end(), length, static_cast<std::uint8_t>(rng())); break;
      case 2: for (size_t i = 0; i < length % 40; ++i) out.push_back(static_cast<std::uint8_t>(rng())); break;
      default:
        for (size_t i = 0; i < length && distance <= out.size(); ++i) out.push_back(out[out.size() - distance]);
    }
  }
  out.resize(size);
  return out;
}

Bytes RepeatedBytes(size_t distance, size_t length, std::uint64_t seed) {
  Bytes out = FastRandomBytes(8 + distance + length + 8, seed);
  for (size_t i = 0; i < length; ++i) out[8 + distance + i] = out[8 + i];
  return out;
}

std::vector<std::pair<std::string, Bytes>> LzoCompressorInputs(const Bytes& program) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  const Bytes mixed = MixedBytes(4096, 5);
  for (size_t n = 0; n <= mixed.size(); ++n) {
    inputs.emplace_back("length " + std::to_string(n),
                        Bytes(mixed.begin(), mixed.begin() + static_cast<std::ptrdiff_t>(n)));
  }
  for (size_t distance : kLzoReachDistances) {
    for (size_t length : kLzoEdgeLengths) {
      inputs.emplace_back("repeat " + std::to_string(distance) + "/" + std::to_string(length),
                          RepeatedBytes(distance, length, distance + length));
    }
  }
  for (auto& corpus : {std::pair<std::string, Bytes>{"text", TextBytes(200000, 1)},
                       {"random", FastRandomBytes(200000, 2)}, {"zeros", Bytes(300000, 0)},
                       {"mixed", MixedBytes(400000, 3)}, {"program", program}}) {
    inputs.push_back(corpus);
  }
  return inputs;
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
  const auto compressed = static_cast<std::uint32_t>(stream.size());
  for (std::uint32_t word : {marker, compressed, uncompressed_size, 0u}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
  }
  out.resize(20 + stream.size());
  std::copy(stream.begin(), stream.end(), out.begin() + 20);
  return out;
}

}  // namespace emberfall::test

// SPDX-License-Identifier: Apache-2.0
#include "core/lzo1x_compress.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "core/lzo1x_match.h"
#include "core/lzo1x_stream.h"

namespace emberfall {
namespace {

using lzo1x::Load32;

// The fast level works through the input in blocks of this many positions,
// each with a fresh table: a match stays inside its block, so the distance
// needs no check, and a slot that was never set points at the block's start,
// which is cheap to compare against.
constexpr size_t kBlock = 49152;
constexpr int kTableBits = 14;
// After every 2^kSkipShift literals in a row the probe moves one byte further,
// so data that does not compress passes at close to copying speed.
constexpr int kSkipShift = 5;
// No match starts in the last bytes, so that 16-byte literal copies and the
// 8-byte match comparison stay inside the input.
constexpr size_t kTail = 20;

std::uint32_t Hash4(std::uint32_t bytes) { return (bytes * 2654435761u) >> (32 - kTableBits); }

// Greedy matching: each position's hash slot names the last position with
// the same hash; if its four bytes are equal the match is taken at its full
// length. The output cannot outgrow Lzo1xCompressBound: every match of four
// bytes or more costs at least one byte less than it covers, which pays for
// the run before it unless that run is 19 literals or longer (one byte more,
// and one per 255).
size_t CompressFast(const std::uint8_t* in, size_t n, std::uint8_t* out) {
  std::uint8_t* op = out;
  std::uint8_t* state_byte = nullptr;
  const std::uint8_t* anchor = in;  // the first literal not yet written
  if (n > kTail) {
    const auto table = std::make_unique<std::uint16_t[]>(size_t{1} << kTableBits);
    const std::uint8_t* const end = in + n;
    const std::uint8_t* const limit = end - kTail;
    const std::uint8_t* ip = in + 1;
    while (ip < limit) {
      // The block's base is one byte back, so no candidate is the probe itself.
      const std::uint8_t* const base = ip - 1;
      const std::uint8_t* const block_end = std::min(limit, base + kBlock);
      std::memset(table.get(), 0, sizeof(std::uint16_t) << kTableBits);
      // Where the skip counts literals from: each block starts afresh.
      const std::uint8_t* run_start = std::max(anchor, base);
      while (ip < block_end) {
        const std::uint32_t bytes = Load32(ip);
        std::uint16_t& slot = table[Hash4(bytes)];
        const std::uint8_t* candidate = base + slot;
        slot = static_cast<std::uint16_t>(ip - base);
        if (Load32(candidate) != bytes) {
          ip += 1 + (static_cast<size_t>(ip - run_start) >> kSkipShift);
          continue;
        }
        const size_t run = static_cast<size_t>(ip - anchor);
        if (run != 0) {
          op = lzo1x::PutRun(op, state_byte, out, run);
          // 16-byte steps: the input has kTail bytes to spare past |ip|,
          // the output its bound's slack.
          if (run <= 32) {
            std::memcpy(op, anchor, 16);
            if (run > 16) std::memcpy(op + 16, anchor + 16, 16);
          } else {
            std::memcpy(op, anchor, run);
          }
          op += run;
        }
        const size_t length = 4 + lzo1x::MatchLength(ip + 4, candidate + 4, end);
        op = lzo1x::PutMatch(op, 0, length, static_cast<size_t>(ip - candidate));
        state_byte = op - 2;
        ip += length;
        anchor = ip;
        run_start = ip;
      }
    }
  }
  const auto run = static_cast<size_t>(in + n - anchor);
  if (run != 0) {
    op = lzo1x::PutRun(op, state_byte, out, run);
    std::memcpy(op, anchor, run);
    op += run;
  }
  return static_cast<size_t>(lzo1x::PutEnd(op) - out);
}

}  // namespace

size_t Lzo1xCompressTo(std::span<const std::uint8_t> input, Lzo1xLevel level,
                       std::span<std::uint8_t> out) {
  if (input.size() > kLzo1xMaxInput) throw std::length_error("LZO1X input larger than 4 GiB - 1");
  if (out.size() < Lzo1xCompressBound(input.size())) {
    throw std::length_error("LZO1X output buffer smaller than the bound");
  }
  return level == Lzo1xLevel::Fast ? CompressFast(input.data(), input.size(), out.data())
                                   : lzo1x::CompressBest(input.data(), input.size(), out.data());
}

std::vector<std::uint8_t> Lzo1xCompress(std::span<const std::uint8_t> input, Lzo1xLevel level) {
  if (input.size() > kLzo1xMaxInput) throw std::length_error("LZO1X input larger than 4 GiB - 1");
  std::vector<std::uint8_t> out(Lzo1xCompressBound(input.size()));
  out.resize(Lzo1xCompressTo(input, level, out));
  return out;
}

}  // namespace emberfall

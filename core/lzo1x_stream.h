// SPDX-License-Identifier: Apache-2.0
// The LZO1X instruction encoder shared by the compressor's levels: what each
// literal run and match costs in bytes, and the writer that emits them. Only
// the compressor's own files include this header.
#ifndef EMBERFALL_CORE_LZO1X_STREAM_H_
#define EMBERFALL_CORE_LZO1X_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/lzo1x_compress.h"

namespace emberfall::lzo1x {

// The decoder's reach, by instruction form (see core/lzo1x.cpp): a 2-byte
// match right after a run of 1-3 literals reaches 1024 bytes back; a 3-8
// byte match in two bytes 2048; a 3-byte match right after a run of 4 or
// more literals 2049-3072; a match of three bytes or more 16384, and the far
// form 49151.
inline constexpr size_t kShortMatchMaxDistance = 1024;
inline constexpr size_t kNearMatchMaxDistance = 2048;
inline constexpr size_t kNearMatchMaxLength = 8;
inline constexpr size_t kAfterRunMinDistance = 2049;
inline constexpr size_t kAfterRunMaxDistance = 3072;
inline constexpr size_t kMidMaxDistance = 16384;
inline constexpr size_t kMaxDistance = 49151;
// The first byte of a stream carries a run of at most this many literals.
inline constexpr size_t kFirstRunMaxInByte = 238;

// Bytes of a length extension carrying |value| >= 1: a zero byte per 255,
// then a non-zero byte.
constexpr size_t ExtensionBytes(size_t value) { return 1 + (value - 1) / 255; }

// Bytes a run of |n| literals costs beyond the literals themselves. |first|:
// the run opens the stream, where no match can carry 1-3 literals.
constexpr size_t RunOverhead(size_t n, bool first) {
  if (n == 0) return 0;
  if (first && n <= kFirstRunMaxInByte) return 1;
  if (n <= 3) return 0;
  if (n <= 18) return 1;
  return 1 + ExtensionBytes(n - 18);
}

inline constexpr size_t kNotEncodable = static_cast<size_t>(-1);

// Bytes of a match of |length| at |distance| right after |literals| literals
// (counted since the previous match), as PutMatch encodes it, or
// kNotEncodable.
constexpr size_t MatchCost(size_t length, size_t distance, size_t literals) {
  if (length == 2) {
    return distance <= kShortMatchMaxDistance && literals >= 1 && literals <= 3 ? 2 : kNotEncodable;
  }
  if (length < 2 || distance == 0 || distance > kMaxDistance) return kNotEncodable;
  if (length <= kNearMatchMaxLength && distance <= kNearMatchMaxDistance) return 2;
  if (length == 3 && literals >= 4 && distance >= kAfterRunMinDistance &&
      distance <= kAfterRunMaxDistance) {
    return 2;
  }
  if (distance <= kMidMaxDistance) return 3 + (length > 33 ? ExtensionBytes(length - 33) : 0);
  return 3 + (length > 9 ? ExtensionBytes(length - 9) : 0);
}

// A length field of |bits| holding |value|, or zero and an extension.
inline std::uint8_t* PutLength(std::uint8_t* op, size_t opcode, size_t value, size_t bits) {
  if (value <= bits) {
    *op++ = static_cast<std::uint8_t>(opcode | value);
    return op;
  }
  *op++ = static_cast<std::uint8_t>(opcode);
  for (value -= bits; value > 255; value -= 255) *op++ = 0;
  *op++ = static_cast<std::uint8_t>(value);
  return op;
}

// The 14-bit distance field; the low two bits stay free for a run.
inline std::uint8_t* PutDistance(std::uint8_t* op, size_t d) {
  op[0] = static_cast<std::uint8_t>((d & 63) << 2);
  op[1] = static_cast<std::uint8_t>(d >> 6);
  return op + 2;
}

// Announces a run of |n| >= 1 literals at |op|: in the low bits of
// |state_byte| (the last match's, or null before any match) for 1-3 of
// them, else with a byte of its own, the stream's first (|op| is
// |stream|) or a run instruction. Returns where the literals go.
inline std::uint8_t* PutRun(std::uint8_t* op, std::uint8_t* state_byte, const std::uint8_t* stream,
                            size_t n) {
  if (n <= 3 && state_byte != nullptr) {
    *state_byte = static_cast<std::uint8_t>(*state_byte | n);
    return op;
  }
  if (op == stream && n <= kFirstRunMaxInByte) {
    *op++ = static_cast<std::uint8_t>(17 + n);
    return op;
  }
  return PutLength(op, 0, n - 3, 15);
}

// Writes a match that MatchCost accepts after |literals| literals; returns
// the end. Its last two bits but one byte hold the next run, if 1-3 long.
inline std::uint8_t* PutMatch(std::uint8_t* op, size_t literals, size_t length, size_t distance) {
  if (length == 2) {
    const size_t d = distance - 1;
    op[0] = static_cast<std::uint8_t>((d & 3) << 2);
    op[1] = static_cast<std::uint8_t>(d >> 2);
    return op + 2;
  }
  if (length <= kNearMatchMaxLength && distance <= kNearMatchMaxDistance) {
    const size_t d = distance - 1;
    op[0] = static_cast<std::uint8_t>(((length - 1) << 5) | ((d & 7) << 2));
    op[1] = static_cast<std::uint8_t>(d >> 3);
    return op + 2;
  }
  if (length == 3 && literals >= 4 && distance >= kAfterRunMinDistance &&
      distance <= kAfterRunMaxDistance) {
    const size_t d = distance - kAfterRunMinDistance;
    op[0] = static_cast<std::uint8_t>((d & 3) << 2);
    op[1] = static_cast<std::uint8_t>(d >> 2);
    return op + 2;
  }
  if (distance <= kMidMaxDistance) return PutDistance(PutLength(op, 32, length - 2, 31), distance - 1);
  const size_t d = distance - kMidMaxDistance;
  return PutDistance(PutLength(op, 16 | ((d >> 11) & 8), length - 2, 7), d & 0x3FFF);
}

// The end-of-stream instruction: a far match of distance zero.
inline std::uint8_t* PutEnd(std::uint8_t* op) {
  op[0] = 0x11;
  op[1] = 0;
  op[2] = 0;
  return op + 3;
}

// Writes one LZO1X stream of |n| input bytes into Lzo1xCompressBound(n)
// bytes: Match() calls, each with the literals before it, then Finish() with
// the last literals. The caller passes only matches that MatchCost accepts
// for the literals before them.
class StreamWriter {
 public:
  StreamWriter(const std::uint8_t* input, size_t n, std::uint8_t* out)
      : input_(input), n_(n), out_(out), end_(out + Lzo1xCompressBound(n)), op_(out) {}

  void Match(const std::uint8_t* literals, size_t literal_count, size_t length, size_t distance) {
    // The room for the run, the match and the end of the stream after them;
    // once it is short the stream is abandoned.
    full_ = full_ || static_cast<size_t>(end_ - op_) < literal_count + literal_count / 255 + length / 255 + 16;
    if (full_) return;
    if (literal_count != 0) {
      op_ = PutRun(op_, state_byte_, out_, literal_count);
      std::memcpy(op_, literals, literal_count);
      op_ += literal_count;
    }
    op_ = PutMatch(op_, literal_count, length, distance);
    state_byte_ = op_ - 2;
  }

  // Ends the stream after |literal_count| more literals; returns its size.
  // Should the matches have cost more than the room (no input met so far
  // comes close), the stream is instead the whole input as one run, which
  // always fits.
  size_t Finish(const std::uint8_t* literals, size_t literal_count) {
    full_ = full_ || static_cast<size_t>(end_ - op_) < literal_count + literal_count / 255 + 8;
    if (full_) {
      op_ = out_;
      state_byte_ = nullptr;
      literals = input_;
      literal_count = n_;
    }
    if (literal_count != 0) {
      op_ = PutRun(op_, state_byte_, out_, literal_count);
      std::memcpy(op_, literals, literal_count);
      op_ += literal_count;
    }
    return static_cast<size_t>(PutEnd(op_) - out_);
  }

 private:
  const std::uint8_t* const input_;
  const size_t n_;
  std::uint8_t* const out_;
  std::uint8_t* const end_;
  std::uint8_t* op_;
  std::uint8_t* state_byte_ = nullptr;  // where the last match keeps the next run's count
  bool full_ = false;
};

}  // namespace emberfall::lzo1x

#endif  // EMBERFALL_CORE_LZO1X_STREAM_H_

#include "core/lzo1x.h"

#include <cstring>

namespace emberfall {
namespace {

// Opcode layout, by the value t of the first byte of an instruction. L are
// length bits, D distance bits, S the count (0-3) of literals that follow
// the instruction, H the high distance bit; "state" is what the previous
// instruction left behind and only matters for t < 16.
//
//   t >= 64   LLLDDDSS DDDDDDDD                 match, length 3-8, distance 1-2048
//   t >= 32   001LLLLL [ext] DDDDDDDD DDDDDDSS  match, length from 3, distance 1-16384
//   t >= 16   0001HLLL [ext] DDDDDDDD DDDDDDSS  match, length from 3, distance
//             16385-49151; H=0 and D=0 is the end of the stream
//   t < 16, state 0     0000LLLL [ext]          literal run of 4 or more bytes
//   t < 16, state 1-3   0000DDSS DDDDDDDD       match of 2 bytes, distance 1-1024
//   t < 16, state 4     0000DDSS DDDDDDDD       match of 3 bytes, distance 2049-3072
//
// A length field of zero is extended: every following zero byte adds 255,
// the first non-zero byte is added and ends the length. Two-byte distance
// fields are little-endian. A first byte of the stream above 17 is a literal
// run of that many bytes minus 17 and sets the state like a match's S (or 4
// for four literals or more).
constexpr size_t kStateAfterLiteralRun = 4;

inline size_t Left(const std::uint8_t* position, const std::uint8_t* end) {
  return static_cast<size_t>(end - position);
}

// Adds a zero-byte length extension to |length|. False when the input ends
// inside it. The scan is bounded by the input, so |length| cannot overflow
// for any input that fits in memory.
inline bool ReadExtension(const std::uint8_t*& ip, const std::uint8_t* ip_end, size_t& length) {
  const std::uint8_t* const start = ip;
  while (ip != ip_end && *ip == 0) ++ip;
  if (ip == ip_end) return false;
  const auto zeros = static_cast<size_t>(ip - start);
  length += zeros * 255 + *ip++;
  return true;
}

// Copies |n| literal bytes; the caller has checked that both exist. Away from
// the buffer ends the copy runs in 16-byte steps and may write up to 15
// bytes past the run, which later output overwrites.
inline void CopyLiterals(std::uint8_t*& op, const std::uint8_t*& ip, size_t n,
                         const std::uint8_t* ip_end, const std::uint8_t* op_end) {
  if (Left(ip, ip_end) >= n + 15 && Left(op, op_end) >= n + 15) {
    std::uint8_t* d = op;
    const std::uint8_t* s = ip;
    std::uint8_t* const stop = op + n;
    do {
      std::memcpy(d, s, 16);
      d += 16;
      s += 16;
    } while (d < stop);
  } else {
    std::memcpy(op, ip, n);
  }
  op += n;
  ip += n;
}

// Copies a match of |length| bytes from |distance| bytes back; the caller has
// checked room and distance. A distance shorter than the length repeats the
// last |distance| bytes. Step copies never overlap their source: a step of
// k bytes is only used while the source lies at least k bytes back.
inline void CopyMatch(std::uint8_t*& op, size_t distance, size_t length,
                      const std::uint8_t* op_end) {
  std::uint8_t* d = op;
  std::uint8_t* const stop = op + length;
  const std::uint8_t* m = op - distance;
  op = stop;
  if (Left(d, op_end) < length + 15) {
    if (distance >= length) {
      std::memcpy(d, m, length);
    } else {
      while (d < stop) *d++ = *m++;
    }
    return;
  }
  if (distance >= 16) {
    do {
      std::memcpy(d, m, 16);
      d += 16;
      m += 16;
    } while (d < stop);
    return;
  }
  if (distance < 8) {
    // The match is periodic in |distance|, so once a few single bytes are
    // out it can equally reach back a multiple of the period that is at
    // least 8 bytes.
    const size_t period = distance * ((8 + distance - 1) / distance);
    const size_t head = period - distance;
    if (head >= length) {
      while (d < stop) *d++ = *m++;
      return;
    }
    for (size_t i = 0; i < head; ++i) *d++ = *m++;
    m = d - period;
  }
  do {
    std::memcpy(d, m, 8);
    d += 8;
    m += 8;
  } while (d < stop);
}

}  // namespace

LzoResult Lzo1xDecompressSafe(const std::uint8_t* source, size_t source_length,
                              std::uint8_t* destination, size_t destination_capacity,
                              size_t& produced) {
  const std::uint8_t* ip = source;
  const std::uint8_t* const ip_end = source + source_length;
  std::uint8_t* op = destination;
  std::uint8_t* const op_end = destination + destination_capacity;
  const auto finish = [&](LzoResult result) {
    produced = static_cast<size_t>(op - destination);
    return result;
  };

  if (ip == ip_end) return finish(LzoResult::InputOverrun);
  size_t state = 0;
  if (*ip > 17) {
    const size_t n = static_cast<size_t>(*ip++) - 17;
    if (Left(ip, ip_end) < n) return finish(LzoResult::InputOverrun);
    if (Left(op, op_end) < n) return finish(LzoResult::OutputOverrun);
    CopyLiterals(op, ip, n, ip_end, op_end);
    state = n < 4 ? n : kStateAfterLiteralRun;
  }

  for (;;) {
    if (ip == ip_end) return finish(LzoResult::EofNotFound);
    const size_t t = *ip++;
    size_t length;
    size_t distance;
    if (t >= 64) {
      if (ip == ip_end) return finish(LzoResult::InputOverrun);
      distance = 1 + ((t >> 2) & 7) + (static_cast<size_t>(*ip++) << 3);
      length = (t >> 5) + 1;
      state = t & 3;
    } else if (t >= 32) {
      length = t & 31;
      if (length == 0) {
        length = 31;
        if (!ReadExtension(ip, ip_end, length)) return finish(LzoResult::InputOverrun);
      }
      length += 2;
      if (Left(ip, ip_end) < 2) return finish(LzoResult::InputOverrun);
      const size_t word = static_cast<size_t>(ip[0]) | (static_cast<size_t>(ip[1]) << 8);
      ip += 2;
      distance = 1 + (word >> 2);
      state = word & 3;
    } else if (t >= 16) {
      length = t & 7;
      if (length == 0) {
        length = 7;
        if (!ReadExtension(ip, ip_end, length)) return finish(LzoResult::InputOverrun);
      }
      length += 2;
      if (Left(ip, ip_end) < 2) return finish(LzoResult::InputOverrun);
      const size_t word = static_cast<size_t>(ip[0]) | (static_cast<size_t>(ip[1]) << 8);
      ip += 2;
      distance = ((t & 8) << 11) + (word >> 2);
      if (distance == 0) {
        return finish(ip == ip_end ? LzoResult::Ok : LzoResult::InputNotConsumed);
      }
      distance += 0x4000;
      state = word & 3;
    } else if (state == 0) {
      length = t;
      if (length == 0) {
        length = 15;
        if (!ReadExtension(ip, ip_end, length)) return finish(LzoResult::InputOverrun);
      }
      length += 3;
      if (Left(ip, ip_end) < length) return finish(LzoResult::InputOverrun);
      if (Left(op, op_end) < length) return finish(LzoResult::OutputOverrun);
      CopyLiterals(op, ip, length, ip_end, op_end);
      state = kStateAfterLiteralRun;
      continue;
    } else {
      if (ip == ip_end) return finish(LzoResult::InputOverrun);
      distance = 1 + (t >> 2) + (static_cast<size_t>(*ip++) << 2);
      if (state == kStateAfterLiteralRun) {
        distance += 2048;
        length = 3;
      } else {
        length = 2;
      }
      state = t & 3;
    }

    // The literals that follow a match belong to its instruction.
    if (Left(ip, ip_end) < state) return finish(LzoResult::InputOverrun);
    if (Left(op, op_end) < length) return finish(LzoResult::OutputOverrun);
    if (distance > static_cast<size_t>(op - destination)) {
      return finish(LzoResult::LookbehindOverrun);
    }
    CopyMatch(op, distance, length, op_end);
    if (state != 0) {
      if (Left(op, op_end) < state) return finish(LzoResult::OutputOverrun);
      if (Left(ip, ip_end) >= 4 && Left(op, op_end) >= 4) {
        std::memcpy(op, ip, 4);
      } else {
        for (size_t i = 0; i < state; ++i) op[i] = ip[i];
      }
      op += state;
      ip += state;
    }
  }
}

std::u16string LzoResultText(LzoResult code) {
  switch (code) {
    case LzoResult::Ok: return u"ok";
    case LzoResult::InputOverrun: return u"input overrun";
    case LzoResult::OutputOverrun: return u"output overrun";
    case LzoResult::LookbehindOverrun: return u"lookbehind overrun";
    case LzoResult::EofNotFound: return u"eof not found";
    case LzoResult::InputNotConsumed: return u"input not consumed";
  }
  return u"unknown";
}

}  // namespace emberfall

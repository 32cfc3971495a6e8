// Decoder of the LZO1X stream format, as the LZO1X-1 and LZO1X-999
// compressors write it. Our own code: it never reads outside the source nor
// writes outside the destination, whatever the input.
#ifndef EMBERFALL_CORE_LZO1X_H_
#define EMBERFALL_CORE_LZO1X_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace emberfall {

enum class LzoResult : int {
  Ok = 0,                 // end-of-stream instruction exactly at the end of the input
  InputOverrun = 1,       // input ended inside an instruction, or was empty
  OutputOverrun = 2,      // a literal run or match would pass the destination's end
  LookbehindOverrun = 3,  // a match reaches before the first byte produced
  EofNotFound = 4,        // input ended where the next instruction was to start
  InputNotConsumed = 5,   // bytes follow the end-of-stream instruction
};

// Decodes |source_length| bytes at |source| into |destination| of
// |destination_capacity| bytes. |produced| is the number of bytes written on
// every return, failures included. Source and destination must not overlap.
// Bytes of the destination past |produced| may have been overwritten.
// Checks before every step, in this order: enough input for the opcode, its
// extension bytes and trailing literals; room in the destination; a match
// distance within the bytes produced so far.
LzoResult Lzo1xDecompressSafe(const std::uint8_t* source, size_t source_length,
                              std::uint8_t* destination, size_t destination_capacity,
                              size_t& produced);

// "ok", "input overrun", "output overrun", "lookbehind overrun",
// "eof not found", "input not consumed"; "unknown" for any other value.
std::u16string LzoResultText(LzoResult code);

}  // namespace emberfall

#endif  // EMBERFALL_CORE_LZO1X_H_

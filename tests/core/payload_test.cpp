#include "core/payload.h"

#include <gtest/gtest.h>

#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_corpus.h"

namespace emberfall {
namespace {

using test::Bytes, test::FrameBare, test::FrameMcoz;

// All bytes of a literal, embedded NULs included, then more.
template <size_t N>
Bytes B(const char (&bytes)[N], const Bytes& more = {}) {
  Bytes out(bytes, bytes + N - 1);
  out.insert(out.end(), more.begin(), more.end());
  return out;
}

// The containers' checks in order, then hand-assembled LZO1X streams: one per
// instruction form and per result of the decoder.
TEST(PayloadTest, ChecksInOrderAndDecodesEveryInstructionForm) {
  const Bytes end = {0x11, 0x00, 0x00};
  const Bytes abcd = B("\x15" "abcd", end);  // four literals, then the end
  Bytes reserved = FrameMcoz(4, abcd);
  reserved[16] = 0xEE;  // the reserved word is never read
  Bytes trailing = FrameMcoz(4, abcd);
  trailing.push_back('!');  // nor what follows the container
  // 2100 literals (18 + 8 zero bytes * 255 + 42), then a 3-byte match 2049 back.
  const std::string run = std::string(51, 'r') + "xyz" + std::string(2046, 'r');
  Bytes long_run = B("\x00\x00\x00\x00\x00\x00\x00\x00\x00\x2A", Bytes(run.begin(), run.end()));
  long_run.insert(long_run.end(), {0x00, 0x00, 0x11, 0x00, 0x00});
  const std::tuple<Bytes, std::int64_t, std::string> cases[] = {
      {FrameBare(0, end), 0, "ok "},
      {FrameBare(4, abcd), 4, "ok abcd"},
      {FrameMcoz(4, abcd), 4, "ok abcd"},
      {trailing, 4, "ok abcd"},
      {reserved, 4, "ok abcd"},
      {FrameBare(4, abcd), -1, "6 unsupported size -1"},
      {{}, 4294967296, "6 unsupported size 4294967296"},
      {FrameBare(4, abcd), 4294967295, "6 lz header size=4 expected=4294967295"},
      {B("abc"), 0, "8 LZ payload too small"},
      {B("MCOZ", Bytes(15, 0)), 0, "8 MCOZ header too small"},
      {FrameMcoz(4, Bytes(100, 0), 1), 4, "8 MCOZ payload is encrypted"},
      {B("MCOZ\0\0\0\0\x01\0\0\0\0\0\0\0\0\0\0\0"), 0, "8 MCOZ compressed size exceeds payload"},
      {B("MCOZ\x11\x00\x00"), 0x5A4F434D, "8 MCOZ header too small"},
      {FrameBare(5, abcd), 6, "6 lz header size=5 expected=6"},
      {FrameMcoz(4, abcd), 3, "6 lz header size=4 expected=3"},
      {FrameBare(5, abcd), 5, "6 lzo output=4 expected=5"},
      {FrameBare(9, B("\x12" "a\xE0\x00", end)), 9, "ok aaaaaaaaa"},  // reaching the first byte
      {FrameBare(294, B("\x12" "a\x20\x00\x05\x00\x00", end)), 294, "ok " + std::string(294, 'a')},
      {FrameBare(12, B("\x12" "a\xE1\x00" "b\x04\x00", end)), 12, "ok aaaaaaaaabab"},
      {FrameBare(2103, long_run), 2103, "ok " + run + "xyz"},
      {FrameBare(0, B("\x10\x00\x03\x00\x00")), 0, "ok "},
      {Bytes(4, 0), 0, "8 lzo input overrun"},
      {FrameBare(4, B("\x15" "ab")), 4, "8 lzo input overrun"},
      {FrameBare(500, B("\x12" "a\x20\x00\x00")), 500, "8 lzo input overrun"},
      {FrameBare(500, B("\x12" "a\xE2\x00" "b")), 500, "8 lzo input overrun"},
      {FrameBare(3, abcd), 3, "8 lzo output overrun"},
      {FrameBare(8, B("\x12" "a\xE0\x00", end)), 8, "8 lzo output overrun"},
      {FrameBare(9, B("\x12" "a\xE1\x00" "b", end)), 9, "8 lzo output overrun"},
      {FrameBare(100, B("\x12" "a\x44\x00", end)), 100, "8 lzo lookbehind overrun"},
      {FrameBare(100000, B("\x12" "a\x11\x04\x00", end)), 100000, "8 lzo lookbehind overrun"},
      {FrameBare(10, B("\x15" "abcd")), 10, "8 lzo eof not found"},
      {FrameBare(10, B("\x12" "a\xE0\x00")), 10, "8 lzo eof not found"},
      {FrameBare(4, B("\x15" "abcd\x11\x00\x00!")), 4, "8 lzo input not consumed"},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE(row);
    const auto& [payload, expected, outcome] = cases[row];
    try {
      const Bytes decoded = DecodePayload(std::span<const std::uint8_t>(payload), expected);
      EXPECT_EQ("ok " + std::string(decoded.begin(), decoded.end()), outcome);
    } catch (const PatchFailure& failure) {
      EXPECT_EQ(std::to_string(CodeNumber(failure.code())) + " " + WideToUtf8(failure.detail()), outcome);
    }
  }
}

}  // namespace
}  // namespace emberfall

#include "core/payload.h"

#include <gtest/gtest.h>

#include "core/lzo1x.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_corpus.h"

namespace emberfall {
namespace {

using test::Bytes;

// All bytes of a literal, embedded NULs included, then more.
template <size_t N>
Bytes B(const char (&bytes)[N], const Bytes& more = {}) {
  Bytes out(bytes, bytes + N - 1);
  out.insert(out.end(), more.begin(), more.end());
  return out;
}

const Bytes kEnd = {0x11, 0x00, 0x00};
const Bytes kAbcd = B("\x15" "abcd", kEnd);  // four literals, then the end

// Hand-assembled streams, one per instruction form and per result code.
TEST(Lzo1xTest, HandAssembledStreams) {
  // 2100 literals (18 + 8 zero bytes * 255 + 42), then a 3-byte match 2049 back.
  const std::string run = std::string(51, 'r') + "xyz" + std::string(2046, 'r');
  Bytes long_run = B("\x00\x00\x00\x00\x00\x00\x00\x00\x00\x2A", Bytes(run.begin(), run.end()));
  long_run.insert(long_run.end(), {0x00, 0x00, 0x11, 0x00, 0x00});
  const std::tuple<Bytes, size_t, std::string> cases[] = {
      {kEnd, 0, "ok: "},
      {{}, 10, "input overrun: "},
      {kAbcd, 4, "ok: abcd"},
      {B("\x12" "a\xE0\x00", kEnd), 9, "ok: aaaaaaaaa"},  // a match reaching the first byte
      {B("\x12" "a\x20\x00\x05\x00\x00", kEnd), 294, "ok: " + std::string(294, 'a')},
      {B("\x12" "a\xE1\x00" "b\x04\x00", kEnd), 12, "ok: aaaaaaaaabab"},
      {long_run, 2103, "ok: " + run + "xyz"},
      {B("\x10\x00\x03\x00\x00"), 0, "ok: "},
      {B("\x15" "ab"), 4, "input overrun: "},
      {B("\x12" "a\x20\x00\x00"), 500, "input overrun: a"},
      {B("\x12" "a\xE2\x00" "b"), 500, "input overrun: a"},
      {kAbcd, 3, "output overrun: "},
      {B("\x12" "a\xE0\x00", kEnd), 8, "output overrun: a"},
      {B("\x12" "a\xE1\x00" "b", kEnd), 9, "output overrun: aaaaaaaaa"},
      {B("\x12" "a\x44\x00", kEnd), 100, "lookbehind overrun: a"},
      {B("\x12" "a\x11\x04\x00", kEnd), 100000, "lookbehind overrun: a"},
      {B("\x15" "abcd"), 10, "eof not found: abcd"},
      {B("\x12" "a\xE0\x00"), 10, "eof not found: aaaaaaaaa"},
      {B("\x15" "abcd\x11\x00\x00x"), 4, "input not consumed: abcd"},
  };
  for (const auto& [stream, capacity, expected] : cases) {
    std::string out(capacity, '\0');  // exactly |capacity| bytes
    size_t produced = 12345;
    const LzoResult result = Lzo1xDecompressSafe(stream.data(), stream.size(),
                                                 reinterpret_cast<std::uint8_t*>(out.data()),
                                                 capacity, produced);
    ASSERT_LE(produced, capacity);
    EXPECT_EQ(WideToUtf8(LzoResultText(result)) + ": " + out.substr(0, produced), expected)
        << expected.substr(0, 40);
  }
}

TEST(PayloadTest, ChecksInOrderAndDecodesBothFramings) {
  using test::FrameBare, test::FrameMcoz;
  Bytes reserved = FrameMcoz(4, kAbcd);
  reserved[16] = 0xEE;  // the reserved word is never read
  Bytes trailing = FrameMcoz(4, kAbcd);
  trailing.push_back('!');  // nor what follows the container
  const std::tuple<Bytes, std::int64_t, std::string> cases[] = {
      {FrameBare(0, kEnd), 0, "ok "},
      {FrameBare(4, kAbcd), 4, "ok abcd"},
      {FrameMcoz(4, kAbcd), 4, "ok abcd"},
      {trailing, 4, "ok abcd"},
      {reserved, 4, "ok abcd"},
      {FrameBare(4, kAbcd), -1, "6 unsupported size -1"},
      {{}, 4294967296, "6 unsupported size 4294967296"},
      {FrameBare(4, kAbcd), 4294967295, "6 lz header size=4 expected=4294967295"},
      {B("abc"), 0, "8 LZ payload too small"},
      {B("MCOZ", Bytes(15, 0)), 0, "8 MCOZ header too small"},
      {FrameMcoz(4, Bytes(100, 0), 1), 4, "8 MCOZ payload is encrypted"},
      {B("MCOZ\0\0\0\0\x01\0\0\0\0\0\0\0\0\0\0\0"), 0, "8 MCOZ compressed size exceeds payload"},
      {B("MCOZ\x11\x00\x00"), 0x5A4F434D, "8 MCOZ header too small"},
      {FrameBare(5, kAbcd), 6, "6 lz header size=5 expected=6"},
      {FrameMcoz(4, kAbcd), 3, "6 lz header size=4 expected=3"},
      {Bytes(4, 0), 0, "8 lzo input overrun"},
      {FrameBare(5, kAbcd), 5, "6 lzo output=4 expected=5"},
      {FrameBare(4, B("\x15" "abcd\x11\x00\x00!")), 4, "8 lzo input not consumed"},
  };
  for (const auto& [payload, expected, outcome] : cases) {
    try {
      const Bytes decoded = DecodePayload(std::span<const std::uint8_t>(payload), expected);
      EXPECT_EQ("ok " + std::string(decoded.begin(), decoded.end()), outcome);
    } catch (const PatchFailure& failure) {
      EXPECT_EQ(std::to_string(failure.code()) + " " + WideToUtf8(failure.detail()), outcome);
    }
  }
}

}  // namespace
}  // namespace emberfall

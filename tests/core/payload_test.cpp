#include "core/payload.h"

#include <gtest/gtest.h>

#include "core/lzo1x.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_corpus.h"

namespace emberfall {
namespace {

using test::Bytes;

// All bytes of a literal, embedded NULs included.
template <size_t N>
Bytes B(const char (&bytes)[N]) {
  return Bytes(bytes, bytes + N - 1);
}
Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kEnd = {0x11, 0x00, 0x00};
// 4 literals "abcd", then the end of the stream.
const Bytes kAbcd = Cat(B("\x15" "abcd"), kEnd);

struct Decoded {
  LzoResult result;
  Bytes output;
};

// Decodes into a buffer of exactly |capacity| bytes, so that the sanitizer
// sees any write past it.
Decoded Decode(const Bytes& stream, size_t capacity) {
  Bytes out(capacity);
  size_t produced = 12345;
  const LzoResult result = Lzo1xDecompressSafe(stream.data(), stream.size(), out.data(), capacity, produced);
  EXPECT_LE(produced, capacity);
  out.resize(std::min(produced, capacity));
  return {result, out};
}

// Hand-assembled streams, one per instruction form and per result code.
TEST(Lzo1xTest, HandAssembledStreams) {
  const Bytes lit2100 = test::RandomBytes(2100, 3);
  // A literal run of 2100 bytes: 0x00, 8 zero bytes and 42 extend it
  // (18 + 8 * 255 + 42), then a 3-byte match 2049 back (state after a run).
  Bytes long_run = {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 42};
  long_run.insert(long_run.end(), lit2100.begin(), lit2100.end());
  long_run.insert(long_run.end(), {0x00, 0x00});
  long_run.insert(long_run.end(), kEnd.begin(), kEnd.end());
  Bytes long_run_out = lit2100;
  for (size_t i = 0; i < 3; ++i) long_run_out.push_back(lit2100[2100 - 2049 + i]);

  struct Case {
    const char* name;
    Bytes stream;
    size_t capacity;
    LzoResult result;
    Bytes output;
  };
  const Case cases[] = {
      {"end only", kEnd, 0, LzoResult::Ok, {}},
      {"empty input", {}, 10, LzoResult::InputOverrun, {}},
      {"first-byte literals", kAbcd, 4, LzoResult::Ok, B("abcd")},
      {"run-length match", Cat(B("\x12" "a\xE0\x00"), kEnd), 9, LzoResult::Ok, B("aaaaaaaaa")},
      {"extended match", Cat(B("\x12" "a\x20\x00\x05\x00\x00"), kEnd), 294, LzoResult::Ok,
       Bytes(294, 'a')},
      {"two-byte match after trailing literal",
       Cat(B("\x12" "a\xE1\x00" "b\x04\x00"), kEnd), 12, LzoResult::Ok, B("aaaaaaaaabab")},
      {"three-byte match after a literal run", long_run, 2103, LzoResult::Ok, long_run_out},
      {"input ends inside literals", B("\x15" "ab"), 4, LzoResult::InputOverrun, {}},
      {"input ends inside a length extension", B("\x12" "a\x20\x00\x00"), 500,
       LzoResult::InputOverrun, B("a")},
      {"input ends inside a distance", B("\x12" "a\x20\x05"), 500, LzoResult::InputOverrun, B("a")},
      {"input ends inside trailing literals", B("\x12" "a\xE2\x00" "b"), 500,
       LzoResult::InputOverrun, B("a")},
      {"no room for literals", kAbcd, 3, LzoResult::OutputOverrun, {}},
      {"no room for a match", Cat(B("\x12" "a\xE0\x00"), kEnd), 8, LzoResult::OutputOverrun, B("a")},
      {"no room for trailing literals", Cat(B("\x12" "a\xE1\x00" "b"), kEnd), 9,
       LzoResult::OutputOverrun, B("aaaaaaaaa")},
      {"match before the start", Cat(B("\x12" "a\x44\x00"), kEnd), 100,
       LzoResult::LookbehindOverrun, B("a")},
      {"far match before the start", Cat(B("\x12" "a\x11\x04\x00"), kEnd), 100000,
       LzoResult::LookbehindOverrun, B("a")},
      {"no end after literals", B("\x15" "abcd"), 10, LzoResult::EofNotFound, B("abcd")},
      {"no end after a match", B("\x12" "a\xE0\x00"), 10, LzoResult::EofNotFound, B("aaaaaaaaa")},
      {"bytes after the end", Cat(kAbcd, B("x")), 4, LzoResult::InputNotConsumed, B("abcd")},
      {"end with a length extension", B("\x10\x00\x03\x00\x00"), 0, LzoResult::Ok, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded decoded = Decode(c.stream, c.capacity);
    EXPECT_EQ(decoded.result, c.result);
    EXPECT_EQ(decoded.output, c.output);
  }
}

// "ok" and the decoded bytes, or "CODE DETAIL".
std::string Outcome(const Bytes& payload, std::int64_t expected) {
  try {
    const Bytes decoded = DecodePayload(std::span<const std::uint8_t>(payload), expected);
    return "ok " + std::string(decoded.begin(), decoded.end());
  } catch (const PatchFailure& failure) {
    return std::to_string(failure.code()) + " " + WideToUtf8(failure.detail());
  }
}

TEST(PayloadTest, ChecksInOrderAndDecodesBothFramings) {
  using test::FrameBare;
  using test::FrameMcoz;
  Bytes reserved = FrameMcoz(4, kAbcd);
  reserved[16] = 0xEE;  // the reserved word is never read
  const struct {
    Bytes payload;
    std::int64_t expected;
    std::string outcome;
  } cases[] = {
      {FrameBare(0, kEnd), 0, "ok "},
      {FrameBare(4, kAbcd), 4, "ok abcd"},
      {FrameMcoz(4, kAbcd), 4, "ok abcd"},
      {Cat(FrameMcoz(4, kAbcd), B("trailing junk")), 4, "ok abcd"},
      {reserved, 4, "ok abcd"},
      {FrameBare(4, kAbcd), -1, "6 unsupported size -1"},
      {{}, 4294967296, "6 unsupported size 4294967296"},
      {FrameBare(4, kAbcd), 4294967295, "6 lz header size=4 expected=4294967295"},
      {B("abc"), 0, "8 LZ payload too small"},
      {Cat(B("MCOZ"), Bytes(15, 0)), 0, "8 MCOZ header too small"},
      {FrameMcoz(4, Bytes(100, 0), 1), 4, "8 MCOZ payload is encrypted"},
      {Cat(B("MCOZ"), {1, 0, 0, 0, 0xFF, 0xFF, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}), 4, "8 MCOZ payload is encrypted"},
      {Cat(B("MCOZ"), {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0,
       "8 MCOZ compressed size exceeds payload"},
      {B("MCOZ\x11\x00\x00"), 0x5A4F434D, "8 MCOZ header too small"},
      {FrameBare(5, kAbcd), 6, "6 lz header size=5 expected=6"},
      {FrameMcoz(4, kAbcd), 3, "6 lz header size=4 expected=3"},
      {Bytes(4, 0), 0, "8 lzo input overrun"},
      {FrameMcoz(0, {}), 0, "8 lzo input overrun"},
      {FrameBare(5, kAbcd), 5, "6 lzo output=4 expected=5"},
      {FrameBare(3, kAbcd), 3, "8 lzo output overrun"},
      {FrameBare(4, Cat(kAbcd, B("!"))), 4, "8 lzo input not consumed"},
      {FrameMcoz(4, Cat(kAbcd, B("!"))), 4, "8 lzo input not consumed"},
      {FrameBare(4, B("\x15" "abcd")), 4, "8 lzo eof not found"},
      {FrameBare(9, Cat(B("\x12" "a\x44\x00"), kEnd)), 9, "8 lzo lookbehind overrun"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outcome);
    EXPECT_EQ(Outcome(c.payload, c.expected), c.outcome);
  }
}

}  // namespace
}  // namespace emberfall

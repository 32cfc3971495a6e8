#include "core/payload.h"

#include <gtest/gtest.h>

#include <random>

#include "core/lzo1x.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "tests/support/test_corpus.h"
#include "tests/support/test_support.h"

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

// Decodes into a heap buffer of exactly |capacity| bytes, so that the
// sanitizer sees any write past it.
Decoded Decode(const Bytes& stream, size_t capacity) {
  auto source = std::make_unique<std::uint8_t[]>(stream.size() + 1);
  std::copy(stream.begin(), stream.end(), source.get());
  auto destination = std::make_unique<std::uint8_t[]>(capacity + 1);
  size_t produced = 12345;
  const LzoResult result =
      Lzo1xDecompressSafe(source.get(), stream.size(), destination.get(), capacity, produced);
  EXPECT_LE(produced, capacity);
  return {result, Bytes(destination.get(), destination.get() + std::min(produced, capacity))};
}

std::string Hex(const Bytes& bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  return text;
}

TEST(Lzo1xTest, ResultTexts) {
  EXPECT_EQ(LzoResultText(LzoResult::Ok), u"ok");
  EXPECT_EQ(LzoResultText(LzoResult::InputOverrun), u"input overrun");
  EXPECT_EQ(LzoResultText(LzoResult::OutputOverrun), u"output overrun");
  EXPECT_EQ(LzoResultText(LzoResult::LookbehindOverrun), u"lookbehind overrun");
  EXPECT_EQ(LzoResultText(LzoResult::EofNotFound), u"eof not found");
  EXPECT_EQ(LzoResultText(LzoResult::InputNotConsumed), u"input not consumed");
  EXPECT_EQ(LzoResultText(static_cast<LzoResult>(6)), u"unknown");
  EXPECT_EQ(LzoResultText(static_cast<LzoResult>(-1)), u"unknown");
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
    EXPECT_EQ(Hex(decoded.output), Hex(c.output));
  }
}

// ---- Streams made by liblzo2 (tests/data/lzo, written by make_lzo_vectors) ----

Bytes ReadVector(const std::string& name) {
  const std::string bytes = test::ReadFileBytes(test::TestDataPath("lzo/" + name));
  return Bytes(bytes.begin(), bytes.end());
}

TEST(Lzo1xTest, DecodesLiblzo2StreamsInBothFramings) {
  for (const test::CorpusPart& part : test::SmallCorpus()) {
    for (const char* level : {"lzo1x_1", "lzo1x_999"}) {
      SCOPED_TRACE(part.name + "." + level);
      const Bytes stream = ReadVector(part.name + "." + level);
      ASSERT_FALSE(stream.empty());
      const auto size = static_cast<std::uint32_t>(part.data.size());
      EXPECT_TRUE(DecodePayload(test::FrameBare(size, stream), size) == part.data);
      EXPECT_TRUE(DecodePayload(test::FrameMcoz(size, stream), size) == part.data);
    }
  }
}

TEST(Lzo1xTest, EveryTruncationOfAStreamFailsCleanly) {
  for (const char* name : {"text.lzo1x_999", "pattern-3.lzo1x_1", "distances.lzo1x_1"}) {
    SCOPED_TRACE(name);
    const Bytes stream = ReadVector(name);
    const size_t size = 70000;
    const size_t step = stream.size() > 4000 ? 7 : 1;
    for (size_t cut = 0; cut < stream.size(); cut += step) {
      const Decoded decoded = Decode(Bytes(stream.begin(), stream.begin() + cut), size);
      ASSERT_TRUE(decoded.result == LzoResult::InputOverrun ||
                  decoded.result == LzoResult::EofNotFound)
          << "cut at " << cut << ": " << static_cast<int>(decoded.result);
    }
  }
}

TEST(Lzo1xTest, EverySmallerBufferIsAnOutputOverrun) {
  const Bytes data = test::PatternBytes(20000, 3, 23);
  const Bytes stream = ReadVector("pattern-3.lzo1x_999");
  for (size_t capacity = 0; capacity < data.size(); capacity += 97) {
    const Decoded decoded = Decode(stream, capacity);
    ASSERT_EQ(decoded.result, LzoResult::OutputOverrun) << capacity;
    ASSERT_TRUE(std::equal(decoded.output.begin(), decoded.output.end(), data.begin()));
  }
}

TEST(Lzo1xTest, DamagedStreamsNeverLeaveTheirBuffers) {
  const std::uint32_t seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (const char* name : {"text.lzo1x_1", "binary-like.lzo1x_999", "runs.lzo1x_1"}) {
    const Bytes original = ReadVector(name);
    for (int round = 0; round < 300; ++round) {
      Bytes stream = original;
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < flips; ++i) stream[rng() % stream.size()] = static_cast<std::uint8_t>(rng());
      Decode(stream, rng() % 120000);
    }
  }
}

// ---- DecodePayload ----

struct PayloadCase {
  const char* name;
  Bytes payload;
  std::int64_t expected;
  std::uint32_t code;
  std::u16string detail;
};

TEST(PayloadTest, RejectsWithTheCodeAndDetailOfTheFirstFailedCheck) {
  const Bytes abcd_stream = kAbcd;
  const PayloadCase cases[] = {
      {"negative size", test::FrameBare(4, abcd_stream), -1, 6, u"unsupported size -1"},
      {"size past 32 bits", {}, 4294967296, 6, u"unsupported size 4294967296"},
      {"largest size", test::FrameBare(4, abcd_stream), 4294967295, 6,
       u"lz header size=4 expected=4294967295"},
      {"three bytes", B("abc"), 0, 8, u"LZ payload too small"},
      {"MCOZ of 19 bytes", Cat(B("MCOZ"), Bytes(15, 0)), 0, 8, u"MCOZ header too small"},
      {"enciphered", test::FrameMcoz(4, Bytes(100, 0), 1), 4, 8, u"MCOZ payload is encrypted"},
      {"enciphered, bad size too",
       Cat(B("MCOZ"), {1, 0, 0, 0, 0xFF, 0xFF, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0}), 4, 8,
       u"MCOZ payload is encrypted"},
      {"compressed size too large",
       Cat(B("MCOZ"), {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0, 8,
       u"MCOZ compressed size exceeds payload"},
      {"size word reads MCOZ", B("MCOZ\x11\x00\x00"), 0x5A4F434D, 8, u"MCOZ header too small"},
      {"header size differs", test::FrameBare(5, abcd_stream), 6, 6, u"lz header size=5 expected=6"},
      {"container size differs", test::FrameMcoz(4, abcd_stream), 3, 6,
       u"lz header size=4 expected=3"},
      {"empty bare stream", Bytes(4, 0), 0, 8, u"lzo input overrun"},
      {"empty container stream", test::FrameMcoz(0, {}), 0, 8, u"lzo input overrun"},
      {"short output", test::FrameBare(5, abcd_stream), 5, 6, u"lzo output=4 expected=5"},
      {"long output", test::FrameBare(3, abcd_stream), 3, 8, u"lzo output overrun"},
      {"bytes after the end", test::FrameBare(4, Cat(abcd_stream, B("!"))), 4, 8,
       u"lzo input not consumed"},
      {"bytes after the end inside the container",
       test::FrameMcoz(4, Cat(abcd_stream, B("!"))), 4, 8, u"lzo input not consumed"},
      {"no end", test::FrameBare(4, B("\x15" "abcd")), 4, 8, u"lzo eof not found"},
      {"reaching back too far", test::FrameBare(9, Cat(B("\x12" "a\x44\x00"), kEnd)), 9, 8,
       u"lzo lookbehind overrun"},
  };
  for (const PayloadCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      DecodePayload(c.payload, c.expected);
      ADD_FAILURE() << "decoded";
    } catch (const PatchFailure& failure) {
      EXPECT_EQ(failure.code(), c.code);
      EXPECT_EQ(WideToUtf8(failure.detail()), WideToUtf8(c.detail));
    }
  }
}

TEST(PayloadTest, AcceptsBothFramingsAndIgnoresBytesAfterTheContainer) {
  EXPECT_TRUE(DecodePayload(test::FrameBare(0, kEnd), 0).empty());
  EXPECT_EQ(DecodePayload(test::FrameBare(4, kAbcd), 4), B("abcd"));
  EXPECT_EQ(DecodePayload(test::FrameMcoz(4, kAbcd), 4), B("abcd"));
  EXPECT_EQ(DecodePayload(Cat(test::FrameMcoz(4, kAbcd), B("trailing junk")), 4), B("abcd"));
  // The reserved word is never read.
  Bytes reserved = test::FrameMcoz(4, kAbcd);
  reserved[16] = 0xEE;
  EXPECT_EQ(DecodePayload(reserved, 4), B("abcd"));
  const std::span<const std::uint8_t> view(reserved);
  EXPECT_EQ(DecodePayload(view, 4), B("abcd"));
}

}  // namespace
}  // namespace emberfall

#include "core/chunker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace emberfall {
namespace {

// The gear table is part of the published format: every chunk boundary a
// publisher ever wrote depends on it, so it is derived from a fixed seed by
// integer arithmetic only (splitmix64) and must never change.
constexpr std::uint64_t kGearSeed = 0x454D424348554E4Bull;  // "EMBCHUNK"

constexpr std::array<std::uint64_t, 256> MakeGearTable() {
  std::array<std::uint64_t, 256> table{};
  std::uint64_t state = kGearSeed;
  for (std::uint64_t& entry : table) {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    entry = z ^ (z >> 31);
  }
  return table;
}

constexpr std::array<std::uint64_t, 256> kGear = MakeGearTable();
static_assert(kGear[0] == 0x4051F321FFB5BC95ull, "the gear table is frozen");

// The hash shifts one bit per byte, so after 64 bytes a byte has left it:
// a cut test sees exactly the 64 bytes before the cut. Hashing starts that
// far before the minimum so even the first test sees a full window.
constexpr size_t kWindow = 64;

// Cut tests look at the top bits, which every byte of the window reaches
// (the low bits see only the last few bytes).
constexpr std::uint64_t TopBits(int count) { return ~std::uint64_t{0} << (64 - count); }

}  // namespace

bool IsValidChunkerParams(const ChunkerParams& params) {
  return params.min_size >= kWindow && params.min_size < params.avg_size &&
         params.avg_size < params.max_size && params.max_size <= kMaxChunkSize &&
         std::has_single_bit(params.avg_size);
}

// A cut after L bytes (min <= L < max) where the window's hash has its top
// log2(avg) + 2 bits clear while L < avg, its top log2(avg) - 2 bits clear
// from avg on; at max at the latest.
size_t FindChunkEnd(std::span<const std::uint8_t> data, const ChunkerParams& params) {
  const size_t size = data.size();
  if (size <= params.min_size) return size;
  const size_t limit = std::min<size_t>(size, params.max_size);
  const size_t strict_end = std::min<size_t>(limit, params.avg_size - 1);
  const int bits = std::countr_zero(params.avg_size);
  const std::uint64_t strict = TopBits(bits + 2);
  const std::uint64_t loose = TopBits(bits - 2);
  const std::uint8_t* const p = data.data();
  std::uint64_t hash = 0;
  size_t i = params.min_size - kWindow;
  for (; i < params.min_size - 1; ++i) hash = (hash << 1) + kGear[p[i]];
  for (; i < strict_end; ++i) {
    hash = (hash << 1) + kGear[p[i]];
    if ((hash & strict) == 0) return i + 1;
  }
  for (; i < limit; ++i) {
    hash = (hash << 1) + kGear[p[i]];
    if ((hash & loose) == 0) return i + 1;
  }
  return limit;
}

std::vector<std::uint32_t> ChunkLengths(std::span<const std::uint8_t> data,
                                        const ChunkerParams& params) {
  std::vector<std::uint32_t> lengths;
  while (!data.empty()) {
    const size_t length = FindChunkEnd(data, params);
    lengths.push_back(static_cast<std::uint32_t>(length));
    data = data.subspan(length);
  }
  return lengths;
}

void CutStream(const std::function<size_t(std::uint8_t* buffer, size_t capacity)>& read,
               const ChunkerParams& params,
               const std::function<void(const CutChunk& chunk,
                                        std::span<const std::uint8_t> bytes)>& chunk) {
  if (!IsValidChunkerParams(params)) throw std::invalid_argument("invalid chunker sizes");
  const size_t max = params.max_size;
  // Four chunks' room: the move to the front happens at most once per three
  // maximal chunks, and a read call is never asked for less than max bytes.
  std::vector<std::uint8_t> buffer(4 * max);
  size_t begin = 0;
  size_t end = 0;
  bool at_end = false;
  std::uint64_t offset = 0;
  Sha256 sha;
  for (;;) {
    if (!at_end && end - begin < max) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
      while (!at_end && end < buffer.size()) {
        const size_t n = read(buffer.data() + end, buffer.size() - end);
        if (n > buffer.size() - end) throw std::length_error("read returned more than asked");
        if (n == 0) at_end = true;
        end += n;
      }
    }
    if (begin == end) return;
    const std::span<const std::uint8_t> rest(buffer.data() + begin, end - begin);
    const size_t length = FindChunkEnd(rest, params);
    const std::span<const std::uint8_t> bytes = rest.first(length);
    sha.Reset();
    sha.Update(bytes.data(), bytes.size());
    CutChunk cut;
    cut.sha256 = sha.Final();
    cut.offset = offset;
    cut.size = static_cast<std::uint32_t>(length);
    chunk(cut, bytes);
    begin += length;
    offset += length;
  }
}

}  // namespace emberfall

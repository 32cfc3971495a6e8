// SPDX-License-Identifier: Apache-2.0
// The best level: every position's matches from a binary tree, and a parse
// that picks the cheapest path through them by the stream's exact byte costs.
#include <algorithm>
#include <bit>
#include <memory>

#include "core/lzo1x_match.h"
#include "core/lzo1x_stream.h"

namespace emberfall::lzo1x {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;
// A match this long is taken as soon as it is found: a longer parse window
// would gain next to nothing, and long repeats stay linear in time.
constexpr size_t kNiceLength = 128;
// Matches up to this long are weighed at every length.
constexpr size_t kDenseLength = 8;
// A parse ends this many literals past the furthest match, so that what a
// run that follows will cost is weighed too.
constexpr size_t kLookahead = 20;
// Tree nodes visited per position.
constexpr size_t kMaxDepth = 16;
// Positions weighed in one parse at most.
constexpr size_t kSegment = 2048;
// The parse's states: literals since the last match, 0, 1, 2, 3, or 4 and
// more. They decide what the next literal and the next short match cost.
constexpr size_t kStates = 5;
constexpr std::uint32_t kUnreached = 0xFFFFFFFF;
// Past 2^kSkipShift literals in a row, one more position is skipped per
// 2^kSkipShift, up to kMaxSkip.
constexpr int kSkipShift = 7;
constexpr size_t kMaxSkip = 15;

struct Match {
  std::uint32_t length;
  std::uint32_t distance;
};

// A binary tree per 3-byte hash over the last kMaxDistance positions: each
// position becomes the root of its tree as it is inserted, with the older
// positions ordered below it by the bytes that follow them, so that a
// search meets the longest matches first-hand on the way down.
class MatchFinder {
 public:
  MatchFinder(const std::uint8_t* in, size_t n) : in_(in), n_(n) {
    const int bits = std::clamp(static_cast<int>(std::bit_width(n)), 8, 16);
    head_bits_ = bits;
    heads_.assign(size_t{1} << bits, kNone);
    pairs_.assign(size_t{1} << bits, kNone);
    const size_t window = std::min<size_t>(size_t{1} << 16, std::bit_ceil(std::max<size_t>(n, 1)));
    mask_ = window - 1;
    tree_ = std::make_unique<std::uint32_t[]>(2 * window);
  }

  // Inserts |pos| and writes its matches of 3 bytes or more into |out|
  // (room for kMaxDepth), each longer than the one before; returns their
  // number. A match kNiceLength long is extended to its full length.
  // |short_distance| becomes the distance of the nearest 2-byte match within
  // kShortMatchMaxDistance, or 0.
  size_t Find(std::uint32_t pos, Match* out, size_t& short_distance) {
    short_distance = ShortMatch(pos);
    const size_t count = Update<true>(pos, out);
    if (count > 0 && out[count - 1].length == kNiceLength) {
      const std::uint8_t* p = in_ + pos;
      out[count - 1].length += static_cast<std::uint32_t>(
          MatchLength(p + kNiceLength, p + kNiceLength - out[count - 1].distance, in_ + n_));
    }
    return count;
  }

  // Inserts |pos| without looking at its matches.
  void Skip(std::uint32_t pos) {
    ShortMatch(pos);
    Update<false>(pos, nullptr);
  }

 private:
  size_t ShortMatch(std::uint32_t pos) {
    if (n_ - pos < 2) return 0;
    const std::uint8_t* p = in_ + pos;
    const std::uint32_t key = (p[0] | (static_cast<std::uint32_t>(p[1]) << 8)) * 0x9E3779B1u;
    std::uint32_t& slot = pairs_[key >> (32 - head_bits_)];
    const std::uint32_t previous = slot;
    slot = pos;
    if (previous == kNone || pos - previous > kShortMatchMaxDistance) return 0;
    return in_[previous] == p[0] && in_[previous + 1] == p[1] ? pos - previous : 0;
  }

  template <bool kCollect>
  size_t Update(std::uint32_t pos, Match* out) {
    if (n_ - pos < 3) return 0;
    const std::uint8_t* p = in_ + pos;
    const size_t limit = std::min(kNiceLength, n_ - pos);
    const std::uint32_t key =
        (p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16)) *
        0x9E3779B1u;
    std::uint32_t& head = heads_[key >> (32 - head_bits_)];
    std::uint32_t candidate = head;
    head = pos;
    // Where the next node smaller (larger) than |pos| hangs, and how many
    // bytes every node on that side is known to share with |pos|.
    std::uint32_t* smaller = &tree_[2 * (pos & mask_)];
    std::uint32_t* larger = smaller + 1;
    size_t smaller_length = 0;
    size_t larger_length = 0;
    size_t best = 2;
    size_t count = 0;
    for (size_t depth = kMaxDepth;; --depth) {
      if (candidate == kNone || pos - candidate > kMaxDistance || depth == 0) {
        *smaller = kNone;
        *larger = kNone;
        return count;
      }
      const std::uint8_t* q = in_ + candidate;
      size_t length = std::min(smaller_length, larger_length);
      length += MatchLength(p + length, q + length, p + limit);
      std::uint32_t* node = &tree_[2 * (candidate & mask_)];
      if (kCollect && length > best) {
        best = length;
        out[count++] = {static_cast<std::uint32_t>(length), pos - candidate};
      }
      if (length == limit) {
        // Equal as far as the tree compares: |pos| takes the node's place.
        *smaller = node[0];
        *larger = node[1];
        return count;
      }
      if (q[length] < p[length]) {
        *smaller = candidate;
        smaller = node + 1;
        smaller_length = length;
      } else {
        *larger = candidate;
        larger = node;
        larger_length = length;
      }
      candidate = q[length] < p[length] ? node[1] : node[0];
    }
  }

  const std::uint8_t* const in_;
  const size_t n_;
  int head_bits_ = 8;
  size_t mask_ = 0;
  std::vector<std::uint32_t> heads_;
  std::vector<std::uint32_t> pairs_;
  std::unique_ptr<std::uint32_t[]> tree_;  // two children per window slot
};

// How the cheapest known path reaches a position in a state.
struct Arrival {
  std::uint32_t cost;      // bytes since the parse's start
  std::uint32_t run;       // literals since the last match
  std::uint16_t length;    // of the match that ends here; 0 for a literal
  std::uint16_t distance;
  std::uint8_t from;       // the state the step started in
};

constexpr size_t StateOf(size_t run) { return std::min<size_t>(run, kStates - 1); }

class OptimalParser {
 public:
  OptimalParser(const std::uint8_t* in, size_t n, std::uint8_t* out)
      : in_(in), n_(n), finder_(in, n), writer_(in, n, out),
        arrivals_((kSegment + kNiceLength + 1) * kStates) {}

  size_t Run() {
    while (position_ < n_) Parse();
    return writer_.Finish(in_ + anchor_, n_ - anchor_);
  }

 private:
  Arrival* At(size_t offset) { return &arrivals_[offset * kStates]; }

  // Parses from |position_| on: either one literal, or one long match, or a
  // stretch weighed whole, up to where no match reaches further.
  void Parse() {
    const size_t start = position_;
    size_t short_distance = 0;
    size_t count = finder_.Find(Position(start), matches_, short_distance);
    const size_t run = start - anchor_;
    if (count == 0 && (short_distance == 0 || run == 0 || run > 3)) {
      // Past a long stretch without matches the search thins out, so that
      // data that does not compress passes quickly.
      position_ += 1 + std::min(kMaxSkip, run >> kSkipShift);
      return;
    }
    if (count > 0 && matches_[count - 1].length >= kNiceLength) {
      TakeLong(start, matches_[count - 1]);
      return;
    }
    last_ = 0;
    reach_ = 0;
    Reset(0);
    At(0)[StateOf(run)] = {0, static_cast<std::uint32_t>(run), 0, 0, 0};
    size_t cur = 0;
    for (;;) {
      Relax(start, cur, count, short_distance);
      Literal(start, cur);
      if (++cur >= reach_ + kLookahead || cur >= kSegment || start + cur >= n_) break;
      count = finder_.Find(Position(start + cur), matches_, short_distance);
      if (count > 0 && matches_[count - 1].length >= kNiceLength) {
        Emit(start, cur, Cheapest(cur));
        TakeLong(start + cur, matches_[count - 1]);
        return;
      }
    }
    Emit(start, cur, Cheapest(cur));
    position_ = start + cur;
  }

  static std::uint32_t Position(size_t pos) { return static_cast<std::uint32_t>(pos); }

  void Reset(size_t offset) {
    for (size_t s = 0; s < kStates; ++s) At(offset)[s].cost = kUnreached;
  }

  // Makes offsets up to |offset| ready for arrivals.
  void ExtendTo(size_t offset) {
    while (last_ < offset) Reset(++last_);
  }

  void Reach(size_t offset, size_t state, std::uint32_t cost, std::uint32_t run, size_t length,
             size_t distance, size_t from) {
    Arrival& a = At(offset)[state];
    if (cost < a.cost || (cost == a.cost && run < a.run)) {
      a = {cost, run, static_cast<std::uint16_t>(length), static_cast<std::uint16_t>(distance),
           static_cast<std::uint8_t>(from)};
    }
  }

  size_t Cheapest(size_t offset, size_t first = 0, size_t last = kStates - 1) {
    size_t best = first;
    for (size_t s = first + 1; s <= last; ++s) {
      if (At(offset)[s].cost < At(offset)[best].cost) best = s;
    }
    return best;
  }

  // Every match that starts at |cur|, from the cheapest state that can take
  // it: at each length up to kDenseLength, and at its full length.
  void Relax(size_t start, size_t cur, size_t count, size_t short_distance) {
    if (count > 0) {
      reach_ = std::max<size_t>(reach_, cur + matches_[count - 1].length);
      ExtendTo(cur + matches_[count - 1].length);
    }
    ExtendTo(cur + 2);
    const Arrival* here = At(cur);
    const size_t any = Cheapest(cur);
    const std::uint32_t base = here[any].cost;
    size_t shortest = 3;
    for (size_t j = 0; j < count; ++j) {
      const size_t distance = matches_[j].distance;
      const size_t longest = matches_[j].length;
      // Longer lengths in between gain little: the positions inside a match
      // have matches of their own that end where a shorter one would.
      const size_t dense = std::min(longest, kDenseLength);
      for (size_t length = shortest; length <= dense; ++length) {
        Reach(cur + length, 0, base + static_cast<std::uint32_t>(MatchCost(length, distance, 0)), 0,
              length, distance, any);
      }
      if (longest > dense && longest >= shortest) {
        Reach(cur + longest, 0, base + static_cast<std::uint32_t>(MatchCost(longest, distance, 0)), 0,
              longest, distance, any);
      }
      shortest = longest + 1;
    }
    // A 3-byte match right after four or more literals reaches further in
    // two bytes.
    const std::uint32_t after_run = here[kStates - 1].cost;
    if (count > 0 && after_run != kUnreached && matches_[0].distance >= kAfterRunMinDistance &&
        matches_[0].distance <= kAfterRunMaxDistance) {
      Reach(cur + 3, 0, after_run + 2, 0, 3, matches_[0].distance, kStates - 1);
    }
    // A 2-byte match, only right after one to three literals.
    if (count > 0 && matches_[0].distance <= kShortMatchMaxDistance) {
      short_distance = matches_[0].distance;
    }
    const size_t few = Cheapest(cur, 1, 3);
    if (short_distance != 0 && here[few].cost != kUnreached && start + cur + 2 <= n_) {
      Reach(cur + 2, 0, here[few].cost + 2, 0, 2, short_distance, few);
    }
  }

  // One more literal, from every state at |cur|.
  void Literal(size_t start, size_t cur) {
    for (size_t s = 0; s < kStates; ++s) {
      const Arrival& a = At(cur)[s];
      if (a.cost == kUnreached) continue;
      const bool first = start + cur == a.run;  // the run opens the stream
      const size_t step = 1 + RunOverhead(a.run + 1, first) - RunOverhead(a.run, first);
      Reach(cur + 1, StateOf(a.run + 1), a.cost + static_cast<std::uint32_t>(step), a.run + 1, 0, 0,
            s);
    }
  }

  // Writes the cheapest path from |start| to |start| + |end| in |state|.
  void Emit(size_t start, size_t end, size_t state) {
    path_.clear();
    for (size_t cur = end; cur > 0;) {
      const Arrival& a = At(cur)[state];
      state = a.from;
      if (a.length == 0) {
        --cur;
        continue;
      }
      cur -= a.length;
      path_.push_back({Position(start + cur), a.length, a.distance});
    }
    for (auto step = path_.rbegin(); step != path_.rend(); ++step) {
      writer_.Match(in_ + anchor_, step->position - anchor_, step->length, step->distance);
      anchor_ = step->position + step->length;
    }
  }

  void TakeLong(size_t pos, const Match& match) {
    writer_.Match(in_ + anchor_, pos - anchor_, match.length, match.distance);
    anchor_ = pos + match.length;
    for (size_t skipped = pos + 1; skipped < anchor_; ++skipped) finder_.Skip(Position(skipped));
    position_ = anchor_;
  }

  struct Step {
    std::uint32_t position;
    std::uint32_t length;
    std::uint32_t distance;
  };

  const std::uint8_t* const in_;
  const size_t n_;
  MatchFinder finder_;
  StreamWriter writer_;
  std::vector<Arrival> arrivals_;
  std::vector<Step> path_;
  Match matches_[kMaxDepth];
  size_t position_ = 0;  // the next position to parse
  size_t anchor_ = 0;    // the first literal not yet written
  size_t last_ = 0;      // the furthest offset reached in the current parse
  size_t reach_ = 0;     // the furthest offset a match reaches in it
};

}  // namespace

size_t CompressBest(const std::uint8_t* in, size_t n, std::uint8_t* out) {
  return OptimalParser(in, n, out).Run();
}

}  // namespace emberfall::lzo1x

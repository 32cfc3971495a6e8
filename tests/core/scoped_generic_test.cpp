#include "core/scoped_generic.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

namespace emberfall {
namespace {

// Every close in order; closing 13 fails.
std::vector<int> g_closed;

struct FakeTraits {
  using Handle = int;
  static int Invalid() { return -1; }
  static bool Close(int handle) {
    g_closed.push_back(handle);
    return handle != 13;
  }
};
using Owner = ScopedGeneric<FakeTraits>;

// Two values mean none, as with Win32 file handles.
struct TwoNonesTraits : FakeTraits {
  static bool IsValid(int handle) { return handle > 0; }
};

TEST(ScopedGenericTest, ClosesEachHandleOnceAndNoneEver) {
  struct Row {
    const char* name;
    std::function<void()> steps;  // ends with every owner out of scope
    std::vector<int> closed;
  };
  const Row rows[] = {
      {"destroyed", [] { Owner a(1); }, {1}},
      {"empty or invalid", [] { Owner a, b(-1); ScopedGeneric<TwoNonesTraits> c(0); }, {}},
      {"moved from leaves nothing",
       [] { Owner a(1); Owner b(std::move(a)); EXPECT_TRUE(!a && b.get() == 1); }, {1}},
      {"move-assigned over a handle", [] { Owner a(1), b(2); b = std::move(a); }, {2, 1}},
      {"moved onto itself", [] { Owner a(1); Owner& same = a; a = std::move(same); }, {1}},
      {"reset", [] { Owner a(1); a.reset(2); }, {1, 2}},
      {"put closes before the slot is written", [] { Owner a(1); *a.put() = 2; }, {1, 2}},
      {"released", [] { Owner a(1); EXPECT_EQ(a.release(), 1); EXPECT_FALSE(a.is_valid()); }, {}},
      {"checked close reports a failure once",
       [] { Owner a(13), b(2); EXPECT_TRUE(!a.CloseChecked() && a.CloseChecked() && b.CloseChecked()); },
       {13, 2}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    g_closed.clear();
    row.steps();
    EXPECT_EQ(g_closed, row.closed);
  }
}

}  // namespace
}  // namespace emberfall

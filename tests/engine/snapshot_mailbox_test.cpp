#include "engine/snapshot_mailbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "core/text.h"

namespace emberfall {
namespace {

// Events: "open", "listen" (open without a wake-up), "close", "take",
// "wait" (WaitAndTakeAll), "refuse"/"accept" (how later wake-ups answer),
// "flood" (kMaxWaiting + 10 posts named by number); any other word posts a
// snapshot of that name, "name.detail" one with that detail text. Returns
// the wake-ups ("wake!": refused) and each take's count with its first and
// last snapshots.
std::string DriveMailbox(const std::string& events, SnapshotMailbox::Options options = {}) {
  SnapshotMailbox box(options);
  std::string log;
  bool answer = true;
  const auto post = [&](const std::string& name) {
    const size_t dot = std::min(name.find('.'), name.size());
    box.Post({.statusText = Utf8ToWide(name.substr(0, dot)), .detailText = Utf8ToWide(name.substr(dot))});
  };
  const auto named = [](const ProgressState& s) { return WideToUtf8(s.statusText + s.detailText); };
  std::istringstream in(events);
  for (std::string e; in >> e;) {
    if (e == "open") {
      box.Open([&] { return log += answer ? " wake" : " wake!", answer; });
    } else if (e == "listen") {
      box.Open();
    } else if (e == "close") {
      box.Close();
    } else if (e == "refuse" || e == "accept") {
      answer = e == "accept";
    } else if (e == "flood") {
      for (std::size_t i = 0; i < SnapshotMailbox::kMaxWaiting + 10; ++i) post(std::to_string(i));
    } else if (e == "take" || e == "wait") {
      const auto taken = e == "take" ? box.TakeAll() : box.WaitAndTakeAll(std::chrono::milliseconds(1));
      log += " take" + std::to_string(taken.size());
      if (!taken.empty()) {
        log += ":" + named(taken.front()) + ".." + named(taken.back());
      }
    } else {
      post(e);
    }
  }
  return log;
}

TEST(SnapshotMailboxTest, Scenarios) {
  const std::pair<const char*, const char*> scenarios[] = {
      {"a open b c take", " wake take2:b..c"},
      {"open a take b take take", " wake take1:a..a wake take1:b..b take0"},
      // After Close nothing arrives: neither what waited nor later posts.
      {"open a close b take", " wake take0"},
      {"open a close open b take", " wake wake take1:b..b"},
      {"open refuse a accept b take", " wake! wake take2:a..b"},
      {"open flood take", " wake take256:10..265"},
      {"open a a take", " wake take2:a..a"},  // the window's box keeps every snapshot
  };
  for (const auto& [events, outcome] : scenarios) {
    EXPECT_EQ(DriveMailbox(events), outcome) << events;
  }
}

// embpatch's box: a snapshot of the step the newest waiting one shows
// replaces it, so every step is seen once however late the reader takes.
TEST(SnapshotMailboxTest, CoalescesSnapshotsOfOneStepOnRequest) {
  const std::pair<const char*, const char*> scenarios[] = {
      {"listen a.1 a.2 b.1 a.3 b.2 wait", " take4:a.2..b.2"},
      {"listen a.1 wait a.2 wait wait", " take1:a.1..a.1 take1:a.2..a.2 take0"},
  };
  for (const auto& [events, outcome] : scenarios) {
    SCOPED_TRACE(events);
    EXPECT_EQ(DriveMailbox(events, {.coalesceSteps = true}), outcome);
  }
  ProgressState a{.statusText = u"s", .noteText = u"f"};
  ProgressState b = a;
  b.detailText = u"other counts";
  EXPECT_TRUE(SameStep(a, b));
  for (const auto change : {+[](ProgressState& s) { s.stage = PatchStage::Unpack; },
                            +[](ProgressState& s) { s.statusText = u"t"; },
                            +[](ProgressState& s) { s.noteText = u"g"; }}) {
    b = a;
    change(b);
    EXPECT_FALSE(SameStep(a, b));
  }
}

TEST(SnapshotMailboxTest, TheEnginesCallbackOutlivesTheWindowsReference) {
  auto box = std::make_shared<SnapshotMailbox>();
  int wakes = 0;
  box->Open([&] { return ++wakes > 0; });
  const auto callback = PostTo(box);
  const std::weak_ptr<SnapshotMailbox> watch = box;
  box->Close();
  box.reset();
  // The worker may still report while the window's members are destroyed.
  ASSERT_FALSE(watch.expired());
  callback(ProgressState{});
  EXPECT_EQ(wakes, 0);
}

}  // namespace
}  // namespace emberfall

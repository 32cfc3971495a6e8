#include "app/error_reporter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace emberfall {
namespace {

using namespace std::chrono_literals;

// A sender that records bodies and can hold a send open until released.
class RecordingSender {
 public:
  ErrorReporter::Sender AsSender() {
    return [this](const std::string& body) {
      std::unique_lock<std::mutex> lock(mutex_);
      bodies_.push_back(body);
      changed_.notify_all();
      changed_.wait_for(lock, 10s, [this] { return !hold_; });
    };
  }
  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    changed_.notify_all();
  }
  bool WaitForCount(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return bodies_.size() >= count; });
  }
  std::vector<std::string> Bodies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bodies_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> bodies_;
  bool hold_ = false;
};

bool WaitIdle(const ErrorReporter& reporter) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (reporter.InFlight()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

std::string Expected(const std::string& reason) {
  return R"({"product":"EmbLauncher","version":"EmbLauncher/2.0","reason":")" + reason +
         R"(","cpu":")" + CpuDescription() + R"("})";
}

TEST(BuildReportJsonTest, WritesTheFourMembersOnOneLine) {
  EXPECT_EQ(BuildReportJson(u"Download failed | http://h/a.lz | HTTP 404", u"patch"),
            Expected("Download failed | http://h/a.lz | HTTP 404 | patch"));
  EXPECT_EQ(BuildReportJson(u"Video init failed", u""), Expected("Video init failed"));
  EXPECT_EQ(BuildReportJson(u"say \"hi\"\t\\ d\u00FCn\n\x01", u"ctx"),
            Expected("say \\\"hi\\\"\\t\\\\ d\xC3\xBCn\\n\\u0001 | ctx"));
  // Text that cannot be converted becomes empty.
  const char16_t lone[] = {0xD800, 0};
  EXPECT_NE(BuildReportJson(lone, u"").find("\"reason\":\"\xEF\xBF\xBD\""), std::string::npos);
}

TEST(JsonEscapeTest, EscapesControlBytesQuoteAndBackslashOnly) {
  EXPECT_EQ(JsonEscape(std::string("\0\x01\b\t\n\x0B\f\r\x1F\"\\", 11)),
            "\\u0000\\u0001\\b\\t\\n\\u000b\\f\\r\\u001f\\\"\\\\");
  EXPECT_EQ(JsonEscape("/ \x7F \xC3\xBC \xFF"), "/ \x7F \xC3\xBC \xFF");
  EXPECT_EQ(JsonEscape(""), "");
}

TEST(CpuDescriptionTest, IsThreeDecimalNumbers) {
  const std::string cpu = CpuDescription();
  const size_t first = cpu.find('|');
  const size_t second = cpu.find('|', first + 1);
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(cpu.find('|', second + 1), std::string::npos);
  EXPECT_EQ(cpu.substr(0, first), "9");  // x86-64, on both builds here
  EXPECT_GE(std::stoi(cpu.substr(first + 1, second - first - 1)), 1);
  EXPECT_EQ(cpu.find_first_not_of("0123456789|"), std::string::npos) << cpu;
}

TEST(ErrorReporterTest, DropsAnImmediateRepetition) {
  RecordingSender sender;
  ErrorReporter reporter(sender.AsSender());
  reporter.Report(u"A", u"patch");
  ASSERT_TRUE(sender.WaitForCount(1));
  ASSERT_TRUE(WaitIdle(reporter));
  reporter.Report(u"A", u"patch");
  ASSERT_TRUE(WaitIdle(reporter));
  reporter.Report(u"B", u"patch");
  ASSERT_TRUE(sender.WaitForCount(2));
  ASSERT_TRUE(WaitIdle(reporter));
  reporter.Report(u"A", u"patch");
  ASSERT_TRUE(sender.WaitForCount(3));
  ASSERT_TRUE(WaitIdle(reporter));
  const auto bodies = sender.Bodies();
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(bodies[0], Expected("A | patch"));
  EXPECT_EQ(bodies[1], Expected("B | patch"));
  EXPECT_EQ(bodies[2], Expected("A | patch"));
}

TEST(ErrorReporterTest, KeyJoinsMessageAndContext) {
  RecordingSender sender;
  ErrorReporter reporter(sender.AsSender());
  reporter.Report(u"A", u"x");
  ASSERT_TRUE(sender.WaitForCount(1));
  ASSERT_TRUE(WaitIdle(reporter));
  reporter.Report(u"A", u"y");  // another context is another report
  ASSERT_TRUE(sender.WaitForCount(2));
  ASSERT_TRUE(WaitIdle(reporter));
}

TEST(ErrorReporterTest, DropsReportsWhileOneIsInFlight) {
  RecordingSender sender;
  ErrorReporter reporter(sender.AsSender());
  sender.Hold(true);
  reporter.Report(u"first", u"c");
  ASSERT_TRUE(sender.WaitForCount(1));
  EXPECT_TRUE(reporter.InFlight());
  reporter.Report(u"second", u"c");  // dropped, but remembered as the last key
  sender.Hold(false);
  ASSERT_TRUE(WaitIdle(reporter));
  reporter.Report(u"second", u"c");  // the same again: still dropped
  ASSERT_TRUE(WaitIdle(reporter));
  reporter.Report(u"third", u"c");
  ASSERT_TRUE(sender.WaitForCount(2));
  ASSERT_TRUE(WaitIdle(reporter));
  const auto bodies = sender.Bodies();
  ASSERT_EQ(bodies.size(), 2u);
  EXPECT_EQ(bodies[1], Expected("third | c"));
}

TEST(ErrorReporterTest, ReturnsAtOnceWhileTheSenderBlocks) {
  RecordingSender sender;
  sender.Hold(true);
  {
    ErrorReporter reporter(sender.AsSender());
    const auto start = std::chrono::steady_clock::now();
    reporter.Report(u"slow", u"");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    ASSERT_TRUE(sender.WaitForCount(1));
  }  // destroyed while its thread still sends
  sender.Hold(false);
  std::this_thread::sleep_for(50ms);
}

}  // namespace
}  // namespace emberfall

#include "app/error_reporter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using namespace std::chrono_literals;

std::string Expected(const std::string& reason) {
  return R"({"product":"EmbLauncher","version":"EmbLauncher/2.0","reason":")" + reason +
         R"(","cpu":")" + CpuDescription() + R"("})";
}

TEST(BuildReportJsonTest, WritesTheFourMembersOnOneLine) {
  EXPECT_EQ(BuildReportJson(u"Video init failed", u""), Expected("Video init failed"));
  EXPECT_EQ(BuildReportJson(u"say \"hi\"\t\\ d\u00FCn\n\x01", u"ctx"),
            Expected("say \\\"hi\\\"\\t\\\\ d\xC3\xBCn\\n\\u0001 | ctx"));
  EXPECT_EQ(JsonEscape(std::string("\0\x01\b\t\n\x0B\f\r\x1F\"\\", 11)),
            "\\u0000\\u0001\\b\\t\\n\\u000b\\f\\r\\u001f\\\"\\\\");
  EXPECT_EQ(JsonEscape("/ \x7F \xC3\xBC \xFF"), "/ \x7F \xC3\xBC \xFF");
  // Architecture 9 (x86-64, on both builds here), processors, level.
  unsigned processors = 0, level = 0;
  char more = 0;
  EXPECT_EQ(std::sscanf(CpuDescription().c_str(), "9|%u|%u%c", &processors, &level, &more), 2)
      << CpuDescription();
  EXPECT_GE(processors, 1u);
}

TEST(ErrorReporterTest, DropsRepetitionsAndReportsMadeWhileOneIsSent) {
  std::mutex mutex;
  std::string bodies;
  std::atomic<int> sent{0};
  std::mutex gate;  // the test holds it to keep a send open
  auto reporter = std::make_unique<ErrorReporter>([&](const std::string& body) {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      bodies += body + "\n";
    }
    ++sent;
    const std::lock_guard<std::mutex> wait(gate);
  });
  auto idle = [&] { ASSERT_TRUE(test::WaitUntil([&] { return !reporter->InFlight(); })); };
  auto report = [&](const char16_t* message, const char16_t* context) {
    reporter->Report(message, context);
    idle();
  };
  report(u"A", u"patch");
  report(u"A", u"patch");  // an immediate repetition
  report(u"A", u"x");  // another context is another report
  gate.lock();
  reporter->Report(u"first", u"c");  // returns while the sender is held
  EXPECT_TRUE(test::WaitUntil([&] { return sent == 3; }));
  EXPECT_TRUE(reporter->InFlight());
  reporter->Report(u"second", u"c");  // dropped, but remembered as the last one
  gate.unlock();
  idle();
  report(u"second", u"c");
  report(u"third", u"c");
  EXPECT_EQ(bodies, Expected("A | patch") + "\n" + Expected("A | x") + "\n" +
                        Expected("first | c") + "\n" + Expected("third | c") + "\n");
  // Destroyed while its thread still sends.
  gate.lock();
  reporter->Report(u"last", u"c");
  EXPECT_TRUE(test::WaitUntil([&] { return sent == 5; }));
  reporter.reset();
  gate.unlock();
  std::this_thread::sleep_for(50ms);
}

}  // namespace
}  // namespace emberfall

// embpatch fetch against a loopback server: what it prints, saves and exits
// with.
#include <gtest/gtest.h>

#include <string>

#include "core/fs_path.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/test_socket.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using test::ProcessResult;
using test::Response;

ProcessResult Embpatch(const std::vector<std::string>& args) {
  return test::RunProcess(test::BuiltProgram("embpatch"), args, std::chrono::seconds(60));
}


class EmbpatchFetchTest : public testing::Test {
 protected:
  test::LoopbackHttpServer server_;
  test::TempDir dir_;
};

TEST_F(EmbpatchFetchTest, WritesTheBodyToStdoutOrAFile) {
  const std::string payload = test::PatternBody(70000);
  server_.Serve("/p/a.lz", Response::Ok(payload));
  ProcessResult r = Embpatch({"fetch", server_.UrlUtf8("/p/a.lz")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(r.out == payload);

  const std::string file = Utf8Path(dir_ / "out.bin");
  r = Embpatch({"fetch", server_.UrlUtf8("/p/a.lz"), "-o", file, "--refresh"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(test::ReadFileBytes(dir_ / "out.bin") == payload);
  EXPECT_EQ(server_.Requests().back().Header("Pragma"), "no-cache");
}

TEST_F(EmbpatchFetchTest, HeadPrintsTheLengthOrMinusOne) {
  server_.Serve("/sized", Response::Ok("12345"));
  server_.Serve("/unsized", Response::WithoutLength("abc"));
  ProcessResult r = Embpatch({"fetch", "--head", server_.UrlUtf8("/sized")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "5\n");
  r = Embpatch({"fetch", "--head", server_.UrlUtf8("/unsized")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "-1\n");
  EXPECT_EQ(server_.Requests().back().method, "HEAD");
}

TEST_F(EmbpatchFetchTest, FailuresPrintTheClientsReason) {
  server_.Serve("/big", Response::Ok(test::PatternBody(2000)));
  struct Case {
    std::vector<std::string> args;
    std::string last_line;
  } cases[] = {
      {{"fetch", server_.UrlUtf8("/missing")}, "HTTP 404"},
      {{"fetch", "--head", server_.UrlUtf8("/missing")}, "HTTP 404"},
      {{"fetch", "--max-bytes", "1000", server_.UrlUtf8("/big")},
       "response too large (2000 bytes)"},
      {{"fetch", "ftp://127.0.0.1/x"}, "invalid url"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ProcessResult r = Embpatch(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::LastLine(r.err), c.last_line);
  }
}

}  // namespace
}  // namespace emberfall

// embpatch as operators and scripts meet it: a separate process, its exit
// code and the exact bytes it prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/fs_path.h"
#include "tests/support/test_support.h"

namespace emberfall {
namespace {

using test::ProcessResult;

ProcessResult Embpatch(const std::vector<std::string>& args) {
  return test::RunProcess(test::BuiltProgram("embpatch"), args);
}


class EmbpatchLintTest : public testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    test::WriteFileBytes(dir_ / name, bytes);
    return Utf8Path(dir_ / name);
  }
  test::TempDir dir_;
  test::ScopedEnvironmentVariable no_override_{"EMBERFALL_PATCH_URL", std::nullopt};
};

TEST_F(EmbpatchLintTest, XmlAttrPrintsTheValueOrAnEmptyLine) {
  const std::string file = Write("c.xml", R"(<a x="1 &amp; 2" y=''/>)");
  ProcessResult r = Embpatch({"xml-attr", file, "a", "x"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "1 & 2\n");
  r = Embpatch({"xml-attr", file, "a", "missing"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "\n");
}

TEST_F(EmbpatchLintTest, ParseConfigPrintsFourLines) {
  const std::string file = Write(
      "config.xml",
      R"(<torrent_config run_path="bin/game.exe"><foreground_patch crcpatch_url="https://h/p" crcversion="1.0.0.7"/></torrent_config>)");
  ProcessResult r = Embpatch({"parse-config", file});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "run_path=bin\\game.exe\n"
            "crcpatch_url=https://h/p/\n"
            "crcversion=1.0.0.7\n"
            "base_url=https://h/p/1.0.0.7/\n");
  EXPECT_EQ(r.err, "");

  test::ScopedEnvironmentVariable mirror("EMBERFALL_PATCH_URL", "http://mirror/x");
  r = Embpatch({"parse-config", file});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("crcpatch_url=http://mirror/x/\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("base_url=http://mirror/x/1.0.0.7/\n"), std::string::npos) << r.out;
}

TEST_F(EmbpatchLintTest, ParseConfigFailureIsTheLastStderrLine) {
  ProcessResult r = Embpatch({"parse-config", Write("bad.xml", "<torrent_config/>")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::LastLine(r.err), "missing crcpatch_url");
  EXPECT_EQ(r.out, "");

  r = Embpatch({"parse-config",
                Write("unsafe.xml", R"(<torrent_config run_path="..\x"><foreground_patch/>)")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::LastLine(r.err), "Invalid torrent config | unsafe run_path: ..\\x");
}

TEST_F(EmbpatchLintTest, ParseCrcListPrintsOneLinePerEntry) {
  const std::string file = Write("crclist",
                                 "# list\n"
                                 "1A2B3C4D 1048576 310211 0 data/maps/town.pak\r\n"
                                 "5 0 -1 -2 my file.txt\n"
                                 "5 0 9 9 MY FILE.TXT\n");
  ProcessResult r = Embpatch({"parse-crclist", file});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "1a2b3c4d 1048576 310211 0 data\\maps\\town.pak\n"
            "00000005 0 -1 -2 my file.txt\n");
}

TEST_F(EmbpatchLintTest, ParseCrcListFailureIsTheLastStderrLine) {
  ProcessResult r = Embpatch({"parse-crclist", Write("crclist", "1 2 3 4 ok\n\nnot a line\n")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::LastLine(r.err), "Invalid crclist response | crclist line 3: not a line");
}

// What a server wrote reaches the operator's terminal escaped: controls,
// C1 controls and broken UTF-8 as text, everything else as it is.
TEST_F(EmbpatchLintTest, ControlCharactersFromInputAreEscaped) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool to_stdout;
    std::string line;
  } cases[] = {
      {"attribute value",
       {"xml-attr", Write("c.xml", "<a x=\"\x1b]0;t\x07 \xc2\x9b" "2J \x7f\xff\xc3 \xed\xa0\x80 \xc3\xbc\"/>"),
        "a", "x"},
       true,
       "\\x1B]0;t\\x07 \\u{9B}2J \\x7F\\xFF\\xC3 \\xED\\xA0\\x80 \xc3\xbc"},
      {"list entry path",
       {"parse-crclist", Write("ok", "1 2 3 4 a\x7f\xc2\x85" "b\n")},
       true,
       "00000001 2 3 4 a\\x7F\\u{85}b"},
      {"quoted list line",
       {"parse-crclist", Write("bad", "bad\rline\x1b[2J\tend\n")},
       false,
       "Invalid crclist response | crclist line 1: bad\\x0Dline\\x1B[2J\\x09end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult r = Embpatch(c.args);
    EXPECT_EQ(r.exit_code, c.to_stdout ? 0 : 1) << r.err;
    EXPECT_EQ(c.to_stdout ? r.out : test::LastLine(r.err) + "\n", c.line + "\n");
  }
}

TEST_F(EmbpatchLintTest, UnreadableInputIsOneClearLine) {
  const std::string missing = Utf8Path(dir_ / "nope.xml");
  for (const char* command : {"xml-attr", "parse-config", "parse-crclist"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = {command, missing};
    if (std::string(command) == "xml-attr") args.insert(args.end(), {"a", "b"});
    ProcessResult r = Embpatch(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
    EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nope.xml"), std::string::npos) << r.err;
  }
  ProcessResult r = Embpatch({"parse-config", Utf8Path(dir_.path())});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
}

// Every command's argument errors in one table: exit code 2, the problem in
// its own words (the usage line names every option anyway) and
// the usage line on stderr, and nothing done. A row that must pass the
// argument check fails later with exit code 1 instead.
TEST_F(EmbpatchLintTest, UsageErrorsOfEveryCommand) {
  const std::string in = Write("payload.lz", "x");
  const std::string out = Utf8Path(dir_ / "o");
  const std::string game = Utf8Path(dir_.path());
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string says;
  } cases[] = {
      {{}, 2, "usage: embpatch"},
      {{"frobnicate"}, 2, "usage: embpatch"},
      {{"help", "nothing"}, 2, "usage: embpatch"},
      {{"xml-attr", "f", "a"}, 2, "usage: embpatch xml-attr"},
      {{"parse-config"}, 2, "usage: embpatch parse-config"},
      {{"parse-config", "--bogus", "f"}, 2, "usage: embpatch parse-config"},
      {{"parse-crclist", "a", "b"}, 2, "usage: embpatch parse-crclist"},
      {{"crc32"}, 2, "usage: embpatch crc32"},
      {{"unpack", in, "-o", out}, 2, "usage: embpatch unpack"},
      {{"unpack", in, "--size", "4"}, 2, "usage: embpatch unpack"},
      {{"unpack", in, "--size", "-4", "-o", out}, 2, "usage: embpatch unpack"},
      {{"unpack", "--size", "4", "-o", out}, 2, "usage: embpatch unpack"},
      {{"unpack", Utf8Path(dir_ / "nope"), "--size", "4", "-o", out}, 1, "nope"},
      {{"fetch"}, 2, "usage: embpatch fetch"},
      {{"fetch", "http://a/", "http://b/"}, 2, "usage: embpatch fetch"},
      {{"fetch", "--max-bytes", "lots", "http://a/"}, 2, "usage: embpatch fetch"},
      {{"fetch", "--bogus", "http://a/"}, 2, "usage: embpatch fetch"},
      {{"fetch", "--head", "-o", "x", "http://a/"}, 2, "usage: embpatch fetch"},
      {{"run"}, 2, "usage: embpatch run"},
      {{"run", "--game-dir", game, "--lang", "fr"}, 2, "--lang must be"},
      {{"run", "--game-dir", game, "--lang", "en", "--lang", "de"}, 2, "given twice"},
      {{"run", "--game-dir", game, "extra"}, 2, "usage: embpatch run"},
      {{"run", "--game-dir", game, "--bogus"}, 2, "usage: embpatch run"},
      {{"run", "--game-dir", game, "--connections", "0"}, 2, "--connections must be"},
      {{"run", "--game-dir", game, "--connections", "17"}, 2, "--connections must be"},
      {{"run", "--game-dir", game, "--connections", "x"}, 2, "--connections must be"},
      // 16 is allowed: the next option is the one refused.
      {{"run", "--game-dir", game, "--connections", "16", "--trust-key", "04abc"}, 2,
       "--trust-key takes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const ProcessResult r = Embpatch(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "o"));
}

TEST_F(EmbpatchLintTest, HelpListsCommandsAndDescribesEach) {
  ProcessResult r = Embpatch({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  for (const char* command : {"xml-attr", "parse-config", "parse-crclist"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
  r = Embpatch({"parse-config", "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("usage: embpatch parse-config FILE"), std::string::npos) << r.out;
  r = Embpatch({"help", "parse-crclist"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("usage: embpatch parse-crclist FILE"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace emberfall

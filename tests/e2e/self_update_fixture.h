// Shared set-up of the self-update tests: a game folder whose launcher.exe
// is a running program, and a publication that carries a new launcher.exe.
#ifndef EMBERFALL_TESTS_E2E_SELF_UPDATE_FIXTURE_H_
#define EMBERFALL_TESTS_E2E_SELF_UPDATE_FIXTURE_H_

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "core/text.h"
#include "tests/support/engine_harness.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_publication.h"
#include "tests/support/test_support.h"

namespace emberfall::test {

class SelfUpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx_.ok());
    old_image_ = ReadFileBytes(BuiltProgram("test_sleeper"));
    WriteFileBytes(game_ / "launcher.exe", old_image_);
    std::filesystem::permissions(game_ / "launcher.exe", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
    running_ = StartProcess(game_ / "launcher.exe", {"60"});
    ASSERT_NE(running_, nullptr);

    new_image_ = old_image_ + std::string(4096, '\x2A');  // the "next version"
    PublicationSettings settings;
    settings.crcpatch_url = nginx_.BaseUrl() + "/patch";
    WritePublication(web_root_.path(), settings,
                     {{"launcher.exe", new_image_}, {"bin/game.exe", "game"}});
  }

  void TearDown() override {
    if (running_) running_->Kill();
  }

  std::vector<std::u16string> ConfigUrls() const {
    return {Utf8ToWide(nginx_.BaseUrl() + "/new/emb.launcher.config.xml")};
  }

  std::string old_image_, new_image_;
  TempDir web_root_;
  TempDir game_;
  NginxServer nginx_{web_root_.path()};
  std::unique_ptr<ChildProcess> running_;
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_E2E_SELF_UPDATE_FIXTURE_H_

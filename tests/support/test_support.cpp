#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>
#include <thread>

#include "core/environment.h"
#include "core/fs_path.h"
#include "core/text.h"

namespace emberfall::test {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("emb-test-" + std::to_string(std::random_device()()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files would make removal fail on Windows.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::operator/(std::string_view relative) const {
  return path_ / FsPathFromUtf8(relative);
}

std::u16string TempDir::Wide(std::string_view relative) const {
  return WidePath(relative.empty() ? path_ : path_ / FsPathFromUtf8(relative));
}

std::filesystem::path TestDataPath(std::string_view name) {
  return ExecutableDir() / "testdata" / FsPathFromUtf8(name);
}

std::filesystem::path BuiltProgram(std::string_view name) {
  return ExecutableDir() / (std::string(name) + (IsWindowsBuild() ? ".exe" : ""));
}

std::string UnixPath(const std::filesystem::path& path) {
  return "/" + std::filesystem::absolute(path).relative_path().generic_string();
}

std::filesystem::path UnixProgram(std::string_view name) {
  return std::filesystem::path((IsWindowsBuild() ? "Z:/usr/bin/" : "/usr/bin/") + std::string(name))
      .make_preferred();
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot read " << Utf8Path(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  EXPECT_TRUE(out.good()) << "cannot write " << Utf8Path(path);
}

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout) {
  // Files rather than pipes: nothing has to drain them while the child runs.
  const TempDir output;
  std::unique_ptr<ChildProcess> child = StartProcess(program, args, output / "out", output / "err");
  if (!child) return {.err = "cannot start " + Utf8Path(program)};
  ProcessResult result{.exit_code = child->Wait(timeout).value_or(-1)};
  child.reset();
  result.out = ReadFileBytes(output / "out");
  result.err = ReadFileBytes(output / "err");
  return result;
}

std::string LastLine(const std::string& text) {
  const std::size_t end = text.find_last_not_of("\r\n") + 1;  // 0 when there is none
  const std::size_t start = end == 0 ? 0 : text.rfind('\n', end - 1) + 1;  // npos + 1 is 0
  return text.substr(start, end - start);
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name,
                                                     std::optional<std::string> value)
    : name_(std::move(name)), previous_(ReadEnvironmentVariable(Utf8ToWide(name_), 32768)) {
  const std::u16string wide = Utf8ToWide(value.value_or(""));
  SetEnvironmentVariableText(Utf8ToWide(name_), value ? &wide : nullptr);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableText(Utf8ToWide(name_), previous_ ? &*previous_ : nullptr);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  for (const auto end = std::chrono::steady_clock::now() + limit; !done();) {
    if (std::chrono::steady_clock::now() > end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace emberfall::test

#include "core/release_state.h"

#include <filesystem>

#include "core/crypto.h"
#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::string_view kHeader = "EMBTR1\nserial ";
// Far more than a record needs; a larger file is not one this code wrote.
constexpr std::uint64_t kReadLimit = 256;

class FileReleaseState : public ReleaseStateStore {
 public:
  explicit FileReleaseState(std::u16string path) : path_(std::move(path)) {}

  std::uint64_t Load() override {
    std::string bytes;
    if (!ReadOwnFile(path_, kReadLimit, bytes)) {
      std::error_code error;
      const auto status = std::filesystem::symlink_status(FsPath(path_), error);
      if (status.type() == std::filesystem::file_type::not_found) return 0;
      Damaged(u"unreadable");
    }
    std::string_view text(bytes);
    if (!text.starts_with(kHeader) || !text.ends_with('\n')) Damaged(u"not a release record");
    text = text.substr(kHeader.size(), text.size() - kHeader.size() - 1);
    const std::optional<std::uint64_t> serial = ParseUnsignedDecimal(text, kMaxReleaseSerial);
    if (!serial) Damaged(u"serial out of range or malformed");
    return *serial;
  }

  bool Save(std::uint64_t serial) override {
    std::error_code ignored;
    std::filesystem::create_directories(FsPath(path_).parent_path(), ignored);
    return ReplaceFileContents(path_, FormatReleaseStateFile(serial));
  }

  std::u16string Describe() const override { return path_; }

 private:
  [[noreturn]] void Damaged(const std::u16string& why) const {
    throw PatchFailure(PatchErrorCode::ReleaseStateDamaged, path_ + u" | " + why);
  }

  std::u16string path_;
};

}  // namespace

std::u16string ReleaseStateKey(std::u16string_view resolvedFolder, std::string_view product,
                               std::string_view channel) {
  return PathKey(resolvedFolder) + u"|" + Utf8ToWide(product) + u"|" + Utf8ToWide(channel);
}

std::unique_ptr<ReleaseStateStore> MakeFileReleaseState(std::u16string path) {
  return std::make_unique<FileReleaseState>(std::move(path));
}

std::u16string ReleaseStateFileName(std::u16string_view key) {
  return Utf8ToWide(HexEncode(Sha256Of(WideToUtf8(key))).substr(0, 32)) + u".trust";
}

std::string FormatReleaseStateFile(std::uint64_t serial) {
  return std::string(kHeader) + std::to_string(serial) + "\n";
}

}  // namespace emberfall

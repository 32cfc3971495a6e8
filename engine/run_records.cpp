#include "engine/run_records.h"

#include <utility>

#include "core/crc_list.h"
#include "core/fs_path.h"

namespace emberfall {
namespace {

constexpr std::int64_t kSaveIntervalNs = 2'000'000'000;

}  // namespace

RunRecords::RunRecords(const std::u16string& gameFolder, const std::vector<CrcListEntry>& entries,
                       bool signedRun, std::function<std::int64_t()> now)
    : entries_(entries), now_(std::move(now)) {
  cache_.cachePath = JoinRelativePath(gameFolder, kCacheFileName);
  LoadCache(cache_);
  if (signedRun) {
    verified_.emplace();
    verified_->filePath = JoinRelativePath(gameFolder, kVerifiedHashesFileName);
    LoadVerifiedHashes(*verified_);
  }
  lastSave_ = now_();
}

CheckRecords RunRecords::ForChecks() const {
  return CheckRecords{&cache_, verified_ ? &*verified_ : nullptr};
}

void RunRecords::RecordChecks(const std::vector<FileCheck>& checks) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (size_t i = 0; i < checks.size(); ++i) {
    const FileCheck& check = checks[i];
    if (!check.hashedState) continue;
    RecordFileState(cache_, entries_[i].path_wide, *check.hashedState, check.crc);
    if (verified_ && check.sha256) {
      RecordVerifiedHash(*verified_, entries_[i].path_wide, *check.hashedState, *check.sha256);
    }
  }
  SaveLocked();
}

void RunRecords::BeginInstalling() {
  std::lock_guard<std::mutex> guard(mutex_);
  lastSave_ = now_();
}

void RunRecords::RecordInstalled(const std::u16string& path, const FileState& state,
                                 std::uint32_t crc, const std::optional<Sha256Digest>& sha256) {
  std::lock_guard<std::mutex> guard(mutex_);
  RecordFileState(cache_, path, state, crc);
  // The bytes were checked against the signed hash before they were written.
  if (verified_ && sha256) RecordVerifiedHash(*verified_, path, state, *sha256);
  if (now_() - lastSave_ >= kSaveIntervalNs) SaveLocked();
}

void RunRecords::Save() {
  std::lock_guard<std::mutex> guard(mutex_);
  SaveLocked();
}

void RunRecords::SaveLocked() {
  SaveCache(cache_, entries_);
  if (verified_) SaveVerifiedHashes(*verified_, entries_);
  lastSave_ = now_();
}

}  // namespace emberfall

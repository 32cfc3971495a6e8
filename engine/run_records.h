// What a run records about the files it checked and installed: the
// file-state cache and, in a signed run, the SHA-256s it proved. Saved at the
// end of verification, at most every 2 s while files are installed, and
// after the last one.
#ifndef EMBERFALL_ENGINE_RUN_RECORDS_H_
#define EMBERFALL_ENGINE_RUN_RECORDS_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/crypto.h"
#include "core/file_state.h"
#include "core/file_state_cache.h"
#include "core/verified_hashes.h"

namespace emberfall {

struct CrcListEntry;

class RunRecords {
 public:
  // The records of |gameFolder| for the run over |entries| (which must
  // outlive this); |signedRun| keeps the proven hashes too. Loads both.
  // |now| in monotonic nanoseconds.
  RunRecords(const std::u16string& gameFolder, const std::vector<CrcListEntry>& entries,
             bool signedRun, std::function<std::int64_t()> now);

  // What the verification reads; nobody writes meanwhile.
  CheckRecords ForChecks() const;

  // The verification's results, in |entries| order: what each check hashed
  // is recorded. Then everything is saved. Verification thread only.
  void RecordChecks(const std::vector<FileCheck>& checks);

  // The installing begins: the 2 s between saves count from now.
  void BeginInstalling();

  // |path| was installed with |crc| (and |sha256|, in a signed run) and has
  // |state| now; saved when 2 s passed since the last save. Any thread.
  void RecordInstalled(const std::u16string& path, const FileState& state, std::uint32_t crc,
                       const std::optional<Sha256Digest>& sha256);

  // Saves everything now. Results are ignored: the records are best effort.
  void Save();

 private:
  void SaveLocked();

  const std::vector<CrcListEntry>& entries_;
  std::function<std::int64_t()> now_;
  std::mutex mutex_;
  FileStateCache cache_;
  std::optional<VerifiedHashes> verified_;
  std::int64_t lastSave_ = 0;
};

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_RUN_RECORDS_H_

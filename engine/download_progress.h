// The numbers of the download stage behind the snapshot: what each job in
// flight has received, the run's byte total as lengths become known, which
// file the note and the file bar follow, and the speed.
#ifndef EMBERFALL_ENGINE_DOWNLOAD_PROGRESS_H_
#define EMBERFALL_ENGINE_DOWNLOAD_PROGRESS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/ui_strings.h"
#include "engine/progress_reporter.h"

namespace emberfall {

// Every method changes the snapshot through the reporter, and its own
// numbers under the same lock, so any thread of the downloads may call it;
// none publishes.
class DownloadProgress {
 public:
  // |now| in monotonic nanoseconds.
  DownloadProgress(ProgressReporter& reporter, const UiStrings& strings,
                   ProgressReporter::Clock now);

  // The run's jobs: their paths and the lengths the probes found.
  void Begin(std::vector<std::u16string> paths, std::vector<std::int64_t> downloadSizes);

  // Job |job| starts; the note names it.
  void Started(size_t job);
  // An attempt of |job| begins; the stage is Download.
  void AttemptBegins(size_t job);
  // |received| bytes of |job|'s payload so far, of |total| when known (> 0).
  void Received(size_t job, std::int64_t received, std::int64_t total);
  // The transfer of an attempt ended (with or without a payload).
  void TransferEnded();
  // |job|'s payload of |received| bytes arrived whole; Unpack once no
  // payload is on its way any more.
  void Arrived(size_t job, std::int64_t received);
  // |job| is installed. The note and the file bar move on to |next| (the
  // job in flight that started last, or SIZE_MAX), so that a small file
  // finishing beside a large one does not leave them idle.
  void Finished(size_t job, size_t next);

 private:
  struct Job {
    std::u16string path;
    std::int64_t downloadSize = 0;
    std::int64_t received = 0;  // of the current attempt
  };
  // The rest run under the reporter's lock, on |state|.
  void SetReceived(ProgressState& state, Job& job, std::int64_t received);
  void CorrectTotal(ProgressState& state, Job& job, std::int64_t length);
  void UpdateTexts(ProgressState& state);
  void UpdateSpeed(ProgressState& state);

  ProgressReporter& reporter_;
  const UiStrings& strings_;
  ProgressReporter::Clock now_;
  std::vector<Job> jobs_;
  std::int64_t completedBytes_ = 0;
  std::int64_t receivedInFlight_ = 0;
  size_t noted_ = SIZE_MAX;  // the job the note names
  int downloading_ = 0;      // jobs whose payload is on its way
  std::int64_t speedBaseTime_ = 0;
  std::int64_t speedBaseBytes_ = 0;
};

// |part| of |whole| in whole percent, 0 to 100, for any 64-bit values.
std::uint32_t Percent(std::int64_t part, std::int64_t whole);

}  // namespace emberfall

#endif  // EMBERFALL_ENGINE_DOWNLOAD_PROGRESS_H_

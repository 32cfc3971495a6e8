#include "engine/download_progress.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::int64_t kSpeedWindowNs = 450'000'000;

}  // namespace

std::uint32_t Percent(std::int64_t part, std::int64_t whole) {
  if (whole <= 0 || part <= 0) return 0;
  if (part >= whole) return 100;
  if (part <= std::numeric_limits<std::int64_t>::max() / 100) {
    return static_cast<std::uint32_t>(part * 100 / whole);
  }
  // Only a whole near the 64-bit limit gets here; dividing first keeps the
  // product in range, at the cost of a point of precision.
  return static_cast<std::uint32_t>(std::min<std::int64_t>(part / (whole / 100), 100));
}

DownloadProgress::DownloadProgress(ProgressReporter& reporter, const UiStrings& strings,
                                   ProgressReporter::Clock now)
    : reporter_(reporter), strings_(strings), now_(std::move(now)) {}

void DownloadProgress::Begin(std::vector<std::u16string> paths,
                             std::vector<std::int64_t> downloadSizes) {
  reporter_.Update([&](ProgressState& p) {
    std::int64_t total = 0;
    jobs_.clear();
    for (size_t i = 0; i < paths.size(); ++i) {
      jobs_.push_back({std::move(paths[i]), downloadSizes[i], 0});
      total += downloadSizes[i];
    }
    p.bytesTotal = total;
    p.bytesDone = 0;
    p.filesTotal = static_cast<std::int32_t>(jobs_.size());
    p.filesDone = 0;
    speedBaseTime_ = now_();
    speedBaseBytes_ = 0;
  });
}

void DownloadProgress::Started(size_t job) {
  reporter_.Update([&](ProgressState& p) {
    noted_ = job;
    p.noteText = jobs_[job].path;
  });
}

void DownloadProgress::AttemptBegins(size_t job) {
  reporter_.Update([&](ProgressState& p) {
    ++downloading_;
    p.stage = PatchStage::Download;
    p.statusText = strings_.Downloading;
    p.filePercent = 0;
    SetReceived(p, jobs_[job], 0);
    UpdateTexts(p);
  });
}

void DownloadProgress::Received(size_t job, std::int64_t received, std::int64_t total) {
  reporter_.Update([&](ProgressState& p) {
    Job& j = jobs_[job];
    if (total > 0) CorrectTotal(p, j, total);
    SetReceived(p, j, received);
    // The file bar follows the file the note names.
    if (job == noted_) p.filePercent = j.downloadSize < 1 ? 0 : Percent(received, j.downloadSize);
    UpdateTexts(p);
    UpdateSpeed(p);
  });
}

void DownloadProgress::TransferEnded() {
  reporter_.Update([&](ProgressState&) { --downloading_; });
}

void DownloadProgress::Arrived(size_t job, std::int64_t received) {
  reporter_.Update([&](ProgressState& p) {
    CorrectTotal(p, jobs_[job], received);
    // While other payloads are still on their way the run is downloading.
    if (downloading_ == 0) {
      p.stage = PatchStage::Unpack;
      p.statusText = strings_.Unpacking;
    }
    if (job == noted_) p.filePercent = 100;
    SetReceived(p, jobs_[job], received);
    UpdateTexts(p);
  });
}

void DownloadProgress::Finished(size_t job, size_t next) {
  reporter_.Update([&](ProgressState& p) {
    Job& j = jobs_[job];
    completedBytes_ += j.downloadSize;
    receivedInFlight_ -= j.received;
    j.received = 0;
    p.filesDone += 1;
    p.bytesDone = completedBytes_ + receivedInFlight_;
    p.filePercent = 0;
    if (noted_ == job && next != SIZE_MAX) {
      const Job& latest = jobs_[next];
      noted_ = next;
      p.noteText = latest.path;
      p.filePercent = latest.downloadSize < 1 ? 0 : Percent(latest.received, latest.downloadSize);
    }
    UpdateTexts(p);
  });
}

void DownloadProgress::SetReceived(ProgressState& p, Job& job, std::int64_t received) {
  receivedInFlight_ += received - job.received;
  job.received = received;
  p.bytesDone = completedBytes_ + receivedInFlight_;
}

void DownloadProgress::CorrectTotal(ProgressState& p, Job& job, std::int64_t length) {
  if (length == job.downloadSize) return;
  p.bytesTotal += length - job.downloadSize;
  job.downloadSize = length;
}

void DownloadProgress::UpdateTexts(ProgressState& p) {
  p.overallPercent = p.bytesTotal > 0 ? Percent(p.bytesDone, p.bytesTotal) : 0;
  p.detailText = FormatByteSize(p.bytesDone) + u" / " + FormatByteSize(p.bytesTotal);
}

void DownloadProgress::UpdateSpeed(ProgressState& p) {
  const std::int64_t now = now_();
  if (p.bytesDone < speedBaseBytes_) {  // a retry started a file again
    speedBaseBytes_ = p.bytesDone;
    speedBaseTime_ = now;
  }
  if (now - speedBaseTime_ < kSpeedWindowNs) return;
  const std::int64_t elapsedMs = (now - speedBaseTime_) / 1'000'000;
  const auto speed = static_cast<std::int64_t>(
      static_cast<double>(p.bytesDone - speedBaseBytes_) * 1000.0 / static_cast<double>(elapsedMs));
  p.barText = FormatByteSize(speed) + u"/s";
  speedBaseTime_ = now;
  speedBaseBytes_ = p.bytesDone;
}

}  // namespace emberfall

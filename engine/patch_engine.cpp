#include "engine/patch_engine.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <system_error>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/fs_path.h"
#include "core/game_folder.h"
#include "core/build_settings.h"
#include "core/patch_config.h"
#include "core/patch_error.h"
#include "core/payload.h"
#include "core/release_document.h"
#include "core/release_state.h"
#include "core/text.h"
#include "engine/chunked_update.h"
#include "engine/disk_space_check.h"
#include "engine/download_progress.h"
#include "engine/payload_part.h"
#include "engine/release_check.h"
#include "engine/run_records.h"
#include "engine/transfer_scheduler.h"
#include "net/http_session.h"
#include "net/url.h"

namespace emberfall {
namespace {

constexpr std::int64_t kConfigLimit = 1048576;
constexpr std::int64_t kCrcListLimit = 33554432;
constexpr int kAttempts = 3;
constexpr std::chrono::milliseconds kPauseSlice{100};
// More checking threads than this only queue for the same disk.
constexpr unsigned kMaxCheckThreads = 8;

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// What a signed release must be meant for: the run's options, else the build's.
ReleaseTarget TargetOf(const PatchEngineOptions& options) {
  return {options.product.empty() ? BuildProduct() : options.product,
          options.channel.empty() ? BuildChannel() : options.channel};
}

}  // namespace

// One file to fetch, built from a CRC-list entry.
struct PatchEngine::Job {
  std::uint32_t crc = 0;
  std::int64_t size = 0;
  std::int64_t packed_size = 0;
  std::int64_t reserved = 0;
  std::string path;
  std::u16string path_wide;
  std::u16string url;
  std::int64_t downloadSize = 0;       // probed, else estimated
  std::optional<Sha256Digest> sha256;  // of the decoded file, when the release is signed
  std::optional<ChunkPlan> chunks;     // when it is rebuilt from chunks first
};

// One run on the worker thread: the stages in their order, and what they
// hand each other.
class PatchEngine::Run {
 public:
  explicit Run(PatchEngine& engine) : e_(engine), progress_(engine.progress_) {}

  void Execute();

 private:
  using Connection = TransferScheduler::Connection;

  std::int64_t Now() const { return e_.Now(); }
  bool Cancelled() const { return e_.cancelRequested_.load(); }
  void ThrowIfCancelled() const {
    if (Cancelled()) throw PatchCancelled{};
  }
  void ThrowIfStopped(const Connection& connection) const {
    if (Cancelled() || connection.abort.load()) throw PatchCancelled{};
  }

  void OpenGameFolder();
  PatchConfig FetchConfiguration();
  std::optional<ReleaseDocument> Authenticate(const std::u16string& baseUrl,
                                              const std::string& listText,
                                              const std::vector<CrcListEntry>& entries);
  void RemoveLeftovers(const std::vector<CrcListEntry>& entries, const std::u16string& baseUrl);
  std::vector<Job> VerifyFiles(const std::vector<CrcListEntry>& entries,
                               const std::u16string& baseUrl,
                               const std::optional<ReleaseDocument>& release);
  void RefuseUnboundedSizes() const;
  void ProbeSizes();
  void DownloadAll();
  void InstallJob(size_t index, Connection& connection);
  bool InstallChunked(size_t index, Connection& connection);
  std::vector<std::uint8_t> DownloadAndUnpack(size_t index, Connection& connection);
  PayloadPart PartOf(const Job& job) const;
  void Finish();

  std::string FetchText(const std::vector<std::u16string>& urls, std::int64_t limit,
                        PatchErrorCode code, size_t* answered);
  // Pauses before attempt |attempt|; throws PatchCancelled early once the
  // run is cancelled or |*abort| (may be null) is set.
  void BackoffSleep(int attempt, const std::atomic<bool>* abort = nullptr);

  PatchEngine& e_;
  ProgressReporter& progress_;
  std::unique_ptr<HttpSession> http_;
  std::optional<GameFolder> root_;
  std::u16string exeRelative_;  // the launcher's own file below the root; empty: not there
  std::optional<RunRecords> records_;
  std::vector<Job> jobs_;
  std::optional<DownloadProgress> downloads_;
  std::optional<TransferScheduler> scheduler_;
  std::optional<ChunkIndex> chunkIndex_;
  std::optional<ChunkStore> chunkStore_;  // this release's fetched chunks, kept until success
  std::u16string packFolderUrl_;
  // The run's transfer totals for the Done snapshot; jobs add to them on
  // every connection's thread.
  std::atomic<std::int64_t> bytesFetched_{0};
  std::atomic<std::int64_t> bytesReused_{0};
  std::atomic<std::int64_t> bytesResumed_{0};
};

PatchEngine::PatchEngine(LauncherPaths paths, UiStrings strings, ProgressCallback progressCallback,
                         PatchEngineOptions options)
    : paths_(std::move(paths)),
      strings_(std::move(strings)),
      options_(std::move(options)),
      progress_(std::move(progressCallback), [this] { return Now(); }) {
  ProgressState initial;
  initial.statusText = strings_.Checking;
  progress_.Reset(std::move(initial));
}

PatchEngine::~PatchEngine() {
  cancelRequested_.exchange(true);
  if (worker_.joinable()) worker_.join();
}

std::int64_t PatchEngine::Now() const {
  return options_.now ? options_.now() : MonotonicNanoseconds();
}

void PatchEngine::Start() {
  if (worker_.joinable()) worker_.join();
  cancelRequested_.exchange(false);
  doneEvent_.Reset();
  ProgressState initial;
  initial.statusText = strings_.Checking;
  progress_.Reset(std::move(initial));
  runPath_ = ProgressState().runPath;
  launchHash_.reset();
  worker_ = std::thread(&PatchEngine::WorkerBody, this);
}

void PatchEngine::RequestCancel() { cancelRequested_.exchange(true); }

bool PatchEngine::StopAndWait(std::uint32_t timeoutMs) {
  cancelRequested_.exchange(true);
  if (!worker_.joinable()) return true;
  if (!doneEvent_.Wait(timeoutMs)) return false;
  worker_.join();
  return true;
}

void PatchEngine::WorkerBody() {
  try {
    try {
      Run(*this).Execute();
    } catch (const PatchCancelled&) {
      // A cancelled run reports nothing.
    } catch (const PatchFailure& failure) {
      FailRun(failure.code(), failure.detail(), failure.shortfall());
    } catch (const std::bad_alloc&) {
      FailRun(PatchErrorCode::Unknown, u"out of memory");
    } catch (const std::exception& error) {
      const char* what = error.what();
      FailRun(ClassifyExceptionText(error), what ? Utf8ToWideLenient(what) : std::u16string());
    } catch (...) {
      FailRun(PatchErrorCode::Unknown, u"");
    }
  } catch (...) {
    // Reporting itself failed (out of memory); the run still has to end.
  }
  doneEvent_.Set();
}

void PatchEngine::FailRun(PatchErrorCode code, const std::u16string& detail,
                          const std::optional<SpaceShortfall>& shortfall) {
  if (cancelRequested_.load()) return;
  const std::u16string message = PatchFailureMessage(code, detail);
  progress_.Update([&](ProgressState& p) {
    p.stage = PatchStage::Failed;
    p.ready = false;
    p.statusText = FailureStatusText(strings_, code, shortfall);
    p.errorText = message;
    p.barText.clear();
  });
  if (options_.reportError) options_.reportError(message, u"patch");
  progress_.Publish();
}

void PatchEngine::Run::Execute() {
  OpenGameFolder();
  http_ = e_.options_.sessionFactory ? e_.options_.sessionFactory()
                                     : std::make_unique<HttpSession>();
  http_->set_cancel_flag(&e_.cancelRequested_);
  const PatchConfig config = FetchConfiguration();

  // The CRC list, from the first base URL that answers; its payloads follow it.
  const std::vector<std::u16string> bases = MakePatchBaseUrlList(MakePatchBaseUrl(config));
  std::vector<std::u16string> listUrls;
  for (const std::u16string& base : bases) listUrls.push_back(JoinUrl(base, u"crclist"));
  size_t answered = 0;
  const std::string listText =
      FetchText(listUrls, kCrcListLimit, PatchErrorCode::CrcListUnavailable, &answered);
  const std::u16string& base = bases[answered];
  const std::vector<CrcListEntry> entries = ParseCrcList(listText);
  if (entries.empty()) throw PatchFailure(PatchErrorCode::CrcListEmpty, listUrls[answered]);

  const std::optional<ReleaseDocument> release = Authenticate(base, listText, entries);
  if (release) {
    e_.launchHash_ =
        SignedProgramHash(config.run_path_wide, entries, *release, JoinUrl(base, u"crclist.sig"));
  }
  records_.emplace(e_.paths_.gameFolder, entries, release.has_value(), [this] { return Now(); });
  jobs_ = VerifyFiles(entries, base, release);
  // Only a run with files to fetch asks for the chunks.
  if (!jobs_.empty()) chunkIndex_ = FetchChunkIndex(*http_, base, listText, release);
  if (chunkIndex_) chunkStore_.emplace(*root_, *chunkIndex_);
  packFolderUrl_ = PackFolderUrl(base);
  RefuseUnboundedSizes();
  std::vector<SpaceNeed> needs;
  for (const Job& job : jobs_) needs.push_back(SpaceNeedOf(*root_, job.path_wide, job.size, exeRelative_));
  CheckDiskSpace(e_.paths_.gameFolder, needs, {e_.options_.connections, e_.options_.transferBudgetBytes,
                 chunkStore_ ? static_cast<std::int64_t>(kChunkStoreLimit) : 0}, e_.options_.freeSpace);
  scheduler_.emplace(*http_, e_.options_.sessionFactory, e_.options_.connections, kMaxConnections,
                     jobs_.size(), e_.cancelRequested_);
  ProbeSizes();
  DownloadAll();
  if (!jobs_.empty()) records_->Save();
  Finish();
}

void PatchEngine::Run::OpenGameFolder() {
  // A missing game folder is made, links above it followed: everything at or
  // above the game folder is the player's own choice.
  std::error_code ignored;
  std::filesystem::create_directories(FsPath(e_.paths_.gameFolder), ignored);
  root_.emplace(e_.paths_.gameFolder);
  if (!root_->is_open()) {
    throw PatchFailure(PatchErrorCode::WriteFailed,
                       e_.paths_.gameFolder + u" | " + Utf8ToWideLenient(root_->open_error().message()));
  }
  exeRelative_ = RelativeBelow(e_.paths_.gameFolder, e_.paths_.exePath);
  if (exeRelative_.empty()) {
    RemoveFileIfExists(e_.paths_.exePath + u".old");
    return;
  }
  const FolderLookup old = root_->OpenParent(exeRelative_ + std::u16string(kBackupSuffix), false);
  if (old.status == FolderLookup::Status::kLink) ThrowLinkInGameFolder(old.at);
  if (old.status == FolderLookup::Status::kFound) RemoveFileAt(old.folder, old.name);
}

PatchConfig PatchEngine::Run::FetchConfiguration() {
  std::vector<std::u16string> urls = e_.options_.configUrls;
  if (urls.empty()) {
    const auto builtIn = ConfigUrls();
    urls.assign(builtIn.begin(), builtIn.end());
  }
  PatchConfig config =
      ParsePatchConfig(FetchText(urls, kConfigLimit, PatchErrorCode::ConfigUnavailable, nullptr));
  ApplyPatchUrlOverride(config);
  e_.runPath_ = config.run_path_wide;
  progress_.Update([&](ProgressState& p) { p.runPath = config.run_path_wide; });
  return config;
}

std::string PatchEngine::Run::FetchText(const std::vector<std::u16string>& urls,
                                        std::int64_t limit, PatchErrorCode code,
                                        size_t* answered) {
  std::u16string detail;
  const RequestOptions options{/*refresh=*/true, /*max_bytes=*/limit};
  for (size_t i = 0; i < urls.size(); ++i) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (attempt > 0) BackoffSleep(attempt);
      std::string text;
      if (http_->GetText(urls[i], text, options)) {
        if (answered != nullptr) *answered = i;
        return text;
      }
      ThrowIfCancelled();
      if (attempt == kAttempts - 1) {
        if (!detail.empty()) detail += u" || ";
        detail += urls[i] + u" | " + http_->last_error();
      }
    }
  }
  throw PatchFailure(code, std::move(detail));
}

// The document is fetched from the base the crclist answered from, so a
// mirror serves both or neither.
std::optional<ReleaseDocument> PatchEngine::Run::Authenticate(
    const std::u16string& baseUrl, const std::string& listText,
    const std::vector<CrcListEntry>& entries) {
  std::vector<EcdsaPublicKey> keys = e_.options_.trustedKeys;
  if (keys.empty()) keys = PinnedTrustKeys();
  if (keys.empty()) return std::nullopt;

  const std::u16string url = JoinUrl(baseUrl, u"crclist.sig");
  const std::string bytes =
      FetchText({url}, static_cast<std::int64_t>(kReleaseDocumentLimit),
                PatchErrorCode::ReleaseSignatureInvalid, nullptr);
  const ReleaseTarget target = TargetOf(e_.options_);
  const std::u16string stateKey =
      ReleaseStateKey(root_->resolved_path(), target.product, target.channel);
  const std::unique_ptr<ReleaseStateStore> state = e_.options_.releaseState
                                                       ? e_.options_.releaseState(stateKey)
                                                       : MakeMachineReleaseState(stateKey);
  const std::int64_t now = e_.options_.wallClock ? e_.options_.wallClock() : SystemSeconds();
  return AuthenticateRelease(bytes, url, keys, target, now, listText, entries, *state);
}

void PatchEngine::Run::BackoffSleep(int attempt, const std::atomic<bool>* abort) {
  const std::chrono::milliseconds duration(1000LL << std::min(attempt - 1, 3));
  for (std::chrono::milliseconds slept{0}; slept < duration; slept += kPauseSlice) {
    ThrowIfCancelled();
    if (abort != nullptr && abort->load()) throw PatchCancelled{};
    if (e_.options_.sleep) {
      e_.options_.sleep(kPauseSlice);
    } else {
      std::this_thread::sleep_for(kPauseSlice);
    }
  }
  ThrowIfCancelled();
}

// Staged files left by an interrupted run, and parts of payloads of
// another release; a part of this release's payload waits to be resumed.
void PatchEngine::Run::RemoveLeftovers(const std::vector<CrcListEntry>& entries,
                                       const std::u16string& baseUrl) {
  FolderCursor cursor;
  for (const CrcListEntry& entry : entries) {
    ThrowIfCancelled();
    const FolderLookup& target = cursor.Find(*root_, entry.path_wide);
    if (target.status == FolderLookup::Status::kLink) ThrowLinkInGameFolder(target.at);
    if (target.status != FolderLookup::Status::kFound) continue;
    RemoveFileAt(target.folder, target.name + std::u16string(kStagedSuffix));
    RemoveForeignPart(target.folder, target.name,
                      {MakeFileUrl(baseUrl, entry.path), entry.crc, entry.size});
  }
}

std::vector<PatchEngine::Job> PatchEngine::Run::VerifyFiles(
    const std::vector<CrcListEntry>& entries, const std::u16string& baseUrl,
    const std::optional<ReleaseDocument>& release) {
  const auto n = static_cast<std::int32_t>(entries.size());
  progress_.Update([&](ProgressState& p) {
    p.stage = PatchStage::Verify;
    p.statusText = e_.strings_.Checking;
  });
  RemoveLeftovers(entries, baseUrl);
  // With a signed release a file counts as current only once its SHA-256
  // matched the signed one; the record of proven hashes spares later runs
  // the reading.
  std::vector<Sha256Digest> signedHashes;
  if (release) {
    signedHashes.reserve(entries.size());
    for (const CrcListEntry& entry : entries) signedHashes.push_back(release->files.at(entry.path).sha256);
  }
  // A first run, or a lost cache, reads every byte of the game: files are
  // hashed on several threads, and this one publishes the progress.
  const unsigned hardware = std::thread::hardware_concurrency();
  const std::vector<FileCheck> checks = CheckFiles(
      entries, *root_, records_->ForChecks(), signedHashes, std::clamp(hardware, 1u, kMaxCheckThreads),
      &e_.cancelRequested_, [&](size_t i, size_t done) {
        progress_.Update([&](ProgressState& p) {
          p.noteText = entries[i].path_wide;
          p.overallPercent = Percent(static_cast<std::int64_t>(done), n);
          p.detailText = FormatVerifyingFiles(e_.strings_, static_cast<std::int32_t>(done), n);
        });
        progress_.PublishThrottled();
      });
  ThrowIfCancelled();
  for (const FileCheck& check : checks) {
    if (!check.linkAt.empty()) ThrowLinkInGameFolder(check.linkAt);
  }
  records_->RecordChecks(checks);

  std::vector<Job> jobs;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (checks[i].matches) continue;
    const CrcListEntry& entry = entries[i];
    jobs.push_back(Job{entry.crc, entry.size, entry.packed_size, entry.reserved, entry.path,
                       entry.path_wide, MakeFileUrl(baseUrl, entry.path), 0,
                       release ? std::optional(release->files.at(entry.path).sha256) : std::nullopt});
  }
  progress_.Update([&](ProgressState& p) {
    p.overallPercent = 100;
    p.noteText.clear();
    p.detailText = FormatVerifyingFiles(e_.strings_, n, n);
  });
  progress_.Publish();
  return jobs;
}

// A job whose size no payload can decode to would fail each of its attempts
// only after downloading whatever the server sends, with no limit on it that
// means anything. It fails here, before any request, as decoding would.
void PatchEngine::Run::RefuseUnboundedSizes() const {
  for (const Job& job : jobs_) {
    try {
      CheckDecodedSize(job.size);
    } catch (const PatchFailure& failure) {
      throw failure.Prefixed(job.url + u" | ");
    }
  }
}

void PatchEngine::Run::ProbeSizes() {
  std::atomic<size_t> next{0};
  std::atomic<std::int32_t> probed{0};
  const auto total = static_cast<std::int32_t>(jobs_.size());
  // Thousands of probes take a while even side by side: the count shows the
  // run is moving. Only the first connection's thread publishes here.
  scheduler_->OnEveryConnection([&](Connection& connection) {
    for (size_t i; !Cancelled() && (i = next.fetch_add(1)) < jobs_.size();) {
      Job& job = jobs_[i];
      if (&connection == &scheduler_->first()) {
        progress_.Update([&](ProgressState& p) {
          p.noteText = job.path_wide;
          p.detailText = FormatPreparingDownloads(e_.strings_, probed.load(), total);
        });
        progress_.PublishThrottled();
      }
      std::int64_t n = connection.http->Head(job.url);
      // A length the download would refuse says nothing about the payload;
      // the estimate also keeps the run's total far from overflowing.
      if (n < 1 || n > PayloadLimit(job.size)) n = EstimateDownloadSize(job.size, job.packed_size);
      job.downloadSize = n;
      if (chunkIndex_) {
        job.chunks = PlanChunkedUpdate(*chunkIndex_, *root_, &*chunkStore_, job.path_wide,
                                       job.path, job.size, n,
                                       [&] { return Cancelled() || connection.abort.load(); });
        if (job.chunks) job.downloadSize = job.chunks->fetchBytes;
      }
      probed.fetch_add(1);
    }
  });
  ThrowIfCancelled();
}

void PatchEngine::Run::DownloadAll() {
  std::vector<std::u16string> paths;
  std::vector<std::int64_t> sizes;
  for (const Job& job : jobs_) {
    paths.push_back(job.path_wide);
    sizes.push_back(job.downloadSize);
  }
  downloads_.emplace(progress_, e_.strings_, [this] { return Now(); });
  downloads_->Begin(std::move(paths), std::move(sizes));
  records_->BeginInstalling();
  // A job holds its payload's bound and its file while it runs.
  scheduler_->RunJobs(
      jobs_.size(), e_.options_.transferBudgetBytes,
      [this](size_t i) { return PayloadLimit(jobs_[i].size) + jobs_[i].size; },
      [this](size_t i) { downloads_->Started(i); },
      [this](size_t i, Connection& connection) { InstallJob(i, connection); });
}

void PatchEngine::Run::InstallJob(size_t index, Connection& connection) {
  const Job& job = jobs_[index];
  ThrowIfStopped(connection);
  const bool chunked = job.chunks && InstallChunked(index, connection);
  std::vector<std::uint8_t> bytes =
      chunked ? std::vector<std::uint8_t>() : DownloadAndUnpack(index, connection);
  ThrowIfStopped(connection);  // downloaded but not written: dropped
  if (!chunked) ApplyFile(*root_, job.path_wide, bytes, exeRelative_);
  PartOf(job).Remove();
  bytes = std::vector<std::uint8_t>();
  if (const std::optional<FileState> state = QueryFileStateBelow(*root_, job.path_wide)) {
    records_->RecordInstalled(job.path_wide, *state, job.crc, job.sha256);
  }
  downloads_->Finished(index, scheduler_->LatestInFlight(index));
  progress_.Publish();
}

// False when the file is still to be fetched whole; it is untouched then.
bool PatchEngine::Run::InstallChunked(size_t index, Connection& connection) {
  const Job& job = jobs_[index];
  downloads_->AttemptBegins(index);
  progress_.Publish();
  const ChunkedOutcome outcome = InstallFromChunks(
      *connection.http, *root_, *chunkIndex_, &*chunkStore_, packFolderUrl_, *job.chunks,
      {job.path_wide, exeRelative_, job.crc, job.size, job.sha256},
      [&](std::int64_t fetched) {
        downloads_->Received(index, fetched, job.chunks->fetchBytes);
        progress_.PublishThrottled();
      },
      [&] { return Cancelled() || connection.abort.load(); });
  downloads_->TransferEnded();
  // Ranges of a rebuild that gave up were fetched all the same.
  bytesFetched_ += outcome.fetched;
  if (outcome.installed) {
    bytesReused_ += job.chunks->reuseBytes;
    bytesResumed_ += outcome.resumed;
    downloads_->Arrived(index, job.chunks->fetchBytes);
  }
  return outcome.installed;
}

PayloadPart PatchEngine::Run::PartOf(const Job& job) const {
  return PayloadPart(*root_, job.path_wide, {job.url, job.crc, job.size}, PayloadLimit(job.size));
}

std::vector<std::uint8_t> PatchEngine::Run::DownloadAndUnpack(size_t index, Connection& connection) {
  const Job& job = jobs_[index];
  const PayloadPart part = PartOf(job);
  PatchFailure last(PatchErrorCode::DownloadFailed, u"");
  for (int attempt = 0;; ++attempt) {
    if (attempt >= kAttempts) throw last;
    if (attempt > 0) BackoffSleep(attempt, &connection.abort);

    downloads_->AttemptBegins(index);
    progress_.Publish();
    std::vector<std::uint8_t> payload;
    // In a signed release job.size is the signed size (checked against the
    // document before any download), so the bound is the publisher's too.
    const RequestOptions options{/*refresh=*/attempt > 0, /*max_bytes=*/PayloadLimit(job.size)};
    std::int64_t resumed = 0;
    const bool ok = TransferPayload(
        *connection.http, job.url, part, options,
        [&](std::int64_t received, std::int64_t total) {
          downloads_->Received(index, received, total);
          progress_.PublishThrottled();
        },
        [&] { return Cancelled() || connection.abort.load(); }, payload, resumed);
    downloads_->TransferEnded();
    // A failed attempt's bytes count as fetched; resumed ones count once
    // the payload they went into decoded.
    bytesFetched_ += static_cast<std::int64_t>(payload.size()) - resumed;
    if (!ok) {
      ThrowIfStopped(connection);
      last = PatchFailure(PatchErrorCode::DownloadFailed,
                          job.url + u" | " + connection.http->last_error());
      continue;
    }
    downloads_->Arrived(index, static_cast<std::int64_t>(payload.size()) - resumed);
    progress_.Publish();
    try {
      std::vector<std::uint8_t> decoded =
          DecodeCheckedPayload(payload, job.size, job.crc, job.sha256 ? &*job.sha256 : nullptr);
      bytesResumed_ += resumed;
      return decoded;
    } catch (const PatchFailure& failure) {
      // Whatever was wrong may sit in the kept part: the next attempt
      // fetches every byte again.
      part.Remove();
      last = failure.Prefixed(job.url + u" | ");
    }
  }
}

void PatchEngine::Run::Finish() {
  RemoveChunkStore(*root_);
  progress_.Update([&](ProgressState& p) {
    p.stage = PatchStage::Done;
    p.ready = true;
    p.overallPercent = 100;
    p.filePercent = 100;
    p.statusText = e_.strings_.ReadyToPlay;
    p.detailText =
        p.filesDone < 1 ? e_.strings_.UpToDate : FormatFilesUpdated(e_.strings_, p.filesDone);
    p.barText.clear();
    p.noteText.clear();
    p.bytesFetched = bytesFetched_.load();
    p.bytesReused = bytesReused_.load();
    p.bytesResumed = bytesResumed_.load();
  });
  progress_.Publish();
}

}  // namespace emberfall

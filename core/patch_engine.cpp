#include "core/patch_engine.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>

#include "app/error_reporter.h"
#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/file_state_cache.h"
#include "core/fs_path.h"
#include "core/game_folder.h"
#include "core/helper_threads.h"
#include "core/patch_config.h"
#include "core/patch_error.h"
#include "core/payload.h"
#include "core/release_document.h"
#include "core/release_state.h"
#include "core/text.h"
#include "core/verified_hashes.h"
#include "net/http_session.h"
#include "net/url.h"
#include "emb_build_config.h"

namespace emberfall {
namespace {

constexpr std::int64_t kConfigLimit = 1048576;
constexpr std::int64_t kCrcListLimit = 33554432;
constexpr int kAttempts = 3;
constexpr std::int64_t kNotifyThrottleNs = 200'000'000;
constexpr std::int64_t kSpeedWindowNs = 450'000'000;
constexpr std::int64_t kCacheSaveIntervalNs = 2'000'000'000;
constexpr std::chrono::milliseconds kPauseSlice{100};
// More checking threads than this only queue for the same disk.
constexpr unsigned kMaxCheckThreads = 8;

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

// The most bytes a payload may take on the wire: its decoded size plus the
// worst-case growth of an LZO1X stream and the container header. Job sizes
// are checked against kMaxDecodedSize before this is used; the clamp keeps
// the sum in range whatever the caller did.
std::int64_t PayloadLimit(std::int64_t size) {
  const std::int64_t bounded = std::clamp<std::int64_t>(size, 0, kMaxDecodedSize);
  return bounded + bounded / 16 + 87;
}

std::int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::u16string HexWide(const Sha256Digest& digest) { return Utf8ToWide(HexEncode(digest)); }

// What a signed release must be meant for: the run's options, else the build's.
struct ReleaseTarget {
  std::string product;
  std::string channel;
};

ReleaseTarget TargetOf(const PatchEngineOptions& options) {
  return {options.product.empty() ? build_config::kProduct : options.product,
          options.channel.empty() ? build_config::kChannel : options.channel};
}

// The failure a release document's verdict stands for, with the details an
// operator needs to tell a stale mirror from an attack.
[[noreturn]] void FailRelease(ReleaseVerdict verdict, const std::u16string& url,
                              const std::string& reason, const ReleaseDocument& document,
                              std::string_view crclist, std::uint64_t accepted,
                              const ReleaseTarget& target) {
  std::u16string detail = url + u" | " + Utf8ToWide(ReleaseVerdictText(verdict));
  PatchErrorCode code = PatchErrorCode::ReleaseSignatureInvalid;
  switch (verdict) {
    case ReleaseVerdict::kMalformed:
      if (!reason.empty()) detail += u": " + Utf8ToWideLenient(reason);
      break;
    case ReleaseVerdict::kWrongChannel:
      code = PatchErrorCode::ReleaseWrongChannel;
      detail += u" | product " + Utf8ToWide(document.product) + u", channel " +
                Utf8ToWide(document.channel) + u"; expected product " +
                Utf8ToWide(target.product) + u", channel " + Utf8ToWide(target.channel);
      break;
    case ReleaseVerdict::kCrcListMismatch:
      detail += u" | expected=" + HexWide(document.crclist_sha256) +
                u" got=" + HexWide(Sha256Of(crclist));
      break;
    case ReleaseVerdict::kRolledBack:
      code = PatchErrorCode::ReleaseRolledBack;
      detail += u" | serial " + ToWideDecimalUnsigned(document.serial) +
                u", accepted " + ToWideDecimalUnsigned(accepted);
      break;
    case ReleaseVerdict::kExpired:
      code = PatchErrorCode::ReleaseExpired;
      detail += u" | expires " + Utf8ToWide(FormatUtcTime(document.expires));
      break;
    default:
      break;
  }
  throw PatchFailure(code, std::move(detail));
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
  std::int64_t downloadSize = 0;
  std::optional<Sha256Digest> sha256;  // of the decoded file, when the release is signed
  std::int64_t received = 0;  // payload bytes of the current attempt
};

// The state of one run on the worker thread: what the stages hand each other.
class PatchEngine::Run {
 public:
  explicit Run(PatchEngine& engine) : e_(engine) {}

  void Execute();

 private:
  std::int64_t Now() const { return e_.options_.now ? e_.options_.now() : MonotonicNanoseconds(); }
  bool Cancelled() const { return e_.cancelRequested_.load(); }
  void ThrowIfCancelled() const {
    if (Cancelled()) throw PatchCancelled{};
  }
  ProgressState& progress() { return e_.progress_; }

  void Notify();
  void ThrottledNotify();
  std::string FetchText(const std::vector<std::u16string>& urls, std::int64_t limit,
                        PatchErrorCode code, size_t* answered);
  // Pauses before attempt |attempt|; throws PatchCancelled early once the
  // run is cancelled or |*abort| (may be null) is set.
  void BackoffSleep(int attempt, const std::atomic<bool>* abort = nullptr);
  void OpenGameFolder();
  std::optional<ReleaseDocument> AuthenticateRelease(const std::u16string& baseUrl,
                                                     const std::string& listText,
                                                     const std::vector<CrcListEntry>& entries);
  void RequireSignedProgram(const PatchConfig& config, const std::vector<CrcListEntry>& entries,
                            const ReleaseDocument& release, const std::u16string& baseUrl);
  std::vector<Job> VerifyFiles(const std::vector<CrcListEntry>& entries,
                               const std::u16string& baseUrl, FileStateCache& cache,
                               const std::optional<ReleaseDocument>& release);
  void RefuseUnboundedSizes(const std::vector<Job>& jobs);

  // One connection of the probe and download stages.
  struct Connection {
    HttpSession* http = nullptr;
    std::unique_ptr<HttpSession> owned;
    // Set when the job on this connection is no longer wanted (a job before
    // it failed); its transfer stops and the job ends without a result.
    std::atomic<bool> abort{false};
    size_t job = SIZE_MAX;  // the job it runs, under lock_
  };
  void MakeConnections(size_t jobCount);
  // Runs |body| once per connection: the first on this thread, the others on
  // helper threads. Rethrows the first exception of a helper.
  void OnEveryConnection(const std::function<void(Connection&)>& body);
  void ProbeSizes(std::vector<Job>& jobs);
  void DownloadAll(std::vector<Job>& jobs, FileStateCache& cache,
                   const std::vector<CrcListEntry>& entries);
  void DownloadJobs(std::vector<Job>& jobs, Connection& connection, FileStateCache& cache,
                    const std::vector<CrcListEntry>& entries);
  void FinishJob(Job& job, FileStateCache& cache, const std::vector<CrcListEntry>& entries);
  void RecordJobFailure(size_t index, std::exception_ptr failure);
  std::vector<std::uint8_t> DownloadAndUnpack(Job& job, Connection& connection);
  void OnDownloadProgress(Job& job, std::int64_t received, std::int64_t total);
  void SetJobReceived(Job& job, std::int64_t received);
  void UpdateProgressTexts();
  void ThrowIfStopped(const Connection& connection) const {
    if (Cancelled() || connection.abort.load()) throw PatchCancelled{};
  }

  PatchEngine& e_;
  std::unique_ptr<HttpSession> http_;
  std::optional<GameFolder> root_;
  std::u16string exeRelative_;  // the launcher's own file below the root; empty: not there
  // Signed runs only: the SHA-256s proven for file states, kept beside the cache.
  std::optional<VerifiedHashes> verified_;

  // While connections run: guards the progress snapshot and its callback,
  // the cache, and what follows.
  std::mutex lock_;
  std::condition_variable slotFreed_;
  size_t nextJob_ = 0;
  size_t jobsInFlight_ = 0;
  std::int64_t bytesInFlight_ = 0;  // budget reserved by the jobs in flight
  std::int64_t completedBytes_ = 0;
  std::int64_t receivedInFlight_ = 0;
  const Job* notedJob_ = nullptr;  // the most recently started, named in the note
  int downloading_ = 0;            // jobs whose payload is on its way
  std::int64_t lastSave_ = 0;
  bool stopStarting_ = false;
  size_t failedJob_ = 0;
  std::exception_ptr failure_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<Job>* jobs_ = nullptr;
};

PatchEngine::PatchEngine(LauncherPaths paths, UiStrings strings, ProgressCallback progressCallback,
                         PatchEngineOptions options)
    : paths_(std::move(paths)),
      strings_(std::move(strings)),
      progressCallback_(std::move(progressCallback)),
      options_(std::move(options)) {
  progress_.statusText = strings_.Checking;
}

PatchEngine::~PatchEngine() {
  cancelRequested_.exchange(true);
  if (worker_.joinable()) worker_.join();
}

void PatchEngine::Start() {
  if (worker_.joinable()) worker_.join();
  cancelRequested_.exchange(false);
  doneEvent_.Reset();
  progress_ = ProgressState();
  progress_.statusText = strings_.Checking;
  launchHash_.reset();
  lastCallbackTime_ = 0;
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
      RunPatch();
    } catch (const PatchCancelled&) {
      // A cancelled run reports nothing.
    } catch (const PatchFailure& failure) {
      FailRun(failure.code(), failure.detail());
    } catch (const std::bad_alloc&) {
      FailRun(static_cast<std::uint32_t>(PatchErrorCode::Unknown), u"out of memory");
    } catch (const std::exception& error) {
      const char* what = error.what();
      FailRun(ClassifyExceptionText(error), what ? Utf8ToWideLenient(what) : std::u16string());
    } catch (...) {
      FailRun(static_cast<std::uint32_t>(PatchErrorCode::Unknown), u"");
    }
  } catch (...) {
    // Reporting itself failed (out of memory); the run still has to end.
  }
  doneEvent_.Set();
}

void PatchEngine::RunPatch() { Run(*this).Execute(); }

void PatchEngine::Notify() {
  lastCallbackTime_ = options_.now ? options_.now() : MonotonicNanoseconds();
  if (progressCallback_) progressCallback_(progress_);
}

void PatchEngine::FailRun(std::uint32_t code, const std::u16string& detail) {
  if (cancelRequested_.load()) return;
  const std::u16string message = PatchFailureMessage(code, detail);
  progress_.stage = static_cast<std::uint32_t>(PatchStage::Failed);
  progress_.ready = false;
  progress_.statusText = ErrorMessageForCode(strings_, code);
  progress_.errorText = message;
  progress_.barText.clear();
  if (options_.reportError) {
    options_.reportError(message, u"patch");
  } else {
    ReportError(message, u"patch");
  }
  Notify();
}

void PatchEngine::Run::Notify() { e_.Notify(); }

void PatchEngine::Run::ThrottledNotify() {
  if (Now() - e_.lastCallbackTime_ >= kNotifyThrottleNs) Notify();
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

void PatchEngine::Run::Execute() {
  OpenGameFolder();

  http_ = e_.options_.sessionFactory ? e_.options_.sessionFactory()
                                     : std::make_unique<HttpSession>();
  http_->set_cancel_flag(&e_.cancelRequested_);

  // Configuration.
  std::vector<std::u16string> configUrls = e_.options_.configUrls;
  if (configUrls.empty()) {
    const auto builtIn = ConfigUrls();
    configUrls.assign(builtIn.begin(), builtIn.end());
  }
  PatchConfig config = ParsePatchConfig(
      FetchText(configUrls, kConfigLimit, PatchErrorCode::ConfigUnavailable, nullptr));
  ApplyPatchUrlOverride(config);
  progress().runPath = config.run_path_wide;

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
  const std::optional<ReleaseDocument> release = AuthenticateRelease(base, listText, entries);
  if (release) RequireSignedProgram(config, entries, *release, base);

  FileStateCache cache;
  cache.cachePath = JoinRelativePath(e_.paths_.gameFolder, u"EmbLauncher.cache");
  LoadCache(cache);

  if (release) {
    verified_.emplace();
    verified_->filePath = JoinRelativePath(e_.paths_.gameFolder, kVerifiedHashesFileName);
    LoadVerifiedHashes(*verified_);
  }

  std::vector<Job> jobs = VerifyFiles(entries, base, cache, release);
  if (release) {
    for (Job& job : jobs) job.sha256 = release->files.at(job.path).sha256;
  }
  RefuseUnboundedSizes(jobs);
  MakeConnections(jobs.size());
  ProbeSizes(jobs);

  std::int64_t total = 0;
  for (const Job& job : jobs) total += job.downloadSize;
  progress().bytesTotal = total;
  progress().bytesDone = 0;
  progress().filesTotal = static_cast<std::int32_t>(jobs.size());
  progress().filesDone = 0;
  e_.speedBaseTime_ = Now();
  e_.speedBaseBytes_ = 0;
  lastSave_ = Now();

  DownloadAll(jobs, cache, entries);
  if (!jobs.empty()) {
    SaveCache(cache, entries);
    if (verified_) SaveVerifiedHashes(*verified_, entries);
  }

  ProgressState& p = progress();
  p.stage = static_cast<std::uint32_t>(PatchStage::Done);
  p.ready = true;
  p.overallPercent = 100;
  p.filePercent = 100;
  p.statusText = e_.strings_.ReadyToPlay;
  p.detailText = p.filesDone < 1 ? e_.strings_.UpToDate : FormatFilesUpdated(e_.strings_, p.filesDone);
  p.barText.clear();
  p.noteText.clear();
  Notify();
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
// mirror serves both or neither. The release record takes the new serial as soon
// as the document verifies, before any download: a run cut short by an
// attacker after that still ends every later chance to replay an older
// release, while recording only after a complete run would leave that window
// open for as long as the attacker can keep runs failing.
std::optional<ReleaseDocument> PatchEngine::Run::AuthenticateRelease(
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
  const std::u16string stateKey = ReleaseStateKey(root_->resolved_path(), target.product, target.channel);
  const std::unique_ptr<ReleaseStateStore> state =
      e_.options_.releaseState ? e_.options_.releaseState(stateKey) : MakeMachineReleaseState(stateKey);
  const std::uint64_t accepted = state->Load();
  const std::int64_t now = e_.options_.wallClock ? e_.options_.wallClock() : SystemSeconds();
  ReleaseDocument document;
  std::string reason;
  const ReleaseVerdict verdict = VerifyReleaseDocument(bytes, keys, target.product, target.channel,
                                                       now, listText, accepted, &document, &reason);
  if (verdict != ReleaseVerdict::kOk) {
    FailRelease(verdict, url, reason, document, listText, accepted, target);
  }

  // The crclist is the signed one, so a gap here is the publisher's mistake;
  // it still must not let an unsigned file through.
  for (const CrcListEntry& entry : entries) {
    const auto it = document.files.find(entry.path);
    if (it == document.files.end()) {
      throw PatchFailure(PatchErrorCode::NotInSignedRelease,
                         url + u" | " + entry.path_wide + u" | not listed");
    }
    if (it->second.size != entry.size) {
      throw PatchFailure(PatchErrorCode::NotInSignedRelease,
                         url + u" | " + entry.path_wide + u" | expected=" +
                             ToWideDecimal(it->second.size) + u" got=" + ToWideDecimal(entry.size));
    }
  }
  if (document.serial > accepted && !state->Save(document.serial)) {
    throw PatchFailure(PatchErrorCode::WriteFailed,
                       state->Describe() + u" | cannot record the release serial");
  }
  return document;
}

// The launcher starts run_path with its own elevated token, while the
// configuration that names it is unsigned: with a signed release only a
// signed file of that release may be started, and its hash goes with it to
// the launch.
void PatchEngine::Run::RequireSignedProgram(const PatchConfig& config,
                                            const std::vector<CrcListEntry>& entries,
                                            const ReleaseDocument& release,
                                            const std::u16string& baseUrl) {
  const std::u16string key = PathKey(config.run_path_wide);
  for (const CrcListEntry& entry : entries) {
    if (PathKey(entry.path_wide) == key) {
      e_.launchHash_ = release.files.at(entry.path).sha256;
      return;
    }
  }
  throw PatchFailure(PatchErrorCode::NotInSignedRelease,
                     JoinUrl(baseUrl, u"crclist.sig") + u" | " + config.run_path_wide +
                         u" | the program the configuration starts is not a signed file");
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

std::vector<PatchEngine::Job> PatchEngine::Run::VerifyFiles(
    const std::vector<CrcListEntry>& entries, const std::u16string& baseUrl, FileStateCache& cache,
    const std::optional<ReleaseDocument>& release) {
  ProgressState& p = progress();
  p.stage = static_cast<std::uint32_t>(PatchStage::Verify);
  p.statusText = e_.strings_.Checking;
  const auto n = static_cast<std::int32_t>(entries.size());

  FolderCursor cursor;
  for (const CrcListEntry& entry : entries) {
    ThrowIfCancelled();
    // Left by an interrupted run.
    const FolderLookup& staged = cursor.Find(*root_, entry.path_wide + std::u16string(kStagedSuffix));
    if (staged.status == FolderLookup::Status::kLink) ThrowLinkInGameFolder(staged.at);
    if (staged.status == FolderLookup::Status::kFound) RemoveFileAt(staged.folder, staged.name);
  }
  // With a signed release a file counts as current only once its SHA-256
  // matched the signed one; the record of proven hashes spares later runs
  // the reading.
  std::vector<Sha256Digest> signedHashes;
  if (release) {
    signedHashes.reserve(entries.size());
    for (const CrcListEntry& entry : entries) signedHashes.push_back(release->files.at(entry.path).sha256);
  }
  const CheckRecords records{&cache, verified_ ? &*verified_ : nullptr};
  // A first run, or a lost cache, reads every byte of the game: files are
  // hashed on several threads, and this one publishes the progress.
  const unsigned hardware = std::thread::hardware_concurrency();
  const std::vector<FileCheck> checks = CheckFiles(
      entries, *root_, records, signedHashes, std::clamp(hardware, 1u, kMaxCheckThreads),
      &e_.cancelRequested_, [&](size_t i, size_t done) {
        p.noteText = entries[i].path_wide;
        p.overallPercent = Percent(static_cast<std::int64_t>(done), n);
        p.detailText = FormatVerifyingFiles(e_.strings_, static_cast<std::int32_t>(done), n);
        ThrottledNotify();
      });
  ThrowIfCancelled();

  std::vector<Job> jobs;
  for (size_t i = 0; i < entries.size(); ++i) {
    const CrcListEntry& entry = entries[i];
    const FileCheck& check = checks[i];
    if (!check.linkAt.empty()) ThrowLinkInGameFolder(check.linkAt);
    if (check.hashedState) {
      RecordFileState(cache, entry.path_wide, *check.hashedState, check.crc);
      if (verified_ && check.sha256) {
        RecordVerifiedHash(*verified_, entry.path_wide, *check.hashedState, *check.sha256);
      }
    }
    if (check.matches) continue;
    Job job;
    job.crc = entry.crc;
    job.size = entry.size;
    job.packed_size = entry.packed_size;
    job.reserved = entry.reserved;
    job.path = entry.path;
    job.path_wide = entry.path_wide;
    job.url = MakeFileUrl(baseUrl, entry.path);
    jobs.push_back(std::move(job));
  }
  SaveCache(cache, entries);
  if (verified_) SaveVerifiedHashes(*verified_, entries);
  p.overallPercent = 100;
  p.noteText.clear();
  p.detailText = FormatVerifyingFiles(e_.strings_, n, n);
  Notify();
  return jobs;
}

// A job whose size no payload can decode to would fail each of its attempts
// only after downloading whatever the server sends, with no limit on it that
// means anything. It fails here, before any request, as decoding would.
void PatchEngine::Run::RefuseUnboundedSizes(const std::vector<Job>& jobs) {
  for (const Job& job : jobs) {
    try {
      CheckDecodedSize(job.size);
    } catch (const PatchFailure& failure) {
      throw PatchFailure(failure.code(), job.url + u" | " + failure.detail());
    }
  }
}

void PatchEngine::Run::MakeConnections(size_t jobCount) {
  const size_t wanted =
      std::clamp<size_t>(std::min<size_t>(e_.options_.connections, jobCount), 1, kMaxConnections);
  for (size_t i = 0; i < wanted; ++i) {
    auto connection = std::make_unique<Connection>();
    if (i == 0) {
      connection->http = http_.get();  // the run's own, already connected
    } else {
      connection->owned = e_.options_.sessionFactory ? e_.options_.sessionFactory()
                                                     : std::make_unique<HttpSession>();
      connection->http = connection->owned.get();
      connection->http->set_cancel_flag(&e_.cancelRequested_);
    }
    connection->http->set_abort_flag(&connection->abort);
    connections_.push_back(std::move(connection));
  }
}

void PatchEngine::Run::OnEveryConnection(const std::function<void(Connection&)>& body) {
  std::atomic<bool> stop{false};
  std::mutex failureMutex;
  std::exception_ptr failure;
  {
    HelperThreads helpers(stop);
    for (size_t i = 1; i < connections_.size(); ++i) {
      Connection& connection = *connections_[i];
      helpers.Start([&] {
        try {
          body(connection);
        } catch (...) {
          std::lock_guard<std::mutex> guard(failureMutex);
          if (!failure) failure = std::current_exception();
        }
      });
    }
    body(*connections_[0]);
  }
  if (failure) std::rethrow_exception(failure);
}

void PatchEngine::Run::ProbeSizes(std::vector<Job>& jobs) {
  std::atomic<size_t> next{0};
  std::atomic<std::int32_t> probed{0};
  const auto total = static_cast<std::int32_t>(jobs.size());
  Connection* const own = connections_.front().get();
  // Thousands of probes take a while even side by side: the count shows the
  // run is moving. Only this thread touches the snapshot here.
  OnEveryConnection([&](Connection& connection) {
    for (size_t i; !Cancelled() && (i = next.fetch_add(1)) < jobs.size();) {
      Job& job = jobs[i];
      if (&connection == own) {
        ProgressState& p = progress();
        p.noteText = job.path_wide;
        p.detailText = FormatPreparingDownloads(e_.strings_, probed.load(), total);
        ThrottledNotify();
      }
      std::int64_t n = connection.http->Head(job.url);
      // A length the download would refuse says nothing about the payload;
      // the estimate also keeps the run's total far from overflowing.
      if (n < 1 || n > PayloadLimit(job.size)) n = EstimateDownloadSize(job.size, job.packed_size);
      job.downloadSize = n;
      probed.fetch_add(1);
    }
  });
  ThrowIfCancelled();
}

void PatchEngine::Run::DownloadAll(std::vector<Job>& jobs, FileStateCache& cache,
                                   const std::vector<CrcListEntry>& entries) {
  jobs_ = &jobs;
  OnEveryConnection([&](Connection& connection) {
    DownloadJobs(jobs, connection, cache, entries);
  });
  ThrowIfCancelled();
  // The first failing job in list order is the run's failure, whichever
  // connection saw a failure first.
  if (failure_) std::rethrow_exception(failure_);
}

// Jobs start in list order. A job whose bytes would pass the budget beside
// the jobs in flight waits until they leave it room, or until it runs alone,
// and no later job passes it meanwhile.
void PatchEngine::Run::DownloadJobs(std::vector<Job>& jobs, Connection& connection,
                                    FileStateCache& cache, const std::vector<CrcListEntry>& entries) {
  for (;;) {
    size_t index = 0;
    std::int64_t cost = 0;
    {
      std::unique_lock<std::mutex> guard(lock_);
      for (;;) {
        if (stopStarting_ || Cancelled() || nextJob_ >= jobs.size()) return;
        cost = PayloadLimit(jobs[nextJob_].size) + jobs[nextJob_].size;
        if (jobsInFlight_ == 0 || bytesInFlight_ + cost <= e_.options_.transferBudgetBytes) break;
        slotFreed_.wait_for(guard, kPauseSlice);
      }
      index = nextJob_++;
      ++jobsInFlight_;
      bytesInFlight_ += cost;
      connection.job = index;
      connection.abort.store(false);
      notedJob_ = &jobs[index];
      progress().noteText = jobs[index].path_wide;
    }
    try {
      ThrowIfStopped(connection);
      std::vector<std::uint8_t> bytes = DownloadAndUnpack(jobs[index], connection);
      ThrowIfStopped(connection);  // downloaded but not written: dropped
      ApplyFile(*root_, jobs[index].path_wide, bytes, exeRelative_);
      bytes = std::vector<std::uint8_t>();
      FinishJob(jobs[index], cache, entries);
    } catch (const PatchCancelled&) {
      // The run was cancelled, or an earlier job failed: this one simply ends.
    } catch (...) {
      RecordJobFailure(index, std::current_exception());
    }
    std::lock_guard<std::mutex> guard(lock_);
    connection.job = SIZE_MAX;
    --jobsInFlight_;
    bytesInFlight_ -= cost;
    slotFreed_.notify_all();
  }
}

void PatchEngine::Run::RecordJobFailure(size_t index, std::exception_ptr failure) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!failure_ || index < failedJob_) {
    failure_ = std::move(failure);
    failedJob_ = index;
  }
  // Jobs before the failed one go on: one of them may fail too, and its
  // failure is the one to report. Later ones are not wanted any more.
  stopStarting_ = true;
  for (const auto& connection : connections_) {
    if (connection->job != SIZE_MAX && connection->job > failedJob_) connection->abort.store(true);
  }
  slotFreed_.notify_all();
}

void PatchEngine::Run::FinishJob(Job& job, FileStateCache& cache,
                                 const std::vector<CrcListEntry>& entries) {
  const std::optional<FileState> state = QueryFileStateBelow(*root_, job.path_wide);
  std::lock_guard<std::mutex> guard(lock_);
  if (state) {
    RecordFileState(cache, job.path_wide, *state, job.crc);
    // The bytes were checked against the signed hash before they were written.
    if (verified_ && job.sha256) RecordVerifiedHash(*verified_, job.path_wide, *state, *job.sha256);
  }
  if (Now() - lastSave_ >= kCacheSaveIntervalNs) {
    SaveCache(cache, entries);
    if (verified_) SaveVerifiedHashes(*verified_, entries);
    lastSave_ = Now();
  }
  ProgressState& p = progress();
  completedBytes_ += job.downloadSize;
  receivedInFlight_ -= job.received;
  job.received = 0;
  p.filesDone += 1;
  p.bytesDone = completedBytes_ + receivedInFlight_;
  p.filePercent = 0;
  // The note and the file bar move on to the latest job still in flight, so
  // that a small file finishing beside a large one does not leave them idle.
  if (notedJob_ == &job) {
    const Job* latest = nullptr;
    for (const auto& connection : connections_) {
      const size_t other = connection->job;
      if (other == SIZE_MAX || &(*jobs_)[other] == &job) continue;
      if (latest == nullptr || &(*jobs_)[other] > latest) latest = &(*jobs_)[other];
    }
    if (latest != nullptr) {
      notedJob_ = latest;
      p.noteText = latest->path_wide;
      p.filePercent = latest->downloadSize < 1 ? 0 : Percent(latest->received, latest->downloadSize);
    }
  }
  UpdateProgressTexts();
  Notify();
}

std::vector<std::uint8_t> PatchEngine::Run::DownloadAndUnpack(Job& job, Connection& connection) {
  std::uint32_t lastCode = static_cast<std::uint32_t>(PatchErrorCode::DownloadFailed);
  std::u16string lastDetail;
  ProgressState& p = progress();
  HttpSession& http = *connection.http;
  for (int attempt = 0;; ++attempt) {
    if (attempt >= kAttempts) throw PatchFailure(lastCode, std::move(lastDetail));
    if (attempt > 0) BackoffSleep(attempt, &connection.abort);

    {
      std::lock_guard<std::mutex> guard(lock_);
      ++downloading_;
      p.stage = static_cast<std::uint32_t>(PatchStage::Download);
      p.statusText = e_.strings_.Downloading;
      p.filePercent = 0;
      SetJobReceived(job, 0);
      UpdateProgressTexts();
      Notify();
    }

    std::vector<std::uint8_t> payload;
    // In a signed release job.size is the signed size (checked against the
    // document before any download), so the bound is the publisher's too.
    const RequestOptions options{/*refresh=*/attempt > 0,
                                 /*max_bytes=*/PayloadLimit(job.size)};
    bool ok = false;
    {
      struct Arrived {
        Run& run;
        ~Arrived() {
          std::lock_guard<std::mutex> guard(run.lock_);
          --run.downloading_;
        }
      } arrived{*this};
      ok = http.Get(
          job.url, payload,
          [&](std::int64_t received, std::int64_t total) { OnDownloadProgress(job, received, total); },
          options);
    }
    if (!ok) {
      ThrowIfStopped(connection);
      lastCode = static_cast<std::uint32_t>(PatchErrorCode::DownloadFailed);
      lastDetail = job.url + u" | " + http.last_error();
      continue;
    }

    {
      std::lock_guard<std::mutex> guard(lock_);
      const auto received = static_cast<std::int64_t>(payload.size());
      if (received != job.downloadSize) {
        p.bytesTotal += received - job.downloadSize;
        job.downloadSize = received;
      }
      // While other payloads are still on their way the run is downloading.
      if (downloading_ == 0) {
        p.stage = static_cast<std::uint32_t>(PatchStage::Unpack);
        p.statusText = e_.strings_.Unpacking;
      }
      if (&job == notedJob_) p.filePercent = 100;
      SetJobReceived(job, received);
      UpdateProgressTexts();
      Notify();
    }

    try {
      std::vector<std::uint8_t> decoded = DecodePayload(payload, job.size);
      const std::uint32_t crc = Crc32Buffer(decoded.data(), decoded.size());
      if (crc != job.crc) {
        throw PatchFailure(PatchErrorCode::ChecksumMismatch,
                           Utf8ToWide("expected=" + FormatCrcHex(job.crc) + " got=" + FormatCrcHex(crc)));
      }
      if (job.sha256) {
        Sha256 hasher;
        hasher.Update(decoded.data(), decoded.size());
        const Sha256Digest got = hasher.Final();
        if (got != *job.sha256) {
          throw PatchFailure(PatchErrorCode::SignedHashMismatch,
                             u"expected=" + HexWide(*job.sha256) + u" got=" + HexWide(got));
        }
      }
      return decoded;
    } catch (const PatchFailure& failure) {
      lastCode = failure.code();
      lastDetail = job.url + u" | " + failure.detail();
    }
  }
}

// Under lock_: the job's bytes of this attempt, and the run's sum with them.
void PatchEngine::Run::SetJobReceived(Job& job, std::int64_t received) {
  receivedInFlight_ += received - job.received;
  job.received = received;
  progress().bytesDone = completedBytes_ + receivedInFlight_;
}

void PatchEngine::Run::OnDownloadProgress(Job& job, std::int64_t received, std::int64_t total) {
  std::lock_guard<std::mutex> guard(lock_);
  ProgressState& p = progress();
  if (total > 0 && total != job.downloadSize) {
    p.bytesTotal += total - job.downloadSize;
    job.downloadSize = total;
  }
  SetJobReceived(job, received);
  // The file bar follows the file the note names.
  if (&job == notedJob_) p.filePercent = job.downloadSize < 1 ? 0 : Percent(received, job.downloadSize);
  UpdateProgressTexts();

  const std::int64_t now = Now();
  if (p.bytesDone < e_.speedBaseBytes_) {  // a retry started a file again
    e_.speedBaseBytes_ = p.bytesDone;
    e_.speedBaseTime_ = now;
  }
  if (now - e_.speedBaseTime_ >= kSpeedWindowNs) {
    const std::int64_t elapsedMs = (now - e_.speedBaseTime_) / 1'000'000;
    const auto speed =
        static_cast<std::int64_t>(static_cast<double>(p.bytesDone - e_.speedBaseBytes_) * 1000.0 /
                                  static_cast<double>(elapsedMs));
    p.barText = FormatByteSize(speed) + u"/s";
    e_.speedBaseTime_ = now;
    e_.speedBaseBytes_ = p.bytesDone;
  }
  ThrottledNotify();
}

void PatchEngine::Run::UpdateProgressTexts() {
  ProgressState& p = progress();
  p.overallPercent = p.bytesTotal > 0 ? Percent(p.bytesDone, p.bytesTotal) : 0;
  p.detailText = FormatByteSize(p.bytesDone) + u" / " + FormatByteSize(p.bytesTotal);
}

}  // namespace emberfall

// embpatch publish / pack: turning a game folder into the files a patch
// server serves — the configuration document, the CRC list and one payload
// per file — so that any static web server can serve them.
#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <span>
#include <thread>

#include "core/chunk_index.h"
#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/fs_path.h"
#include "core/helper_threads.h"
#include "core/patch_config.h"
#include "core/safe_path.h"
#include "core/patch_error.h"
#include "core/payload.h"
#include "core/release_document.h"
#include "core/text.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/chunk_publisher.h"
#include "tools/embpatch/commands.h"
#include "tools/embpatch/payload_writer.h"
#include "tools/embpatch/release_signer.h"
#include "tools/embpatch/release_signing.h"

namespace emberfall::cli {
namespace {

namespace fs = std::filesystem;

struct SourceFile {
  std::string path;  // relative, "/" separators, UTF-8
  fs::path full;
  std::uint32_t crc = 0;
  std::int64_t size = 0;
  std::int64_t packed_size = 0;
  Sha256Digest sha256{};  // when signing
  bool reused = false;
  std::string problem;    // why its published payload cannot stay
};

// Writes |bytes| unless the file already holds exactly them, so that a
// republish leaves unchanged files (and their times) alone. True if written.
bool WriteIfChanged(const fs::path& path, std::string_view bytes, std::string& error) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == bytes.size()) {
    std::string current;
    std::string ignored;
    if (ReadWholeFile(Utf8Path(path), current, ignored) && current == bytes) return false;
  }
  fs::create_directories(path.parent_path(), ec);
  if (ec) {
    error = "cannot create '" + Utf8Path(path.parent_path()) + "': " + ec.message();
    return false;
  }
  return WriteReplacing(path, bytes, error);
}

bool CollectFiles(const fs::path& root, std::vector<SourceFile>& files, std::string& error) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string relative = Utf8Path(fs::relative(it->path(), root, ec));
    std::replace(relative.begin(), relative.end(), '\\', '/');
    std::u16string normalised;
    if (!IsSafeRelativePath(Utf8ToWide(relative), normalised)) {
      error = "'" + relative + "' cannot be published: the launcher refuses such a path";
      return false;
    }
    files.push_back({relative, it->path()});
  }
  if (ec) {
    error = "cannot read '" + Utf8Path(root) + "': " + ec.message();
    return false;
  }
  std::sort(files.begin(), files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
  // The launcher treats paths that differ only in case as one file.
  std::set<std::u16string> keys;
  for (const SourceFile& file : files) {
    std::u16string normalised;
    IsSafeRelativePath(Utf8ToWide(file.path), normalised);
    if (!keys.insert(PathKey(normalised)).second) {
      error = "'" + file.path + "' differs from another file only in letter case";
      return false;
    }
  }
  return true;
}

// Entries of an existing CRC list, by path, so that unchanged files keep
// their payloads.
std::map<std::string, CrcListEntry> ReadPublishedList(const fs::path& list_path) {
  std::map<std::string, CrcListEntry> published;
  std::string text, error;
  if (!ReadWholeFile(Utf8Path(list_path), text, error)) return published;
  try {
    for (CrcListEntry& entry : ParseCrcList(text)) published[entry.path] = std::move(entry);
  } catch (const PatchFailure&) {
    published.clear();  // not ours to trust: publish everything afresh
  }
  return published;
}

// What a release carries besides its crclist: whole-file payloads, chunks
// in packs with their index, or both.
enum class Layout { kPayloadsAndChunks, kChunksOnly, kPayloadsOnly };

struct PublishSettings {
  fs::path from;
  fs::path web_root;
  std::string crcpatch_url;
  std::string version;
  std::string run_path = "emb.bin";
  CompressionLevel level = CompressionLevel::Best;
  Framing framing = Framing::Mcoz;
  Layout layout = Layout::kPayloadsAndChunks;
  ChunkerParams chunk_params = kDefaultChunkerParams;
  unsigned threads = 0;  // 0: one per core, at most eight
  std::optional<SignSettings> signing;
};

// "MIN,AVG,MAX" in KiB, or nullopt when that is not valid chunker sizes.
std::optional<ChunkerParams> ParseChunkSizes(std::string_view text) {
  std::uint32_t kib[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const size_t comma = i < 2 ? text.find(',') : text.size();
    if (comma == std::string_view::npos || comma == 0 || comma > 4) return std::nullopt;
    for (const char c : text.substr(0, comma)) {
      if (c < '0' || c > '9') return std::nullopt;
      kib[i] = kib[i] * 10 + static_cast<std::uint32_t>(c - '0');
    }
    text.remove_prefix(std::min(text.size(), comma + 1));
  }
  const ChunkerParams params{kib[0] * 1024, kib[1] * 1024, kib[2] * 1024};
  if (!IsValidChunkerParams(params)) return std::nullopt;
  return params;
}

// Runs |work| on every file, on |threads| threads (0: up to eight). Returns
// the first error |work| gave (empty: none); work stops after it.
std::string ForEachFile(std::vector<SourceFile>& files, unsigned threads,
                        const std::function<std::string(SourceFile&)>& work) {
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex error_mutex;
  std::string first_error;
  const auto fail = [&](std::string error) {
    std::lock_guard<std::mutex> lock(error_mutex);
    if (first_error.empty()) first_error = std::move(error);
    stop.store(true);
  };
  const auto worker = [&] {
    try {
      for (size_t i; !stop.load() && (i = next++) < files.size();) {
        if (std::string error = work(files[i]); !error.empty()) fail(std::move(error));
      }
    } catch (const std::exception& failure) {  // out of memory, most likely
      fail(failure.what());
    }
  };
  if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  HelperThreads helpers(stop);
  for (unsigned t = 1; t < threads; ++t) {
    if (!helpers.Start(worker)) break;  // fewer threads share the files
  }
  worker();
  helpers.JoinAll();
  return first_error;
}

// Reads |file| into |bytes| and takes its size, CRC-32 and, when signing,
// SHA-256. Returns an error text, empty on success.
std::string ReadSource(SourceFile& file, bool signing, std::string& bytes) {
  std::error_code size_error;
  if (fs::file_size(file.full, size_error) > 0xFFFFFFFFull) {
    return file.path + ": larger than 4 GiB, which payloads cannot carry";
  }
  std::string error;
  if (!ReadWholeFile(Utf8Path(file.full), bytes, error)) return error;
  file.size = static_cast<std::int64_t>(bytes.size());
  file.crc = Crc32Buffer(bytes.data(), bytes.size());
  if (signing) file.sha256 = Sha256Of(bytes);
  return {};
}

// True when the payload at |path| decodes to exactly |bytes|.
bool DecodesTo(const fs::path& path, std::string_view bytes) {
  std::string payload, error;
  if (!ReadWholeFile(Utf8Path(path), payload, error)) return false;
  try {
    const std::vector<std::uint8_t> decoded = DecodePayload(
        std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()),
        static_cast<std::int64_t>(bytes.size()));
    return std::string_view(reinterpret_cast<const char*>(decoded.data()), decoded.size()) == bytes;
  } catch (const PatchFailure&) {
    return false;
  }
}

// Which published payloads can stay: those of unchanged files. A signature
// vouches for the source, so when signing each one kept must also decode to
// exactly the source file; one that does not gets |problem| set.
std::string ScanSources(std::vector<SourceFile>& files, const fs::path& version_dir,
                        const PublishSettings& settings,
                        const std::map<std::string, CrcListEntry>& published) {
  return ForEachFile(files, settings.threads, [&](SourceFile& file) {
    std::string bytes;
    if (std::string error = ReadSource(file, settings.signing.has_value(), bytes); !error.empty()) {
      return error;
    }
    if (settings.layout == Layout::kChunksOnly) return std::string();
    const fs::path payload_path = version_dir / FsPathFromUtf8(file.path + ".lz");
    const auto old = published.find(file.path);
    std::error_code ec;
    file.reused = old != published.end() && old->second.crc == file.crc &&
                  old->second.size == file.size && fs::is_regular_file(payload_path, ec) &&
                  static_cast<std::int64_t>(fs::file_size(payload_path, ec)) == old->second.packed_size;
    if (file.reused) file.packed_size = old->second.packed_size;
    if (file.reused && settings.signing && !DecodesTo(payload_path, bytes)) {
      file.problem = "the payload in the web root does not decode to this file; not signed";
    }
    return std::string();
  });
}

// Compresses and writes the payloads of the files that changed, on every core.
std::string WritePayloads(std::vector<SourceFile>& files, const fs::path& version_dir,
                          const PublishSettings& settings, int& written) {
  std::atomic<int> written_count{0};
  std::string error = ForEachFile(files, settings.threads, [&](SourceFile& file) {
    if (file.reused) return std::string();
    std::string bytes, local_error;
    // Read again: what is compressed is what the crclist and signature describe.
    std::string read_error = ReadSource(file, settings.signing.has_value(), bytes);
    if (!read_error.empty()) return read_error;
    std::optional<std::vector<std::uint8_t>> payload =
        MakePayload(bytes, settings.level, settings.framing, local_error);
    if (payload) {
      file.packed_size = static_cast<std::int64_t>(payload->size());
      const std::string_view view(reinterpret_cast<const char*>(payload->data()), payload->size());
      const fs::path payload_path = version_dir / FsPathFromUtf8(file.path + ".lz");
      if (WriteIfChanged(payload_path, view, local_error)) ++written_count;
    }
    return local_error.empty() ? std::string() : file.path + ": " + local_error;
  });
  written = written_count;
  return error;
}

// The configuration document of |settings|, checked by the launcher's
// parser, and the version folder in the web root its crcpatch_url maps to.
// False after printing why.
bool PrepareConfig(const PublishSettings& settings, std::string& document, fs::path& version_dir) {
  PatchConfig config;
  config.run_path = settings.run_path;
  config.crcpatch_url = settings.crcpatch_url;
  config.crcversion = settings.version;
  document = FormatPatchConfig(config);
  try {
    config = ParsePatchConfig(document);
  } catch (const PatchFailure& failure) {
    ErrLine("embpatch publish: the launcher would refuse this configuration");
    ErrLine(WideToUtf8(PatchFailureMessage(failure.code(), failure.detail())));
    return false;
  }
  const std::optional<std::string> url_path = UrlPath(config.crcpatch_url);
  std::u16string ignored;
  if (!url_path || (!url_path->empty() && !IsSafeRelativePath(Utf8ToWide(*url_path), ignored))) {
    ErrLine("embpatch publish: cannot map '" + config.crcpatch_url + "' into the web root");
    return false;
  }
  version_dir = settings.web_root / FsPathFromUtf8(*url_path) / FsPathFromUtf8(config.crcversion);
  return true;
}

// Scans the sources and writes the payloads that changed; nothing when a
// kept payload is refused. False after printing why.
bool PublishPayloads(std::vector<SourceFile>& files, const fs::path& version_dir,
                     const PublishSettings& settings,
                     const std::map<std::string, CrcListEntry>& published, int& written) {
  std::string error = ScanSources(files, version_dir, settings, published);
  const auto refused = std::count_if(files.begin(), files.end(),
                                     [](const SourceFile& f) { return !f.problem.empty(); });
  if (error.empty() && refused == 0 && settings.layout != Layout::kChunksOnly) {
    error = WritePayloads(files, version_dir, settings, written);
  }
  for (const SourceFile& file : files) {
    if (!file.problem.empty()) ErrLine("embpatch publish: " + file.path + ": " + file.problem);
  }
  if (error.empty() && refused == 0) return true;
  ErrLine("embpatch publish: " +
          (error.empty() ? std::to_string(refused) + " payload(s) refused; nothing written" : error));
  return false;
}

// The bytes of the crclist of |files|.
std::string CrcListText(const std::vector<SourceFile>& files) {
  std::vector<CrcListEntry> entries;
  for (const SourceFile& file : files) {
    entries.push_back({file.crc, file.size, file.packed_size, 0, file.path});
  }
  return "# published by embpatch\n" + FormatCrcList(entries);
}

// Cuts every file into chunks, writes the packs of the new ones and the
// chunk index for |crclist| (|index_changed|: whether it differs from the
// one there was). Without payloads a file's packed size is what its chunks
// take. False after printing why.
bool PublishChunks(std::vector<SourceFile>& files, const fs::path& version_dir,
                   const PublishSettings& settings, ChunkPublishStats& stats, bool& index_changed) {
  ChunkPublisher publisher(version_dir.parent_path(),
                           settings.level == CompressionLevel::Best ? Lzo1xLevel::Best : Lzo1xLevel::Fast,
                           settings.chunk_params, settings.threads);
  std::vector<std::string> warnings;
  publisher.LoadStored(version_dir.filename(), warnings);
  for (const std::string& warning : warnings) ErrLine("embpatch publish: warning: " + warning);
  std::string error;
  for (SourceFile& file : files) {
    std::uint64_t stored_size = 0;
    if (!publisher.AddFile(file.path, file.full, static_cast<std::uint64_t>(file.size), file.crc,
                           stored_size, error)) {
      ErrLine("embpatch publish: " + error);
      return false;
    }
    if (settings.layout == Layout::kChunksOnly) file.packed_size = static_cast<std::int64_t>(stored_size);
  }
  if (!publisher.Finish(error)) {
    ErrLine("embpatch publish: " + error);
    return false;
  }
  const std::string index = publisher.IndexBytes(Sha256Of(CrcListText(files)));
  index_changed = WriteIfChanged(version_dir / std::string(kChunkIndexName), index, error);
  if (!error.empty()) {
    ErrLine("embpatch publish: " + error);
    return false;
  }
  stats = publisher.stats();
  return true;
}

// Removes the payloads of files that left the folder, or of every file when
// the release has none; returns how many.
int RemoveGone(const std::vector<SourceFile>& files, const fs::path& version_dir,
               const std::map<std::string, CrcListEntry>& published, Layout layout) {
  int removed = 0;
  std::set<std::string> current;
  if (layout != Layout::kChunksOnly) {
    for (const SourceFile& file : files) current.insert(file.path);
  }
  for (const auto& [path, entry] : published) {
    std::error_code ec;
    if (!current.count(path) && fs::remove(version_dir / FsPathFromUtf8(path + ".lz"), ec)) ++removed;
  }
  return removed;
}

// Writes the crclist and the configuration document, removes the payloads
// the crclist no longer lists (|removed|: how many), then signs when asked.
// False after printing why.
bool PublishIndex(const std::vector<SourceFile>& files, const fs::path& version_dir,
                  const std::string& document, PublishSettings& settings,
                  const std::map<std::string, CrcListEntry>& published, bool index_changed,
                  int& removed, std::vector<std::string>& signed_summary) {
  SourceHashes hashes;
  for (const SourceFile& file : files) hashes[file.path] = {file.sha256, file.size};
  if (files.empty()) ErrLine("embpatch publish: warning: the folder is empty; launchers will fail with \"Empty crclist\"");
  std::string error;
  const bool list_changed = WriteIfChanged(version_dir / "crclist", CrcListText(files), error);
  WriteIfChanged(settings.web_root / "new" / "emb.launcher.config.xml", document, error);
  if (!error.empty()) {
    ErrLine("embpatch publish: " + error);
    return false;
  }
  // Gone before signing: the signer decodes every payload there is.
  removed = RemoveGone(files, version_dir, published, settings.layout);
  std::vector<std::string> problems;
  if (settings.signing) {
    settings.signing->source_hashes = &hashes;
    if (SignPublication(settings.web_root, version_dir, *settings.signing, signed_summary, problems)) return true;
    for (const std::string& problem : problems) ErrLine("embpatch publish: " + problem);
    return false;
  }
  std::error_code sig_ec;
  if ((list_changed || index_changed) && fs::exists(version_dir / std::string(kReleaseDocumentName), sig_ec)) {
    ErrLine("embpatch publish: warning: " + std::string(kReleaseDocumentName) +
            " no longer matches the crclist or its chunks; launchers with a pinned key refuse this version "
            "until 'embpatch sign' signs it again");
  }
  return true;
}

int Publish(PublishSettings& settings) {
  std::vector<SourceFile> files;
  std::string error, document;
  fs::path version_dir;
  if (!fs::is_directory(settings.from)) {
    ErrLine("embpatch publish: '" + Utf8Path(settings.from) + "' is not a folder");
    return kExitFailure;
  }
  if (!CollectFiles(settings.from, files, error)) {
    ErrLine("embpatch publish: " + error);
    return kExitFailure;
  }
  if (!PrepareConfig(settings, document, version_dir)) return kExitFailure;
  const std::map<std::string, CrcListEntry> published = ReadPublishedList(version_dir / "crclist");
  int written = 0;
  std::vector<std::string> signed_summary;
  ChunkPublishStats chunks;
  const bool with_chunks = settings.layout != Layout::kPayloadsOnly;
  if (!PublishPayloads(files, version_dir, settings, published, written)) return kExitFailure;
  // Chunks before the crclist, so that the crclist a client reads never
  // names chunks that are not there yet.
  bool index_changed = false;
  if (with_chunks && !PublishChunks(files, version_dir, settings, chunks, index_changed)) {
    return kExitFailure;
  }
  if (!with_chunks) {
    // An index left by an earlier publish names another crclist.
    std::error_code ec;
    index_changed = fs::remove(version_dir / std::string(kChunkIndexName), ec);
  }
  int removed = 0;
  if (!PublishIndex(files, version_dir, document, settings, published, index_changed, removed,
                    signed_summary)) {
    return kExitFailure;
  }

  std::error_code ec;
  if (!fs::exists(settings.from / FsPathFromUtf8(settings.run_path), ec)) {
    ErrLine("embpatch publish: warning: run path '" + settings.run_path + "' is not among the published files");
  }
  const auto reused = std::count_if(files.begin(), files.end(), [](const SourceFile& f) { return f.reused; });
  OutLine("published " + std::to_string(files.size()) + " files: " + std::to_string(written) +
          " payloads written, " + std::to_string(reused) + " unchanged, " + std::to_string(removed) +
          " removed");
  OutLine("configuration: " + Utf8Path(settings.web_root / "new" / "emb.launcher.config.xml"));
  OutLine("crclist: " + Utf8Path(version_dir / "crclist"));
  if (with_chunks) {
    OutLine("chunks: " + std::to_string(chunks.chunks) + ", " + std::to_string(chunks.new_chunks) +
            " new (" + std::to_string(chunks.new_bytes) + " bytes) in " +
            std::to_string(chunks.packs_written) + " packs written");
    OutLine("chunk index: " + Utf8Path(version_dir / std::string(kChunkIndexName)));
  }
  for (const std::string& line : signed_summary) OutLine(line);
  return kExitOk;
}

}  // namespace

int RunPublish(const ParsedArgs& parsed) {
  PublishSettings settings;
  settings.from = FsPathFromUtf8(*parsed.Value("--from"));
  settings.web_root = FsPathFromUtf8(*parsed.Value("--web-root"));
  settings.crcpatch_url = *parsed.Value("--crcpatch-url");
  settings.version = *parsed.Value("--version");
  if (auto run_path = parsed.Value("--run-path")) settings.run_path = *run_path;
  if (auto level = parsed.Value("--level")) {
    const std::optional<CompressionLevel> parsed_level = ParseLevel(*level);
    if (!parsed_level) return UsageError("publish", "--level must be 1 or 999");
    settings.level = *parsed_level;
  }
  if (parsed.Has("--bare")) settings.framing = Framing::Bare;
  if (parsed.Has("--chunks-only") && parsed.Has("--no-chunks")) {
    return UsageError("publish", "--chunks-only and --no-chunks exclude each other");
  }
  if (parsed.Has("--chunks-only")) settings.layout = Layout::kChunksOnly;
  if (parsed.Has("--no-chunks")) settings.layout = Layout::kPayloadsOnly;
  if (auto threads = parsed.Value("--threads")) {
    if (threads->size() != 1 || (*threads)[0] < '1' || (*threads)[0] > '8') {
      return UsageError("publish", "--threads must be 1 to 8");
    }
    settings.threads = static_cast<unsigned>((*threads)[0] - '0');
  }
  if (auto sizes = parsed.Value("--chunk-sizes")) {
    const std::optional<ChunkerParams> params = ParseChunkSizes(*sizes);
    if (!params) {
      return UsageError("publish", "--chunk-sizes must be MIN,AVG,MAX in KiB, AVG a power of two, "
                                   "1 <= MIN < AVG < MAX <= 4096");
    }
    settings.chunk_params = *params;
  }
  if (!parsed.unmet_need().empty()) return UsageError("publish", parsed.unmet_need());
  if (!parsed.Has("--sign-key")) return Publish(settings);
  std::string error;
  settings.signing.emplace();
  if (!ParseSignOptions(parsed, *settings.signing, error)) return UsageError("publish", error);
  // A key that cannot be read fails now, not after every payload is written.
  const std::optional<SigningKey> key = LoadSignKey(parsed, error);
  if (!key) {
    ErrLine("embpatch publish: " + error);
    return kExitFailure;
  }
  settings.signing->key = &*key;
  return Publish(settings);
}

int RunPack(const ParsedArgs& parsed) {
  const std::string out = *parsed.Value("-o");
  CompressionLevel level = CompressionLevel::Best;
  if (auto text = parsed.Value("--level")) {
    const std::optional<CompressionLevel> parsed_level = ParseLevel(*text);
    if (!parsed_level) return UsageError("pack", "--level must be 1 or 999");
    level = *parsed_level;
  }
  std::string error;
  std::string bytes;
  if (!ReadWholeFile(parsed.positional()[0], bytes, error)) {
    ErrLine("embpatch pack: " + error);
    return kExitFailure;
  }
  const std::optional<std::vector<std::uint8_t>> payload =
      MakePayload(bytes, level, parsed.Has("--bare") ? Framing::Bare : Framing::Mcoz, error);
  if (!payload) {
    ErrLine("embpatch pack: " + error);
    return kExitFailure;
  }
  if (!WriteWholeFile(out, std::string_view(reinterpret_cast<const char*>(payload->data()), payload->size()), error)) {
    ErrLine("embpatch pack: " + error);
    return kExitFailure;
  }
  char line[160];
  std::snprintf(line, sizeof(line), "%08" PRIx32 " %zu %zu", Crc32Buffer(bytes.data(), bytes.size()),
                bytes.size(), payload->size());
  OutLine(line);
  return kExitOk;
}

}  // namespace emberfall::cli

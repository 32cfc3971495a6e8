// embpatch publish / pack: turning a game folder into the files a patch
// server serves — the configuration document, the CRC list and one payload
// per file — so that any static web server can serve them.
#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/fs_path.h"
#include "core/patch_config.h"
#include "core/patch_error.h"
#include "core/release_document.h"
#include "core/text.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"
#include "tools/embpatch/payload_writer.h"
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
  bool reused = false;
};

std::string XmlAttributeEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

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

struct PublishSettings {
  fs::path from;
  fs::path web_root;
  std::string crcpatch_url;
  std::string version;
  std::string run_path = "emb.bin";
  CompressionLevel level = CompressionLevel::Best;
  Framing framing = Framing::Mcoz;
  std::optional<SignSettings> signing;
};

// Compresses the files that need it on every core; the rest reuse their
// published payloads.
bool MakePayloads(std::vector<SourceFile>& files, const fs::path& version_dir,
                  const PublishSettings& settings,
                  const std::map<std::string, CrcListEntry>& published, int& written,
                  std::string& error) {
  std::atomic<size_t> next{0};
  std::atomic<int> written_count{0};
  std::mutex error_mutex;
  std::string first_error;
  auto worker = [&] {
    for (size_t i = next++; i < files.size(); i = next++) {
      SourceFile& file = files[i];
      std::string bytes, local_error;
      std::error_code size_error;
      if (fs::file_size(file.full, size_error) > 0xFFFFFFFFull) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (first_error.empty()) first_error = file.path + ": larger than 4 GiB, which payloads cannot carry";
        return;
      }
      if (!ReadWholeFile(Utf8Path(file.full), bytes, local_error)) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (first_error.empty()) first_error = local_error;
        return;
      }
      file.size = static_cast<std::int64_t>(bytes.size());
      file.crc = Crc32Buffer(bytes.data(), bytes.size());
      const fs::path payload_path = version_dir / FsPathFromUtf8(file.path + ".lz");
      const auto old = published.find(file.path);
      std::error_code ec;
      if (old != published.end() && old->second.crc == file.crc && old->second.size == file.size &&
          fs::is_regular_file(payload_path, ec) &&
          static_cast<std::int64_t>(fs::file_size(payload_path, ec)) == old->second.packed_size) {
        file.packed_size = old->second.packed_size;
        file.reused = true;
        continue;
      }
      std::optional<std::vector<std::uint8_t>> payload =
          MakePayload(bytes, settings.level, settings.framing, local_error);
      if (payload) {
        file.packed_size = static_cast<std::int64_t>(payload->size());
        const std::string_view view(reinterpret_cast<const char*>(payload->data()), payload->size());
        if (WriteIfChanged(payload_path, view, local_error)) ++written_count;
      }
      if (!local_error.empty()) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (first_error.empty()) first_error = file.path + ": " + local_error;
        return;
      }
    }
  };
  const unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  written = written_count;
  error = first_error;
  return first_error.empty();
}

int Publish(const PublishSettings& settings) {
  std::vector<SourceFile> files;
  std::string error;
  if (!fs::is_directory(settings.from)) {
    ErrLine("embpatch publish: '" + Utf8Path(settings.from) + "' is not a folder");
    return kExitFailure;
  }
  // A key that cannot be read fails now, not after every payload is written.
  std::string key_bytes;
  if (settings.signing && !ReadWholeFile(settings.signing->key_path, key_bytes, error)) {
    ErrLine("embpatch publish: " + error);
    return kExitFailure;
  }
  if (!CollectFiles(settings.from, files, error)) {
    ErrLine("embpatch publish: " + error);
    return kExitFailure;
  }

  // The document this publication serves, checked by the launcher's parser.
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<torrent_config run_path=\"" + XmlAttributeEscape(settings.run_path) + "\">\n"
      "  <foreground_patch crcpatch_url=\"" + XmlAttributeEscape(settings.crcpatch_url) +
      "\" crcversion=\"" + XmlAttributeEscape(settings.version) + "\"/>\n"
      "</torrent_config>\n";
  PatchConfig config;
  try {
    config = ParsePatchConfig(document);
  } catch (const PatchFailure& failure) {
    ErrLine("embpatch publish: the launcher would refuse this configuration");
    ErrLine(WideToUtf8(PatchFailureMessage(failure.code(), failure.detail())));
    return kExitFailure;
  }
  const std::optional<std::string> url_path = UrlPath(config.crcpatch_url);
  std::u16string ignored;
  if (!url_path || (!url_path->empty() && !IsSafeRelativePath(Utf8ToWide(*url_path), ignored))) {
    ErrLine("embpatch publish: cannot map '" + config.crcpatch_url + "' into the web root");
    return kExitFailure;
  }

  const fs::path version_dir =
      settings.web_root / FsPathFromUtf8(*url_path) / FsPathFromUtf8(config.crcversion);
  const fs::path list_path = version_dir / "crclist";
  const std::map<std::string, CrcListEntry> published = ReadPublishedList(list_path);

  int written = 0;
  if (!MakePayloads(files, version_dir, settings, published, written, error)) {
    ErrLine("embpatch publish: " + error);
    return kExitFailure;
  }

  std::string list = "# published by embpatch\n";
  for (const SourceFile& file : files) {
    char prefix[96];
    std::snprintf(prefix, sizeof(prefix), "%08" PRIx32 " %" PRId64 " %" PRId64 " 0 ", file.crc,
                  file.size, file.packed_size);
    list += prefix + file.path + "\n";
  }
  if (files.empty()) ErrLine("embpatch publish: warning: the folder is empty; launchers will fail with \"Empty crclist\"");
  const bool list_changed = WriteIfChanged(list_path, list, error);
  WriteIfChanged(settings.web_root / "new" / "emb.launcher.config.xml", document, error);
  if (!error.empty()) {
    ErrLine("embpatch publish: " + error);
    return kExitFailure;
  }
  std::string signed_summary;
  if (settings.signing &&
      !SignPublication(settings.web_root, version_dir, *settings.signing, signed_summary, error)) {
    ErrLine("embpatch publish: " + error);
    return kExitFailure;
  }
  std::error_code sig_ec;
  if (!settings.signing && list_changed &&
      fs::exists(version_dir / std::string(kReleaseDocumentName), sig_ec)) {
    ErrLine("embpatch publish: warning: " + std::string(kReleaseDocumentName) +
            " no longer matches the crclist; launchers with a pinned key refuse this version "
            "until 'embpatch sign' signs it again");
  }

  // Payloads of files that left the folder go too.
  int removed = 0;
  std::set<std::string> current;
  for (const SourceFile& file : files) current.insert(file.path);
  for (const auto& [path, entry] : published) {
    std::error_code ec;
    if (!current.count(path) && fs::remove(version_dir / FsPathFromUtf8(path + ".lz"), ec)) ++removed;
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
  OutLine("crclist: " + Utf8Path(list_path));
  if (!signed_summary.empty()) OutLine(signed_summary);
  return kExitOk;
}

}  // namespace

int RunPublish(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args,
                 {{"--from", true, false},
                  {"--web-root", true, false},
                  {"--crcpatch-url", true, false},
                  {"--version", true, false},
                  {"--run-path", true, false},
                  {"--level", true, false},
                  {"--bare", false, false},
                  {"--sign-key", true, false},
                  {"--expires-days", true, false},
                  {"--serial", true, false}},
                 parsed, error)) {
    return UsageError("publish", error);
  }
  if (!parsed.positional().empty()) return UsageError("publish", "unexpected argument '" + parsed.positional()[0] + "'");
  PublishSettings settings;
  for (const char* required : {"--from", "--web-root", "--crcpatch-url", "--version"}) {
    if (!parsed.Has(required)) return UsageError("publish", std::string(required) + " is required");
  }
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
  if (parsed.Has("--sign-key")) {
    settings.signing.emplace();
    if (!ParseSignOptions(parsed, *settings.signing, error)) return UsageError("publish", error);
  } else if (parsed.Has("--expires-days") || parsed.Has("--serial")) {
    return UsageError("publish", "--expires-days and --serial need --sign-key");
  }
  return Publish(settings);
}

int RunPack(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"-o", true, false}, {"--level", true, false}, {"--bare", false, false}},
                 parsed, error)) {
    return UsageError("pack", error);
  }
  if (parsed.positional().size() != 1) return UsageError("pack", "expected one input file");
  const std::optional<std::string> out = parsed.Value("-o");
  if (!out) return UsageError("pack", "-o OUT is required");
  CompressionLevel level = CompressionLevel::Best;
  if (auto text = parsed.Value("--level")) {
    const std::optional<CompressionLevel> parsed_level = ParseLevel(*text);
    if (!parsed_level) return UsageError("pack", "--level must be 1 or 999");
    level = *parsed_level;
  }
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
  if (!WriteWholeFile(*out, std::string_view(reinterpret_cast<const char*>(payload->data()), payload->size()), error)) {
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

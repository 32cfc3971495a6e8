#include "tools/embpatch/release_signing.h"

#include <algorithm>
#include <ctime>
#include <set>
#include <span>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/fs_path.h"
#include "core/patch_config.h"
#include "core/safe_path.h"
#include "core/patch_error.h"
#include "core/payload.h"
#include "core/release_document.h"
#include "core/text.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/published_chunks.h"
#include "tools/embpatch/release_signer.h"

namespace emberfall::cli {
namespace {

namespace fs = std::filesystem;

std::string FailureText(const PatchFailure& failure) {
  return WideToUtf8(PatchFailureMessage(failure.code(), failure.detail()));
}

// One file of the crclist as a player would end up with it: its payload
// decoded, checked against the crclist's size and CRC-32. nullopt with
// |problem| set when that fails.
std::optional<std::vector<std::uint8_t>> DecodePublishedFile(const fs::path& version_dir,
                                                             const CrcListEntry& entry,
                                                             std::string& problem) {
  std::string payload;
  if (!ReadWholeFile(Utf8Path(version_dir / FsPathFromUtf8(entry.path + ".lz")), payload, problem)) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> decoded;
  try {
    decoded = DecodePayload(
        std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()), entry.size);
  } catch (const PatchFailure& failure) {
    problem = FailureText(failure);
    return std::nullopt;
  }
  const std::uint32_t crc = Crc32Buffer(decoded.data(), decoded.size());
  if (crc != entry.crc) {
    problem = "CRC-32 " + FormatCrcHex(crc) + " of the decoded payload, the crclist says " +
              FormatCrcHex(entry.crc);
    return std::nullopt;
  }
  return decoded;
}

// One way a player can get a file: its payload or its chunks, decoded and
// checked against the crclist's size and CRC-32, or why that failed.
struct Route {
  std::string_view from;  // prefixed to a problem: "" for the payload
  std::optional<std::vector<std::uint8_t>> bytes;
  std::string problem;
};

std::optional<std::vector<std::uint8_t>> ReassemblePublishedFile(const PublishedIndex& chunks,
                                                                 const CrcListEntry& entry,
                                                                 std::string& problem) {
  const IndexedFile* file = FindIndexedFile(chunks.index, entry.path);
  if (!file || file->size != static_cast<std::uint64_t>(entry.size)) {
    problem = file ? "the chunks add up to " + std::to_string(file->size) + " bytes, the crclist says " +
                         std::to_string(entry.size)
                   : std::string("not in ") + std::string(kChunkIndexName);
    return std::nullopt;
  }
  std::optional<std::vector<std::uint8_t>> bytes = ReassembleFile(chunks, *file, problem);
  if (bytes && Crc32Buffer(bytes->data(), bytes->size()) != entry.crc) {
    problem = "CRC-32 " + FormatCrcHex(Crc32Buffer(bytes->data(), bytes->size())) +
              " of the chunks, the crclist says " + FormatCrcHex(entry.crc);
    return std::nullopt;
  }
  return bytes;
}

// Every way of |entry| a release offers: its payload when there is one or
// the release has no chunks, and its chunks when |chunks| is given.
std::vector<Route> DecodeRoutes(const fs::path& version_dir, const CrcListEntry& entry,
                                const PublishedIndex* chunks) {
  std::vector<Route> routes;
  std::error_code ec;
  if (!chunks || fs::exists(version_dir / FsPathFromUtf8(entry.path + ".lz"), ec)) {
    Route& route = routes.emplace_back();
    route.bytes = DecodePublishedFile(version_dir, entry, route.problem);
  }
  if (chunks) {
    Route& route = routes.emplace_back();
    route.from = "from its chunks: ";
    route.bytes = ReassemblePublishedFile(*chunks, entry, route.problem);
  }
  return routes;
}

Sha256Digest HashBytes(const std::vector<std::uint8_t>& bytes) {
  Sha256 hasher;
  hasher.Update(bytes.data(), bytes.size());
  return hasher.Final();
}

bool ReadCrcList(const fs::path& version_dir, std::string& text, std::vector<CrcListEntry>& entries,
                 std::string& error) {
  if (!ReadWholeFile(Utf8Path(version_dir / "crclist"), text, error)) return false;
  try {
    entries = ParseCrcList(text);
  } catch (const PatchFailure& failure) {
    error = FailureText(failure);
    return false;
  }
  return true;
}

// The serial of a new document: the one asked for, else the next after
// every release this key signed in the web root; none past the bound.
std::optional<std::uint64_t> NextSerial(const fs::path& web_root, const SignSettings& settings,
                                        std::vector<std::string>& problems) {
  const std::uint64_t serial =
      settings.serial ? *settings.serial
                      : HighestPublishedSerial(web_root, settings.key->public_key()) + 1;
  if (serial > kMaxSignedSerial) {
    problems.push_back("serial " + std::to_string(serial) +
                       " is past the highest a signature takes, 2^53 = " + std::to_string(kMaxSignedSerial));
    return std::nullopt;
  }
  return serial;
}

SourceHashes HashSourceFiles(const fs::path& source_dir, const std::vector<CrcListEntry>& entries,
                             std::vector<std::string>& problems) {
  SourceHashes hashes;
  for (const CrcListEntry& entry : entries) {
    std::string relative = entry.path, bytes, error;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    if (!ReadWholeFile(Utf8Path(source_dir / FsPathFromUtf8(relative)), bytes, error)) {
      problems.push_back(entry.path + ": not in the source folder: " + error);
      continue;
    }
    hashes[entry.path] = {Sha256Of(bytes), static_cast<std::int64_t>(bytes.size())};
  }
  return hashes;
}

// What each file must decode to (see SignSettings). False with |problems|
// set when that cannot be known.
bool ExpectedFiles(const fs::path& version_dir, const std::vector<CrcListEntry>& entries,
                   const SignSettings& settings, SourceHashes& expected,
                   std::vector<std::string>& problems) {
  if (settings.source_hashes) {
    expected = *settings.source_hashes;
    return true;
  }
  if (settings.source_dir) {
    expected = HashSourceFiles(*settings.source_dir, entries, problems);
    return problems.empty();
  }
  // Without a source only what this key signed before may be signed again:
  // signing what the web root holds would trust whoever can write to it.
  std::string bytes, error;
  ReleaseDocument previous;
  const EcdsaPublicKey& key = settings.key->public_key();
  const ReleaseVerdict verdict =
      ReadWholeFile(Utf8Path(version_dir / std::string(kReleaseDocumentName)), bytes, error)
          ? VerifyReleaseDocument(bytes, {&key, 1}, settings.product, settings.channel, 0, "", 0,
                                  &previous)
          : ReleaseVerdict::kMalformed;
  if (verdict == ReleaseVerdict::kMalformed || verdict == ReleaseVerdict::kBadSignature ||
      verdict == ReleaseVerdict::kWrongChannel) {
    problems.push_back(std::string(kReleaseDocumentName) + ": no earlier release of product " +
                       settings.product + ", channel " + settings.channel +
                       " signed with this key; give the source folder with --from");
    return false;
  }
  expected = std::move(previous.files);
  return true;
}

// The chunk index of the publication when the document binds it; a problem
// for an index that is unsigned, missing, altered or unusable.
std::optional<PublishedIndex> CheckSignedIndex(const fs::path& version_dir, std::string_view crclist,
                                               const ReleaseDocument& document,
                                               std::vector<std::string>& problems) {
  const std::string name(kChunkIndexName);
  const auto bound = document.files.find(std::string(kChunkIndexSignedPath));
  std::error_code ec;
  const bool present = fs::exists(version_dir / name, ec);
  std::string bytes, problem;
  if (bound == document.files.end() || !present) {
    if (present) problems.push_back(name + ": not in the signed release");
    if (bound != document.files.end()) problems.push_back(name + ": signed but missing");
    return std::nullopt;
  }
  // The signature decides first: an altered index is one finding, not a
  // parse error and a list of files that follow from it.
  if (!ReadWholeFile(Utf8Path(version_dir / name), bytes, problem) ||
      Sha256Of(bytes) != bound->second.sha256 ||
      static_cast<std::int64_t>(bytes.size()) != bound->second.size) {
    problems.push_back(name + ": differs from the signed SHA-256 and size");
    return std::nullopt;
  }
  std::optional<PublishedIndex> chunks = ReadPublishedIndex(version_dir, crclist, problem);
  if (!chunks) problems.push_back(problem);
  return chunks;
}

}  // namespace

std::optional<std::string> UrlPath(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return std::nullopt;
  const size_t slash = url.find('/', scheme + 3);
  std::string path = slash == std::string::npos ? "" : url.substr(slash + 1);
  if (const size_t cut = path.find_first_of("?#"); cut != std::string::npos) path.resize(cut);
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

bool FindVersionDir(const fs::path& web_root, const std::string& version, fs::path& version_dir,
                    std::string& error) {
  const fs::path config_path = web_root / "new" / "emb.launcher.config.xml";
  std::string document;
  if (!ReadWholeFile(Utf8Path(config_path), document, error)) return false;
  PatchConfig config;
  try {
    config = ParsePatchConfig(document);
  } catch (const PatchFailure& failure) {
    error = Utf8Path(config_path) + ": " + FailureText(failure);
    return false;
  }
  const std::optional<std::string> url_path = UrlPath(config.crcpatch_url);
  std::u16string ignored;
  if (!url_path || (!url_path->empty() && !IsSafeRelativePath(Utf8ToWide(*url_path), ignored)) ||
      !IsSafeRelativePath(Utf8ToWide(version), ignored) || version.find_first_of("/\\") != std::string::npos) {
    error = "cannot map version '" + version + "' of '" + config.crcpatch_url + "' into the web root";
    return false;
  }
  version_dir = web_root / FsPathFromUtf8(*url_path) / FsPathFromUtf8(version);
  return true;
}

std::uint64_t HighestPublishedSerial(const fs::path& web_root, const EcdsaPublicKey& key) {
  std::uint64_t highest = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(web_root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->path().filename() != kReleaseDocumentName || !it->is_regular_file(ec)) continue;
    std::string bytes, reason;
    if (!ReadWholeFile(Utf8Path(it->path()), bytes, reason)) continue;
    const std::optional<ParsedReleaseDocument> parsed = ParseReleaseDocument(bytes, reason);
    if (parsed && VerifyEcdsaP256Sha256(key, std::string_view(bytes).substr(0, parsed->signed_length),
                                        parsed->signature)) {
      highest = std::max(highest, parsed->document.serial);
    }
  }
  return highest;
}

bool SignPublication(const fs::path& web_root, const fs::path& version_dir,
                     const SignSettings& settings, std::vector<std::string>& summary,
                     std::vector<std::string>& problems) {
  std::string crclist, error;
  std::vector<CrcListEntry> entries;
  if (!ReadCrcList(version_dir, crclist, entries, error)) {
    problems.push_back(error);
    return false;
  }
  const std::optional<PublishedIndex> chunks = ReadPublishedIndex(version_dir, crclist, error);
  if (!error.empty()) {
    problems.push_back(error + "; publish again");
    return false;
  }
  const std::optional<std::uint64_t> serial = NextSerial(web_root, settings, problems);
  SourceHashes expected;
  if (!serial || !ExpectedFiles(version_dir, entries, settings, expected, problems)) return false;

  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  ReleaseDocument document{.product = settings.product, .channel = settings.channel,
                           .serial = *serial, .expires = now + settings.expires_days * 86400,
                           .crclist_sha256 = Sha256Of(crclist)};
  const bool from_source = settings.source_hashes || settings.source_dir;
  for (const CrcListEntry& entry : entries) {
    const auto wanted = expected.find(entry.path);
    bool signable = true;
    for (Route& route : DecodeRoutes(version_dir, entry, chunks ? &*chunks : nullptr)) {
      std::string& problem = route.problem;
      const std::optional<std::vector<std::uint8_t>>& decoded = route.bytes;
      if (decoded && wanted == expected.end()) {
        problem = "not in the earlier signed release; give the source folder with --from";
      } else if (decoded && (wanted->second.sha256 != HashBytes(*decoded) ||
                             wanted->second.size != static_cast<std::int64_t>(decoded->size()))) {
        problem = from_source ? (route.from.empty() ? "the payload does not decode to the source file"
                                                    : "they do not make up the source file")
                              : "decoded contents differ from the earlier signed release; give the "
                                "source folder with --from";
      }
      if (!problem.empty()) {
        problems.push_back(entry.path + ": " + std::string(route.from) + problem + "; not signed");
        signable = false;
        break;
      }
    }
    if (signable) document.files[entry.path] = wanted->second;
  }
  if (!problems.empty()) return false;
  // Binds the index, and through its chunk hashes every pack byte a
  // chunk-aware launcher uses; older launchers never look this path up.
  if (chunks) {
    document.files[std::string(kChunkIndexSignedPath)] = {
        Sha256Of(chunks->bytes), static_cast<std::int64_t>(chunks->bytes.size())};
  }

  const std::string body = FormatReleaseDocument(document);
  EcdsaSignature signature;
  if (!settings.key->Sign(body, signature, error)) {
    problems.push_back(error);
    return false;
  }
  // What launchers will read: parsed and verified as they do before it is written.
  const std::string text = body + FormatSignatureLine(signature);
  const EcdsaPublicKey& key = settings.key->public_key();
  ReleaseDocument check;
  if (VerifyReleaseDocument(text, {&key, 1}, settings.product, settings.channel, now, crclist,
                            document.serial, &check) != ReleaseVerdict::kOk ||
      FormatReleaseDocument(check) != body) {
    problems.push_back(std::string(kReleaseDocumentName) +
                       ": the document made does not verify; not written");
    return false;
  }
  const fs::path path = version_dir / std::string(kReleaseDocumentName);
  if (!WriteReplacing(path, text, error)) {
    problems.push_back(error);
    return false;
  }
  summary = {"signed " + std::to_string(entries.size()) + " files: serial " +
                 std::to_string(document.serial) + ", expires " + FormatUtcTime(document.expires) +
                 ", product " + document.product + ", channel " + document.channel + ", key " +
                 FormatPublicKeyText(key),
             "release document: " + Utf8Path(path)};
  if (chunks) summary.push_back("chunk index: " + HexEncode(Sha256Of(chunks->bytes)) + " signed as " +
                                std::string(kChunkIndexSignedPath));
  return true;
}

std::vector<std::string> CheckPublication(const fs::path& version_dir,
                                          std::span<const EcdsaPublicKey> keys,
                                          std::string_view product, std::string_view channel,
                                          std::int64_t now, std::string& summary) {
  std::vector<std::string> problems;
  std::string crclist, error, document_bytes;
  std::vector<CrcListEntry> entries;
  if (!ReadCrcList(version_dir, crclist, entries, error)) return {"crclist: " + error};
  const fs::path document_path = version_dir / std::string(kReleaseDocumentName);
  if (!ReadWholeFile(Utf8Path(document_path), document_bytes, error)) {
    return {std::string(kReleaseDocumentName) + ": " + error};
  }
  ReleaseDocument document;
  std::string reason;
  const ReleaseVerdict verdict =
      VerifyReleaseDocument(document_bytes, keys, product, channel, now, crclist, 0, &document, &reason);
  if (verdict == ReleaseVerdict::kMalformed) {
    return {std::string(kReleaseDocumentName) + ": " + std::string(ReleaseVerdictText(verdict)) + ": " + reason};
  }
  if (verdict == ReleaseVerdict::kBadSignature) {
    return {std::string(kReleaseDocumentName) + ": " + std::string(ReleaseVerdictText(verdict))};
  }
  if (verdict == ReleaseVerdict::kWrongChannel) {
    return {std::string(kReleaseDocumentName) + ": " + std::string(ReleaseVerdictText(verdict)) +
            ": product " + document.product + ", channel " + document.channel};
  }
  const size_t game_files = document.files.size() - document.files.count(std::string(kChunkIndexSignedPath));
  summary = "serial " + std::to_string(document.serial) + ", " + std::to_string(game_files) +
            " files" + (game_files < document.files.size() ? " and chunks" : "") + ", expires " + FormatUtcTime(document.expires);
  if (verdict != ReleaseVerdict::kOk) {
    problems.push_back(std::string(kReleaseDocumentName) + ": " + std::string(ReleaseVerdictText(verdict)));
  }
  const std::optional<PublishedIndex> chunks = CheckSignedIndex(version_dir, crclist, document, problems);
  std::set<std::string> listed = {std::string(kChunkIndexSignedPath)};
  for (const CrcListEntry& entry : entries) {
    listed.insert(entry.path);
    const auto signed_file = document.files.find(entry.path);
    if (signed_file == document.files.end()) {
      problems.push_back(entry.path + ": not in the signed release");
      continue;
    }
    for (const Route& route : DecodeRoutes(version_dir, entry, chunks ? &*chunks : nullptr)) {
      const std::string prefix = entry.path + ": " + std::string(route.from);
      if (!route.bytes) {
        problems.push_back(prefix + route.problem);
      } else if (static_cast<std::int64_t>(route.bytes->size()) != signed_file->second.size) {
        problems.push_back(prefix + std::to_string(route.bytes->size()) +
                           " bytes decoded, the signed size is " + std::to_string(signed_file->second.size));
      } else if (HashBytes(*route.bytes) != signed_file->second.sha256) {
        problems.push_back(prefix + "decoded contents differ from the signed SHA-256");
      }
    }
  }
  for (const auto& [path, file] : document.files) {
    if (!listed.count(path)) problems.push_back(path + ": signed but not in the crclist");
  }
  return problems;
}

}  // namespace emberfall::cli

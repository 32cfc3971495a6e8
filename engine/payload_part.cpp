#include "engine/payload_part.h"

#include <algorithm>
#include <optional>

#include "core/crc32.h"
#include "core/file_apply.h"
#include "core/file_state.h"
#include "core/payload.h"
#include "core/text.h"

namespace emberfall {
namespace {

// A download in progress keeps what it has on disk once this much arrived,
// and again each time what arrived doubled: a killed process loses at most
// half of a large payload, and the rewriting costs at most twice its size.
constexpr std::int64_t kFirstPartSave = 1048576;

// A server that cannot give the rest of a payload: the download starts over.
bool RangeRefused(const std::u16string& error) {
  return error.starts_with(u"range not honoured") || error.starts_with(u"range mismatch") ||
         error == u"HTTP 416";
}

// A key is a few short lines; anything longer is not one of ours.
constexpr std::uint64_t kMaxKeyBytes = 8192;

// The key's text up to the announced length, which follows on its own line.
std::string IdentityText(const PayloadIdentity& identity) {
  return "emb-part 1\n" + WideToUtf8(identity.url) + "\n" + FormatCrcHex(identity.crc) + "\n" +
         std::to_string(identity.size) + "\n";
}

// All of |name| in |folder| when it is a regular file (no link followed) of
// at most |max| bytes.
std::optional<std::vector<std::uint8_t>> ReadWhole(const HeldFolder& folder,
                                                   std::u16string_view name, std::uint64_t max) {
  const FileHandle file = OpenForSequentialReadAt(folder, name);
  const std::optional<FileState> state = QueryFileState(file);
  if (!state || state->size > max) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<size_t>(state->size));
  size_t filled = 0;
  while (filled < bytes.size()) {
    size_t got = 0;
    if (!ReadChunk(file, bytes.data() + filled, bytes.size() - filled, got) || got == 0) {
      return std::nullopt;
    }
    filled += got;
  }
  return bytes;
}

// The announced length a key of |identity| records; nullopt when |key| is
// for another payload or malformed.
std::optional<std::int64_t> KeyTotal(const std::vector<std::uint8_t>& key,
                                     const PayloadIdentity& identity) {
  const std::string_view text(reinterpret_cast<const char*>(key.data()), key.size());
  const std::string expected = IdentityText(identity);
  if (!text.starts_with(expected) || !text.ends_with('\n')) return std::nullopt;
  const std::string_view digits = text.substr(expected.size(), text.size() - expected.size() - 1);
  const auto total = ParseUnsignedDecimal(digits, static_cast<std::uint64_t>(INT64_MAX));
  if (!total) return std::nullopt;
  return static_cast<std::int64_t>(*total);
}

void RemoveBoth(const HeldFolder& folder, const std::u16string& name) {
  // The key first: a part without its key is never resumed.
  RemoveFileAt(folder, name + std::u16string(kPartKeySuffix));
  RemoveFileAt(folder, name + std::u16string(kPartSuffix));
}

}  // namespace

std::int64_t PayloadLimit(std::int64_t size) {
  const std::int64_t bounded = std::clamp<std::int64_t>(size, 0, kMaxDecodedSize);
  return bounded + bounded / 16 + 87;
}

PayloadPart::PayloadPart(const GameFolder& root, std::u16string target, PayloadIdentity identity,
                         std::int64_t limit)
    : root_(root), target_(std::move(target)), identity_(std::move(identity)), limit_(limit) {}

std::vector<std::uint8_t> PayloadPart::Load(std::int64_t& total) const {
  total = -1;
  try {
    const FolderLookup lookup = root_.OpenParent(target_, false);
    if (lookup.status != FolderLookup::Status::kFound) return {};
    const std::optional<std::vector<std::uint8_t>> key =
        ReadWhole(lookup.folder, lookup.name + std::u16string(kPartKeySuffix), kMaxKeyBytes);
    const std::optional<std::int64_t> announced = key ? KeyTotal(*key, identity_) : std::nullopt;
    if (announced && *announced > 1 && *announced <= limit_) {
      // Bounded by the announced length: a part as long as the payload
      // would be no download at all, one longer is not this payload's.
      std::optional<std::vector<std::uint8_t>> bytes = ReadWhole(
          lookup.folder, lookup.name + std::u16string(kPartSuffix),
          static_cast<std::uint64_t>(*announced - 1));
      if (bytes && !bytes->empty()) {
        total = *announced;
        return std::move(*bytes);
      }
    }
    RemoveBoth(lookup.folder, lookup.name);
  } catch (const std::exception&) {
    // Out of memory: no part, the download starts over.
  }
  return {};
}

void PayloadPart::Save(const std::vector<std::uint8_t>& bytes, std::int64_t total) const {
  try {
    const bool keep = !bytes.empty() && total > 0 && total <= limit_ &&
                      static_cast<std::uint64_t>(total) > bytes.size();
    const FolderLookup lookup = root_.OpenParent(target_, keep);
    if (lookup.status != FolderLookup::Status::kFound) return;
    RemoveBoth(lookup.folder, lookup.name);
    if (!keep) return;
    const std::string key = IdentityText(identity_) + std::to_string(total) + "\n";
    const bool written =
        WriteExclusiveFileAt(lookup.folder, lookup.name + std::u16string(kPartSuffix), bytes.data(),
                             bytes.size()) == 0 &&
        WriteExclusiveFileAt(lookup.folder, lookup.name + std::u16string(kPartKeySuffix),
                             reinterpret_cast<const std::uint8_t*>(key.data()), key.size()) == 0;
    if (!written) RemoveBoth(lookup.folder, lookup.name);
  } catch (const std::exception&) {
    // Out of memory: nothing kept.
  }
}

void PayloadPart::Remove() const { Save({}, -1); }

void RemoveForeignPart(const HeldFolder& folder, std::u16string_view name,
                       const PayloadIdentity& identity) {
  const std::u16string base(name);
  const std::optional<std::vector<std::uint8_t>> key =
      ReadWhole(folder, base + std::u16string(kPartKeySuffix), kMaxKeyBytes);
  if (key && KeyTotal(*key, identity)) return;
  RemoveBoth(folder, base);
}

bool TransferPayload(HttpSession& http, const std::u16string& url, const PayloadPart& part,
                     const RequestOptions& options, const ProgressFn& progress,
                     const std::function<bool()>& stopped, std::vector<std::uint8_t>& payload,
                     std::int64_t& resumed) {
  const auto keep = [&](std::int64_t total) {
    if (!stopped()) part.Save(payload, total);
  };
  std::int64_t total = -1;
  payload = part.Load(total);
  resumed = 0;
  if (!payload.empty()) {
    const auto offset = static_cast<std::int64_t>(payload.size());
    std::vector<std::uint8_t> rest;
    std::int64_t rangeTotal = -1;
    const bool ok = http.GetRange(
        url, static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(total - offset), rest,
        [&](std::int64_t received, std::int64_t) {
          if (progress) progress(received, total - offset);
        },
        &rangeTotal, options);
    // Another length now means another payload under the same name.
    const bool changed = ok && rangeTotal != -1 && rangeTotal != total;
    if (!changed && (ok || !RangeRefused(http.last_error()))) {
      payload.insert(payload.end(), rest.begin(), rest.end());
      resumed = offset;
      if (!ok) keep(total);
      return ok;
    }
    part.Remove();
    payload.clear();
    total = -1;
  }
  std::int64_t nextSave = kFirstPartSave;
  const bool ok = http.Get(
      url, payload,
      [&](std::int64_t received, std::int64_t announced) {
        total = announced;
        if (progress) progress(received, announced);
        if (received >= nextSave && !stopped()) {
          part.Save(payload, announced);
          nextSave = received * 2;
        }
      },
      options);
  if (!ok) keep(total);
  return ok;
}

}  // namespace emberfall

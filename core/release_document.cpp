#include "core/release_document.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <limits>

#include "core/text.h"

namespace emberfall {
namespace {

constexpr std::string_view kProductTag = "product ";
constexpr std::string_view kChannelTag = "channel ";
constexpr std::string_view kSerialTag = "serial ";
constexpr std::string_view kExpiresTag = "expires ";
constexpr std::string_view kCrcListTag = "crclist ";
constexpr std::string_view kFileTag = "file ";
constexpr std::string_view kSignatureTag = "sig ";

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's
// days_from_civil), so no time zone or C library clock is involved.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// A fixed-width run of decimal digits, zero-padded.
bool FixedDigits(std::string_view text, size_t at, size_t count, unsigned& value) {
  const std::optional<std::uint64_t> digits =
      ParseUnsignedDecimal(text.substr(at, count), UINT_MAX, LeadingZeros::kAllowed);
  if (!digits) return false;
  value = static_cast<unsigned>(*digits);
  return true;
}

// 0 to 2^63-1 in canonical decimal: no sign, no leading zeros.
std::optional<std::int64_t> ParseCanonicalDecimal(std::string_view text) {
  const std::optional<std::uint64_t> value =
      ParseUnsignedDecimal(text, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
  if (!value) return std::nullopt;
  return static_cast<std::int64_t>(*value);
}

bool IsValidPath(std::string_view path) {
  if (path.empty() || path.size() > kReleaseDocumentPathLimit) return false;
  if (path.front() == ' ' || path.back() == ' ') return false;
  return std::none_of(path.begin(), path.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

class Parser {
 public:
  Parser(std::string_view bytes, std::string& reason) : bytes_(bytes), reason_(reason) {}

  std::optional<ParsedReleaseDocument> Run() {
    if (bytes_.empty()) return Fail("empty document");
    if (bytes_.size() > kReleaseDocumentLimit) {
      return Fail("document larger than " + std::to_string(kReleaseDocumentLimit) + " bytes");
    }
    if (bytes_.back() != '\n') return Fail("the last line has no LF");
    ParsedReleaseDocument parsed;
    ReleaseDocument& document = parsed.document;
    std::string_view line;
    if (!Next(line)) return std::nullopt;
    if (line != kReleaseDocumentFormat) return FailLine("not an EMBSIG2 document");
    if (!ParseName(kProductTag, document.product) || !ParseName(kChannelTag, document.channel)) {
      return std::nullopt;
    }

    if (!Next(line)) return std::nullopt;
    const std::optional<std::int64_t> serial = ParseCanonicalDecimal(Field(line, kSerialTag));
    if (!line.starts_with(kSerialTag) || !serial || *serial < 1) {
      return FailLine("expected \"serial N\" with N from 1 to 2^63-1");
    }
    document.serial = static_cast<std::uint64_t>(*serial);

    if (!Next(line)) return std::nullopt;
    const std::optional<std::int64_t> expires = ParseUtcTime(Field(line, kExpiresTag));
    if (!line.starts_with(kExpiresTag) || !expires) {
      return FailLine("expected \"expires YYYY-MM-DDTHH:MM:SSZ\"");
    }
    document.expires = *expires;

    if (!Next(line)) return std::nullopt;
    if (!line.starts_with(kCrcListTag) ||
        !HexDecode(Field(line, kCrcListTag), document.crclist_sha256.data(), 32)) {
      return FailLine("expected \"crclist\" and 64 lower-case hex digits");
    }

    while (true) {
      const size_t line_start = offset_;
      if (!Next(line)) return std::nullopt;
      if (line.starts_with(kSignatureTag)) {
        parsed.signed_length = line_start;
        if (!HexDecode(Field(line, kSignatureTag), parsed.signature.data(), 64)) {
          return FailLine("expected \"sig\" and 128 lower-case hex digits");
        }
        if (offset_ != bytes_.size()) return Fail("line " + std::to_string(line_number_ + 1) + ": text after the signature line");
        return parsed;
      }
      if (!ParseFileLine(line, document)) return std::nullopt;
    }
  }

 private:
  // The next line without its LF; false (with the reason set) at the end.
  bool Next(std::string_view& line) {
    if (offset_ >= bytes_.size()) {
      Fail("no signature line");
      return false;
    }
    const size_t end = bytes_.find('\n', offset_);  // found: the text ends with LF
    line = bytes_.substr(offset_, end - offset_);
    offset_ = end + 1;
    ++line_number_;
    if (line.find('\r') != std::string_view::npos) {
      FailLine("CR in line (CRLF line ends are not accepted)");
      return false;
    }
    return true;
  }

  static std::string_view Field(std::string_view line, std::string_view tag) {
    return line.starts_with(tag) ? line.substr(tag.size()) : std::string_view();
  }

  // The next line as "<tag><name>"; false with the reason set otherwise.
  bool ParseName(std::string_view tag, std::string& name) {
    std::string_view line;
    if (!Next(line)) return false;
    if (!line.starts_with(tag) || !IsValidReleaseName(Field(line, tag))) {
      FailLine("expected \"" + std::string(tag) + "NAME\" with a-z, 0-9, '.', '_', '-'");
      return false;
    }
    name = Field(line, tag);
    return true;
  }

  bool ParseFileLine(std::string_view line, ReleaseDocument& document) {
    if (!line.starts_with(kFileTag)) {
      FailLine("expected a \"file\" or \"sig\" line");
      return false;
    }
    const std::string_view rest = line.substr(kFileTag.size());
    const size_t hash_end = rest.find(' ');
    const size_t size_end = hash_end == std::string_view::npos ? hash_end : rest.find(' ', hash_end + 1);
    if (size_end == std::string_view::npos) {
      FailLine("expected \"file <sha256> <size> <path>\"");
      return false;
    }
    SignedFile file;
    if (!HexDecode(rest.substr(0, hash_end), file.sha256.data(), 32)) {
      FailLine("file hash is not 64 lower-case hex digits");
      return false;
    }
    const std::optional<std::int64_t> size = ParseCanonicalDecimal(rest.substr(hash_end + 1, size_end - hash_end - 1));
    if (!size) {
      FailLine("file size is not a decimal number");
      return false;
    }
    file.size = *size;
    const std::string path(rest.substr(size_end + 1));
    if (!IsValidPath(path)) {
      FailLine("invalid path");
      return false;
    }
    if (!document.files.empty()) {
      const std::string& previous = document.files.rbegin()->first;
      if (path == previous) {
        FailLine("duplicate path " + path);
        return false;
      }
      if (path < previous) {
        FailLine("paths out of order at " + path);
        return false;
      }
    }
    document.files.emplace_hint(document.files.end(), path, file);
    return true;
  }

  std::nullopt_t Fail(std::string reason) {
    reason_ = std::move(reason);
    return std::nullopt;
  }
  std::nullopt_t FailLine(const std::string& what) {
    return Fail("line " + std::to_string(line_number_) + ": " + what);
  }

  std::string_view bytes_;
  std::string& reason_;
  size_t offset_ = 0;
  size_t line_number_ = 0;
};

}  // namespace

std::optional<ParsedReleaseDocument> ParseReleaseDocument(std::string_view bytes,
                                                          std::string& reason) {
  return Parser(bytes, reason).Run();
}

bool IsValidReleaseName(std::string_view name) {
  const auto allowed = [](char c, bool first) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           (!first && (c == '.' || c == '_' || c == '-'));
  };
  if (name.empty() || name.size() > kReleaseNameLimit || !allowed(name[0], true)) return false;
  return std::all_of(name.begin() + 1, name.end(), [&](char c) { return allowed(c, false); });
}

std::string FormatReleaseDocument(const ReleaseDocument& document) {
  std::string text;
  text += kReleaseDocumentFormat;
  text += "\n";
  text += kProductTag;
  text += document.product + "\n";
  text += kChannelTag;
  text += document.channel + "\n";
  text += kSerialTag;
  text += std::to_string(document.serial) + "\n";
  text += kExpiresTag;
  text += FormatUtcTime(document.expires) + "\n";
  text += kCrcListTag;
  text += HexEncode(document.crclist_sha256) + "\n";
  for (const auto& [path, file] : document.files) {
    text += kFileTag;
    text += HexEncode(file.sha256) + " " + std::to_string(file.size) + " " + path + "\n";
  }
  return text;
}

std::string FormatSignatureLine(const EcdsaSignature& signature) {
  return std::string(kSignatureTag) + HexEncode(signature) + "\n";
}

std::string FormatUtcTime(std::int64_t seconds) {
  constexpr std::int64_t kLast = 253402300799;  // 9999-12-31T23:59:59Z
  seconds = std::clamp<std::int64_t>(seconds, 0, kLast);
  const std::int64_t days = seconds / 86400;
  const std::int64_t second_of_day = seconds % 86400;
  // civil_from_days, the inverse of DaysFromCivil.
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const auto day_of_era = static_cast<unsigned>(z - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(year), month,
                day, static_cast<int>(second_of_day / 3600), static_cast<int>(second_of_day / 60 % 60),
                static_cast<int>(second_of_day % 60));
  return text;
}

std::optional<std::int64_t> ParseUtcTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!FixedDigits(text, 0, 4, year) || !FixedDigits(text, 5, 2, month) ||
      !FixedDigits(text, 8, 2, day) || !FixedDigits(text, 11, 2, hour) ||
      !FixedDigits(text, 14, 2, minute) || !FixedDigits(text, 17, 2, second)) {
    return std::nullopt;
  }
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string_view ReleaseVerdictText(ReleaseVerdict verdict) {
  switch (verdict) {
    case ReleaseVerdict::kOk: return "release signature ok";
    case ReleaseVerdict::kMalformed: return "release document missing or malformed";
    case ReleaseVerdict::kBadSignature: return "no trusted key verifies the release signature";
    case ReleaseVerdict::kWrongChannel: return "release is for another product or channel";
    case ReleaseVerdict::kCrcListMismatch: return "crclist does not match the signed release";
    case ReleaseVerdict::kRolledBack: return "release is older than one already accepted";
    case ReleaseVerdict::kExpired: return "release signature expired";
  }
  return "unknown release verdict";
}

ReleaseVerdict VerifyReleaseDocument(std::string_view bytes,
                                     std::span<const EcdsaPublicKey> trusted_keys,
                                     std::string_view product, std::string_view channel,
                                     std::int64_t now, std::string_view crclist,
                                     std::uint64_t min_serial, ReleaseDocument* document,
                                     std::string* reason) {
  std::string parse_reason;
  std::optional<ParsedReleaseDocument> parsed = ParseReleaseDocument(bytes, parse_reason);
  if (!parsed) {
    if (reason != nullptr) *reason = std::move(parse_reason);
    return ReleaseVerdict::kMalformed;
  }
  const std::string_view signed_bytes = bytes.substr(0, parsed->signed_length);
  const bool authentic = std::any_of(trusted_keys.begin(), trusted_keys.end(), [&](const EcdsaPublicKey& key) {
    return VerifyEcdsaP256Sha256(key, signed_bytes, parsed->signature);
  });
  if (!authentic) return ReleaseVerdict::kBadSignature;
  if (document != nullptr) *document = parsed->document;
  const ReleaseDocument& release = parsed->document;
  if (release.product != product || release.channel != channel) return ReleaseVerdict::kWrongChannel;
  if (Sha256Of(crclist) != release.crclist_sha256) return ReleaseVerdict::kCrcListMismatch;
  if (release.serial < min_serial) return ReleaseVerdict::kRolledBack;
  if (now >= release.expires) return ReleaseVerdict::kExpired;
  return ReleaseVerdict::kOk;
}

}  // namespace emberfall

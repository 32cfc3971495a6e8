#include "core/safe_path.h"

#include "core/chunk_index.h"
#include "core/file_apply.h"
#include "core/file_state_cache.h"
#include "core/text.h"
#include "core/verified_hashes.h"

namespace emberfall {
namespace {

constexpr size_t kMaxSafePathUnits = 1024;

bool IsForbiddenPathUnit(char16_t c) {
  return c < 0x20 || c == 0x7F || c == u'"' || c == u'*' || c == u':' || c == u'<' || c == u'>' ||
         c == u'?' || c == u'|';
}

// Windows opens a device for more spellings than the plain names: spaces
// between the name and its extension are dropped ("CON .txt"), and the
// Latin-1 superscript digits count as digits ("COM\u00B9").
bool OpensADevice(std::u16string_view component) {
  std::u16string name(component.substr(0, component.find(u'.')));
  while (!name.empty() && name.back() == u' ') name.pop_back();
  for (char16_t& c : name) {
    if (c == u'\u00B9') c = u'1';
    if (c == u'\u00B2') c = u'2';
    if (c == u'\u00B3') c = u'3';
  }
  return IsReservedDeviceName(name);
}

bool IsDigitUnit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsHexUnit(char16_t c) { return IsDigitUnit(c) || (c >= u'A' && c <= u'F'); }

// A name of the shape Windows gives a long name as its 8.3 alias: a stem of
// at most eight units ending in "~" and a number, and an extension of at
// most three. Fills |head| (the stem before "~") and |extension|.
bool HasShortNameShape(std::u16string_view key, std::u16string_view& head,
                       std::u16string_view& extension) {
  const size_t dot = key.find(u'.');
  const std::u16string_view stem = key.substr(0, dot);
  extension = dot == std::u16string_view::npos ? std::u16string_view() : key.substr(dot + 1);
  if (stem.size() > 8 || extension.size() > 3 || extension.find(u'.') != std::u16string_view::npos) {
    return false;
  }
  const size_t tilde = stem.rfind(u'~');
  if (tilde == std::u16string_view::npos || tilde + 1 == stem.size()) return false;
  for (char16_t c : stem.substr(tilde + 1)) {
    if (!IsDigitUnit(c)) return false;
  }
  head = stem.substr(0, tilde);
  return true;
}

// Whether Windows may have named |owned_key| with an alias of this head and
// extension: the first three units of its last extension, and up to six
// units of the rest without dots or spaces, or (once the numbered aliases of
// a prefix are taken) its first two units and four hex digits of a hash.
// The number after "~" can be anything, so it is not compared.
bool CanAliasOwnedName(std::u16string_view head, std::u16string_view extension,
                       std::u16string_view owned_key) {
  const size_t dot = owned_key.rfind(u'.');
  if (extension != owned_key.substr(dot + 1, 3)) return false;
  std::u16string base;
  for (char16_t c : owned_key.substr(0, dot)) {
    if (c != u'.' && c != u' ' && base.size() < 6) base.push_back(c);
  }
  if (std::u16string_view(base).starts_with(head)) return true;
  if (head.size() != 6 || head.substr(0, 2) != std::u16string_view(base).substr(0, 2)) return false;
  for (char16_t c : head.substr(2)) {
    if (!IsHexUnit(c)) return false;
  }
  return true;
}

// Where launchers before this one kept the release serial; those files stay
// in game folders that such a launcher updated.
constexpr std::u16string_view kLegacyTrustFileName = u"EmbLauncher.trust";
constexpr std::u16string_view kLegacyTrustTempFileName = u"EmbLauncher.trust.tmp";

// Files the launcher keeps in the game folder itself; a published file of
// the same name would overwrite them, or be replaced by them on every run.
// Their 8.3 aliases ("EMBLAU~1.CAC") name the same files on volumes that
// make short names, so those spellings are refused too; any staged file can
// be the alias of a "*.EMB" short name.
bool IsLauncherOwnedName(std::u16string_view component, bool first, bool topLevel) {
  const std::u16string key = PathKey(component);
  std::u16string_view head;
  std::u16string_view extension;
  const bool short_shape = HasShortNameShape(key, head, extension);
  // The store of fetched chunks is a folder: nothing may lie in it either.
  const std::u16string store_key = PathKey(kChunkStoreFolderName);
  if (first && (key == store_key || (short_shape && CanAliasOwnedName(head, extension, store_key)))) {
    return true;
  }
  if (topLevel) {
    for (std::u16string_view owned : {kCacheFileName, kCacheTempFileName, kVerifiedHashesFileName,
                                      kVerifiedHashesTempFileName, kLegacyTrustFileName,
                                      kLegacyTrustTempFileName}) {
      const std::u16string owned_key = PathKey(owned);
      if (key == owned_key) return true;
      if (short_shape && CanAliasOwnedName(head, extension, owned_key)) return true;
    }
  }
  const std::u16string staged_key = PathKey(kStagedSuffix);
  if (short_shape && extension == std::u16string_view(staged_key).substr(1, 3)) return true;
  return key.ends_with(staged_key);
}

bool IsSafeComponent(std::u16string_view component, bool first, bool topLevel) {
  if (component.empty()) return false;
  if (component == u"." || component == u"..") return false;
  if (component.back() == u'.' || component.back() == u' ') return false;
  for (char16_t c : component) {
    if (IsForbiddenPathUnit(c)) return false;
  }
  return !OpensADevice(component) && !IsLauncherOwnedName(component, first, topLevel);
}

}  // namespace

bool IsSafeRelativePath(std::u16string_view path, std::u16string& normalised) {
  normalised.clear();
  std::u16string copy(path);
  for (char16_t& c : copy) {
    if (c == u'/') c = u'\\';
  }
  if (copy.empty() || copy.size() > kMaxSafePathUnits) return false;
  if (copy.front() == u'\\') return false;

  size_t start = 0;
  for (;;) {
    const size_t sep = copy.find(u'\\', start);
    const size_t stop = sep == std::u16string::npos ? copy.size() : sep;
    const bool topLevel = start == 0 && sep == std::u16string::npos;
    if (!IsSafeComponent(std::u16string_view(copy).substr(start, stop - start), start == 0,
                         topLevel)) {
      return false;
    }
    if (sep == std::u16string::npos) break;
    start = sep + 1;
  }
  normalised = std::move(copy);
  return true;
}

bool IsReservedDeviceName(std::u16string_view component) {
  const size_t dot = component.find(u'.');
  std::u16string name(component.substr(0, dot));
  for (char16_t& c : name) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  if (name == u"CON" || name == u"PRN" || name == u"AUX" || name == u"NUL" ||
      name == u"CONIN$" || name == u"CONOUT$") {
    return true;
  }
  return name.size() == 4 && (name.starts_with(u"COM") || name.starts_with(u"LPT")) &&
         name[3] >= u'0' && name[3] <= u'9';
}

}  // namespace emberfall

#include "core/game_folder.h"

#include "core/patch_error.h"
#include "core/text.h"

namespace emberfall {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The components of a relative path, empty ones dropped.
std::vector<std::u16string_view> Components(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

}  // namespace

std::u16string HeldFolder::PathOf(std::u16string_view name) const {
  std::u16string out = path_;
  if (!out.empty() && !IsSeparator(out.back())) out += game_folder_internal::NativeSeparator();
  out += name;
  return out;
}

GameFolder::GameFolder(std::u16string path) : path_(std::move(path)) {
  root_ = game_folder_internal::OpenRootFolder(path_, resolved_, openError_);
}

const std::u16string& GameFolder::resolved_path() const {
  if (resolved_.empty()) resolved_ = game_folder_internal::FinalPath(root_);
  if (resolved_.empty()) resolved_ = path_;
  return resolved_;
}

std::u16string GameFolder::DisplayPath(std::u16string_view relative) const {
  std::u16string out = path_;
  for (std::u16string_view part : Components(relative)) {
    if (!out.empty() && !IsSeparator(out.back())) out += game_folder_internal::NativeSeparator();
    out += part;
  }
  return out;
}

HeldFolder GameFolder::Root() const {
  HeldFolder root;
  root.path_ = resolved_.empty() ? path_ : resolved_;
  root.native_ = root_.get();
  return root;
}

FolderLookup GameFolder::OpenParent(std::u16string_view relative, bool create) const {
  FolderLookup lookup;
  const std::vector<std::u16string_view> parts = Components(relative);
  if (!is_open()) {
    lookup.at = path_;
    lookup.error = openError_;
    return lookup;
  }
  if (parts.empty()) {
    lookup.at = path_;
    lookup.error = std::make_error_code(std::errc::invalid_argument);
    return lookup;
  }
  lookup.folder = Root();
  std::u16string shown = path_;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (!shown.empty() && !IsSeparator(shown.back())) shown += game_folder_internal::NativeSeparator();
    shown += parts[i];
    FileHandle child;
    const FileHandle& parent = lookup.folder.chain_.empty() ? root_ : lookup.folder.chain_.back();
    const FolderLookup::Status status = game_folder_internal::OpenChildFolder(
        parent, lookup.folder.path_, parts[i], create, child, lookup.error);
    if (status != FolderLookup::Status::kFound) {
      lookup.status = status;
      lookup.at = shown;
      lookup.folder = HeldFolder();
      return lookup;
    }
    lookup.folder.path_ = lookup.folder.PathOf(parts[i]);
    lookup.folder.native_ = child.get();
    lookup.folder.chain_.push_back(std::move(child));
  }
  lookup.status = FolderLookup::Status::kFound;
  lookup.name = std::u16string(parts.back());
  return lookup;
}

const FolderLookup& FolderCursor::Find(const GameFolder& root, std::u16string_view relative) {
  size_t cut = relative.size();
  while (cut > 0 && !IsSeparator(relative[cut - 1])) --cut;
  const std::u16string_view folder = relative.substr(0, cut);
  if (held_ && folder == folder_) {
    lookup_.name = std::u16string(relative.substr(cut));
  } else {
    lookup_ = root.OpenParent(relative, /*create=*/false);
    folder_ = std::u16string(folder);
    held_ = true;
  }
  return lookup_;
}

void ThrowLinkInGameFolder(const std::u16string& at) {
  throw PatchFailure(PatchErrorCode::LinkInGameFolder,
                     at + u" | a symbolic link or junction below the game folder; nothing is "
                          u"read, written or deleted through it");
}

std::u16string RelativeBelow(std::u16string_view folder, std::u16string_view path) {
  // Both lexically normalised: "." dropped, ".." taking back a component.
  const auto normalise = [](std::u16string_view text, bool& escapes) {
    std::vector<std::u16string_view> out;
    escapes = false;
    for (std::u16string_view part : Components(text)) {
      if (part == u".") continue;
      if (part == u"..") {
        if (out.empty()) escapes = true;
        else out.pop_back();
        continue;
      }
      out.push_back(part);
    }
    return out;
  };
  bool folderEscapes = false;
  bool pathEscapes = false;
  const auto base = normalise(folder, folderEscapes);
  const auto full = normalise(path, pathEscapes);
  const bool sameRoot = !folder.empty() && !path.empty() && IsSeparator(folder[0]) == IsSeparator(path[0]);
  if (folderEscapes || pathEscapes || !sameRoot || full.size() <= base.size()) return {};
  // Names on the volume are case-insensitive: "C:\Games" holds "c:\games\launcher.exe".
  for (size_t i = 0; i < base.size(); ++i) {
    if (PathKey(base[i]) != PathKey(full[i])) return {};
  }
  std::u16string relative;
  for (size_t i = base.size(); i < full.size(); ++i) {
    if (!relative.empty()) relative += u'\\';
    relative += full[i];
  }
  return relative;
}

}  // namespace emberfall

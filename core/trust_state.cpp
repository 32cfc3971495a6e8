#include "core/trust_state.h"

#include <fstream>
#include <iterator>

#include "core/file_apply.h"
#include "core/fs_path.h"

namespace emberfall {
namespace {

constexpr std::string_view kHeader = "EMBTR1\n";
constexpr std::string_view kSerialPrefix = "serial ";
// Far more than the record needs; a larger file is not one this code wrote.
constexpr std::streamsize kReadLimit = 256;

}  // namespace

std::uint64_t LoadAcceptedSerial(const std::u16string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in.is_open()) return 0;
  std::string bytes(static_cast<size_t>(kReadLimit), '\0');
  in.read(bytes.data(), kReadLimit);
  bytes.resize(static_cast<size_t>(in.gcount()));
  std::string_view text(bytes);
  if (!text.starts_with(kHeader)) return 0;
  text.remove_prefix(kHeader.size());
  if (!text.starts_with(kSerialPrefix)) return 0;
  text.remove_prefix(kSerialPrefix.size());
  std::uint64_t serial = 0;
  size_t digits = 0;
  for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
    const auto digit = static_cast<std::uint64_t>(text[digits] - '0');
    if (serial > (UINT64_MAX - digit) / 10) return 0;
    serial = serial * 10 + digit;
  }
  if (digits == 0 || text.substr(digits) != "\n") return 0;
  return serial;
}

std::string FormatTrustState(std::uint64_t serial) {
  return std::string(kHeader) + std::string(kSerialPrefix) + std::to_string(serial) + "\n";
}

bool SaveAcceptedSerial(const std::u16string& path, std::uint64_t serial) {
  const std::u16string temporary = path + u".tmp";
  // Created afresh, never written through a link planted at the name.
  if (!WriteNewFile(temporary, FormatTrustState(serial))) return false;
  if (MoveFileWithFlags(temporary, path, kMoveReplaceExisting) != 0) {
    RemoveFileIfExists(temporary);
    return false;
  }
  return true;
}

}  // namespace emberfall

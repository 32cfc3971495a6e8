// Local-file commands: the launcher's own CRC-32 over files on disk, and its
// own payload decoder over a downloaded payload.
#include <filesystem>
#include <span>
#include <system_error>

#include "core/crc32.h"
#include "core/file_state.h"
#include "core/fs_path.h"
#include "core/patch_error.h"
#include "core/payload.h"
#include "core/text.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"

namespace emberfall::cli {
namespace {

// Why |path| could not be hashed, in words.
std::string HashFailureReason(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(FsPathFromUtf8(path), error);
  if (error) return error.message();
  if (std::filesystem::is_directory(status)) return "is a directory";
  return "read error";
}

bool HashFile(const std::string& path, std::uint32_t& crc, HashBuffer& buffer) {
  const FileHandle file = OpenForSequentialRead(WidePath(FsPathFromUtf8(path)));
  if (!file.is_valid() || !QueryFileState(file)) return false;
  return Crc32File(file, crc, buffer);
}

}  // namespace

int RunCrc32(const ParsedArgs& parsed) {
  int exit_code = kExitOk;
  HashBuffer buffer;
  for (const std::string& path : parsed.positional()) {
    std::uint32_t crc = 0;
    if (!HashFile(path, crc, buffer)) {
      ErrLine("embpatch crc32: cannot read '" + path + "': " + HashFailureReason(path));
      exit_code = kExitFailure;
      continue;
    }
    OutLine(FormatCrcHex(crc) + "  " + path);
  }
  return exit_code;
}

int RunUnpack(const ParsedArgs& parsed) {
  const std::string size_text = *parsed.Value("--size");
  const std::string out_path = *parsed.Value("-o");
  std::int64_t size = 0;
  if (!ParseCount(size_text, size)) return UsageError("unpack", "invalid --size '" + size_text + "'");

  std::string error;
  std::string payload;
  if (!ReadWholeFile(parsed.positional()[0], payload, error)) {
    ErrLine("embpatch unpack: " + error);
    return kExitFailure;
  }
  std::vector<std::uint8_t> decoded;
  try {
    decoded = DecodePayload(
        std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()), size);
  } catch (const PatchFailure& failure) {
    ErrLine(WideToUtf8(PatchFailureMessage(failure.code(), failure.detail())));
    return kExitFailure;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(decoded.data()), decoded.size());
  if (!WriteWholeFile(out_path, bytes, error)) {
    ErrLine("embpatch unpack: " + error);
    return kExitFailure;
  }
  OutLine("unpacked " + std::to_string(decoded.size()) + " bytes, crc32 " +
          FormatCrcHex(Crc32Buffer(decoded.data(), decoded.size())));
  return kExitOk;
}

}  // namespace emberfall::cli

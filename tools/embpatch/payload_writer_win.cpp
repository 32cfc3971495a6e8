// The Windows build has no LZO1X compressor: liblzo2 is not available for the
// mingw-w64 toolchain, and the launcher itself only ever decodes. Publishing
// is done with the Linux build.
#include "tools/embpatch/payload_writer.h"

namespace emberfall::cli {

std::optional<CompressionLevel> ParseLevel(std::string_view text) {
  if (text == "1") return CompressionLevel::Fast;
  if (text == "999") return CompressionLevel::Best;
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> MakePayload(std::string_view, CompressionLevel, Framing,
                                                     std::string& error) {
  error = "compression is not available in the Windows build of embpatch; publish with the Linux build";
  return std::nullopt;
}

}  // namespace emberfall::cli

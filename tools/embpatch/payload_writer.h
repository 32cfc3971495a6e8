// Making payloads: LZO1X compression (core/lzo1x_compress.h) in the two
// framings the launcher reads.
#ifndef EMBERFALL_TOOLS_EMBPATCH_PAYLOAD_WRITER_H_
#define EMBERFALL_TOOLS_EMBPATCH_PAYLOAD_WRITER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace emberfall::cli {

enum class CompressionLevel { Fast = 1, Best = 999 };
enum class Framing { Mcoz, Bare };

// Compresses |data| (at most 4 GiB - 1 bytes) and frames it. Returns nullopt
// with |error| set if the input is too large for the framing.
std::optional<std::vector<std::uint8_t>> MakePayload(std::string_view data, CompressionLevel level,
                                                     Framing framing, std::string& error);

// Parses "1" or "999".
std::optional<CompressionLevel> ParseLevel(std::string_view text);

}  // namespace emberfall::cli

#endif  // EMBERFALL_TOOLS_EMBPATCH_PAYLOAD_WRITER_H_

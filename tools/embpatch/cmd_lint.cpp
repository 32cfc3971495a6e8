// Lint commands: what the launcher reads from a publication, read by the
// launcher's own parsers, so an operator sees exactly what players will get.
#include <cinttypes>
#include <cstdio>

#include "core/crc_list.h"
#include "core/patch_config.h"
#include "core/patch_error.h"
#include "core/text.h"
#include "core/xml_reader.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"

namespace emberfall::cli {
namespace {

// Reads the FILE operand of a lint command; prints the problem and returns
// an exit code when it cannot.
std::optional<int> ReadInput(std::string_view command, const ParsedArgs& parsed, std::string& bytes) {
  std::string error;
  if (!ReadWholeFile(parsed.positional()[0], bytes, error)) {
    ErrLine("embpatch " + std::string(command) + ": " + error);
    return kExitFailure;
  }
  return std::nullopt;
}

int ReportFailure(const PatchFailure& failure) {
  ErrLine(WideToUtf8(PatchFailureMessage(failure.code(), failure.detail())));
  return kExitFailure;
}

}  // namespace

int RunXmlAttr(const ParsedArgs& parsed) {
  std::string document;
  if (auto exit_code = ReadInput("xml-attr", parsed, document)) return *exit_code;
  OutLine(ReadXmlAttribute(document, parsed.positional()[1], parsed.positional()[2]));
  return kExitOk;
}

int RunParseConfig(const ParsedArgs& parsed) {
  std::string document;
  if (auto exit_code = ReadInput("parse-config", parsed, document)) return *exit_code;
  try {
    PatchConfig config = ParsePatchConfig(document);
    ApplyPatchUrlOverride(config);
    OutLine("run_path=" + WideToUtf8(config.run_path_wide));
    OutLine("crcpatch_url=" + config.crcpatch_url);
    OutLine("crcversion=" + config.crcversion);
    OutLine("base_url=" + WideToUtf8(MakePatchBaseUrl(config)));
  } catch (const PatchFailure& failure) {
    return ReportFailure(failure);
  }
  return kExitOk;
}

int RunParseCrcList(const ParsedArgs& parsed) {
  std::string text;
  if (auto exit_code = ReadInput("parse-crclist", parsed, text)) return *exit_code;
  std::vector<CrcListEntry> entries;
  try {
    entries = ParseCrcList(text);
  } catch (const PatchFailure& failure) {
    return ReportFailure(failure);
  }
  std::string out;
  for (const CrcListEntry& entry : entries) {
    char prefix[96];
    std::snprintf(prefix, sizeof(prefix), "%08" PRIx32 " %" PRId64 " %" PRId64 " %" PRId64 " ",
                  entry.crc, entry.size, entry.packed_size, entry.reserved);
    out += prefix;
    out += TerminalSafe(WideToUtf8(entry.path_wide));
    out += "\n";
  }
  Out(out);
  return kExitOk;
}

}  // namespace emberfall::cli

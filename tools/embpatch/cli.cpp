#include "tools/embpatch/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#include "core/fs_path.h"
#include "core/text.h"

namespace emberfall::cli {
namespace {

constexpr size_t kMaxCountDigits = 18;

void Write(std::FILE* stream, std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

bool IsContinuation(std::string_view text, size_t at, unsigned char low = 0x80,
                    unsigned char high = 0xBF) {
  if (at >= text.size()) return false;
  const auto byte = static_cast<unsigned char>(text[at]);
  return byte >= low && byte <= high;
}

// The length of the valid UTF-8 sequence of two to four bytes at |at|, or 0:
// no overlong forms, surrogates or values above U+10FFFF.
size_t MultiByteSequenceLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead >= 0xC2 && lead <= 0xDF) return IsContinuation(text, at + 1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    return IsContinuation(text, at + 1, low, high) && IsContinuation(text, at + 2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return IsContinuation(text, at + 1, low, high) && IsContinuation(text, at + 2) &&
                   IsContinuation(text, at + 3)
               ? 4
               : 0;
  }
  return 0;
}

void AppendEscape(std::string& out, const char* prefix, unsigned value, const char* suffix) {
  static const char kHex[] = "0123456789ABCDEF";
  out += prefix;
  out.push_back(kHex[(value >> 4) & 15]);
  out.push_back(kHex[value & 15]);
  out += suffix;
}

// Why a path cannot be read, in words: the file system's own reason when it
// has one, else the C library's.
std::string ReadFailureReason(const std::filesystem::path& path, int saved_errno) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec) return ec.message();
  if (std::filesystem::is_directory(status)) return "is a directory";
  if (saved_errno != 0) return std::strerror(saved_errno);
  return "read error";
}

void PrintOverview(std::FILE* stream) { Write(stream, Overview(Commands())); }

const Command* FindCommand(std::string_view name) {
  for (const Command& command : Commands()) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

int UnknownCommand(std::string_view name) {
  ErrLine("embpatch: unknown command '" + std::string(name) + "'");
  PrintOverview(stderr);
  return kExitUsage;
}

}  // namespace

bool ParseCount(std::string_view text, std::int64_t& value) {
  // Eighteen digits cannot overflow 63 bits.
  if (text.size() > kMaxCountDigits) return false;
  const std::optional<std::uint64_t> parsed =
      ParseUnsignedDecimal(text, UINT64_MAX, LeadingZeros::kAllowed);
  if (!parsed) return false;
  value = static_cast<std::int64_t>(*parsed);
  return true;
}

std::string TerminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out.push_back(text[i++]);
      continue;
    }
    const size_t length = byte >= 0x80 ? MultiByteSequenceLength(text, i) : 0;
    if (length == 0) {
      AppendEscape(out, "\\x", byte, "");
      ++i;
    } else if (byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      AppendEscape(out, "\\u{", static_cast<unsigned char>(text[i + 1]), "}");
      i += 2;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

void Out(std::string_view text) { Write(stdout, text); }
void OutLine(std::string_view text) {
  Write(stdout, TerminalSafe(text));
  Write(stdout, "\n");
}
void Err(std::string_view text) { Write(stderr, text); }
void ErrLine(std::string_view text) {
  Write(stderr, TerminalSafe(text));
  Write(stderr, "\n");
}

int UsageError(std::string_view command_name, std::string_view problem) {
  std::string text = "embpatch ";
  text += command_name;
  text += ": ";
  text += problem;
  text += "\nusage: embpatch ";
  text += command_name;
  if (const Command* command = FindCommand(command_name)) {
    text += " ";
    text += Synopsis(*command);
  }
  text += "\nRun 'embpatch ";
  text += command_name;
  text += " --help' for details.\n";
  Err(text);
  return kExitUsage;
}

bool ReadWholeFile(const std::string& utf8_path, std::string& bytes, std::string& error) {
  const std::filesystem::path path = FsPathFromUtf8(utf8_path);
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in || std::filesystem::is_directory(path)) {
    error = "cannot read '" + utf8_path + "': " + ReadFailureReason(path, errno);
    return false;
  }
  // One read of the size the file has; a stream iterator reads a few
  // kilobytes per call, which costs as much as decoding a payload.
  std::error_code size_error;
  const std::uintmax_t expected = std::filesystem::file_size(path, size_error);
  bytes.clear();
  if (!size_error && expected > 0 && expected < bytes.max_size()) {
    bytes.resize(static_cast<size_t>(expected));
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
  }
  // Whatever the file grew by since its size was read.
  if (!in.bad() && !in.eof()) {
    in.clear();
    bytes.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (in.bad()) {
    error = "cannot read '" + utf8_path + "': read error";
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& utf8_path, std::string_view bytes, std::string& error) {
  const std::filesystem::path path = FsPathFromUtf8(utf8_path);
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (out) out.close();
  if (!out) {
    error = "cannot write '" + utf8_path + "': " +
            (errno != 0 ? std::string(std::strerror(errno)) : std::string("write error"));
    return false;
  }
  return true;
}

bool WriteReplacing(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
  std::filesystem::path temporary = path;
  temporary += ".publishing";  // natively: path.string() is the ANSI code page on Windows
  if (!WriteWholeFile(Utf8Path(temporary), bytes, error)) return false;
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    error = "cannot replace '" + Utf8Path(path) + "': " + ec.message();
    std::filesystem::remove(temporary, ec);
    return false;
  }
  return true;
}

int RunEmbpatch(const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  const std::string& name = args[0];
  if (name == "--help" || name == "-h" || (name == "help" && args.size() == 1)) {
    PrintOverview(stdout);
    return kExitOk;
  }
  if (name == "help") {
    const Command* command = FindCommand(args[1]);
    if (command == nullptr) return UnknownCommand(args[1]);
    Write(stdout, CommandHelp(*command));
    return kExitOk;
  }
  const Command* command = FindCommand(name);
  if (command == nullptr) return UnknownCommand(name);
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  for (const std::string& arg : rest) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      Write(stdout, CommandHelp(*command));
      return kExitOk;
    }
  }
  ParsedArgs parsed;
  std::string problem;
  if (!ParseCommandLine(*command, rest, parsed, problem)) return UsageError(name, problem);
  return command->run(parsed);
}

}  // namespace emberfall::cli

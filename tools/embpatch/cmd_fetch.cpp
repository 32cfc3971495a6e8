// fetch: one request through the launcher's own HTTP client, so an operator
// sees exactly what players' launchers get from a patch server.
#include <algorithm>
#include <string>
#include <vector>

#include "core/text.h"
#include "net/http_session.h"
#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"
#include "tools/embpatch/terminal.h"

namespace emberfall::cli {

int RunFetch(const ParsedArgs& parsed) {
  std::string error;
  RequestOptions options;
  options.refresh = parsed.Has("--refresh");
  if (const auto limit = parsed.Value("--max-bytes")) {
    if (!ParseCount(*limit, options.max_bytes)) {
      return UsageError("fetch", "--max-bytes needs a byte count, not '" + *limit + "'");
    }
  }
  const bool head = parsed.Has("--head");
  if (head && parsed.Has("-o")) return UsageError("fetch", "--head prints no body to save");

  HttpSession session;
  const std::u16string url = Utf8ToWide(parsed.positional()[0]);
  if (head) {
    std::int64_t length = -1;
    if (!session.Request(url, u"HEAD", nullptr, nullptr, &length, options)) {
      ErrLine(WideToUtf8(session.last_error()));
      return kExitFailure;
    }
    OutLine(std::to_string(length));
    return kExitOk;
  }

  std::vector<std::uint8_t> body;
  if (!session.Get(url, body, nullptr, options)) {
    ErrLine(WideToUtf8(session.last_error()));
    return kExitFailure;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(body.data()), body.size());
  if (const auto file = parsed.Value("-o")) {
    if (!WriteWholeFile(*file, bytes, error)) {
      ErrLine("embpatch fetch: " + error);
      return kExitFailure;
    }
    return kExitOk;
  }
  if (!StdoutIsTerminal()) {
    Out(bytes);
    return kExitOk;
  }
  // A server's bytes would reach the terminal as control sequences; line by
  // line, escaped, the body still reads as text (a crclist, a configuration).
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = std::min(bytes.find('\n', start), bytes.size());
    OutLine(bytes.substr(start, end - start));
    start = end + 1;
  }
  return kExitOk;
}

}  // namespace emberfall::cli

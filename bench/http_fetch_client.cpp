// Fetches every URL listed in a file (one per line) with one HttpSession,
// sequentially over its one connection. Prints "<files> <bytes> <seconds>"
// for the timed pass; exit 1 on the first failure.
//
//   http_fetch_client URL_LIST            a fresh buffer per file, as the
//                                         patch engine downloads payloads
//   http_fetch_client --warm URL_LIST     one buffer for every file, touched
//                                         once by an untimed pass first
//
// The warm form measures the client alone: curl writing to /dev/null never
// pays for first-touching fresh memory, which on some machines costs more
// than the transfer itself. Driven by http_fetch_vs_curl.sh.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/text.h"
#include "net/http_session.h"

namespace {

bool FetchAll(const std::vector<std::u16string>& urls, std::vector<std::uint8_t>* shared,
              std::int64_t& bytes) {
  emberfall::HttpSession session;
  bytes = 0;
  for (const std::u16string& url : urls) {
    std::vector<std::uint8_t> fresh;
    std::vector<std::uint8_t>& body = shared != nullptr ? *shared : fresh;
    if (!session.Get(url, body, nullptr, {})) {
      std::fprintf(stderr, "%s: %s\n", emberfall::WideToUtf8(url).c_str(),
                   emberfall::WideToUtf8(session.last_error()).c_str());
      return false;
    }
    bytes += static_cast<std::int64_t>(body.size());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool warm = argc == 3 && std::strcmp(argv[1], "--warm") == 0;
  if (argc != 2 && !warm) {
    std::fprintf(stderr, "usage: http_fetch_client [--warm] URL_LIST\n");
    return 2;
  }
  std::ifstream list(argv[argc - 1]);
  std::vector<std::u16string> urls;
  for (std::string line; std::getline(list, line);) {
    if (!line.empty()) urls.push_back(emberfall::Utf8ToWide(line));
  }
  std::vector<std::uint8_t> shared;
  std::int64_t bytes = 0;
  if (warm && !FetchAll(urls, &shared, bytes)) return 1;
  const auto start = std::chrono::steady_clock::now();
  if (!FetchAll(urls, warm ? &shared : nullptr, bytes)) return 1;
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("%zu %lld %.4f\n", urls.size(), static_cast<long long>(bytes), seconds.count());
  return 0;
}

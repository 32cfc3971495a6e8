#include "tests/support/test_publication.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <utility>

#include "app/localization.h"
#include "core/chunk_index.h"
#include "core/chunker.h"
#include "core/crc32.h"
#include "core/fs_path.h"
#include "core/release_state.h"
#include "core/text.h"
#include "net/http_session.h"
#include "tests/support/test_support.h"

namespace emberfall::test {
namespace {

// |path| percent-encoded as the launcher requests it.
std::string UrlPath(std::string_view path) {
  std::string encoded;
  for (const unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
      encoded.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof(hex), "%%%02X", c);
      encoded += hex;
    }
  }
  return encoded;
}

}  // namespace

std::string StoredPayload(std::string_view data) {
  std::string stream;
  const size_t n = data.size();
  if (n > 0 && n <= 238) {
    // A first byte above 17 opens the stream with that many literals, minus 17.
    stream.push_back(static_cast<char>(n + 17));
  } else if (n > 238) {
    // Opcode 0: 18 literals plus 255 per zero byte plus the last byte's value.
    stream.push_back('\0');
    size_t rest = n - 18;
    for (; rest > 255; rest -= 255) stream.push_back('\0');
    stream.push_back(static_cast<char>(rest));
  }
  stream.append(data);
  stream.append("\x11\x00\x00", 3);
  std::string payload = "MCOZ";
  for (const size_t word : {size_t{0}, stream.size(), n, size_t{0}}) {  // little-endian
    for (int shift = 0; shift < 32; shift += 8) payload.push_back(static_cast<char>(word >> shift));
  }
  return payload + stream;
}

Served BuildPublication(const std::string& crcpatch_url,
                        const std::map<std::string, std::string>& files,
                        const std::string& version) {
  const size_t host = crcpatch_url.find('/', crcpatch_url.find("://") + 3);
  const std::string base = crcpatch_url.substr(host) + "/" + version + "/";
  Served served = {{"/c.xml", "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                              "<torrent_config run_path=\"bin/game.exe\">\n  <foreground_patch "
                              "crcpatch_url=\"" + crcpatch_url + "\" crcversion=\"" + version +
                              "\"/>\n</torrent_config>\n"}};
  std::string list = "# test publication\n";
  for (const auto& [path, contents] : files) {
    const std::string payload = StoredPayload(contents);
    char line[80];
    std::snprintf(line, sizeof(line), "%08x %zu %zu 0 ",
                  Crc32Buffer(contents.data(), contents.size()), contents.size(), payload.size());
    list += line + path + "\n";
    served[UrlPath(base + path + ".lz")] = payload;
  }
  served[base + "crclist"] = list;
  return served;
}

Served ReadFolder(const std::filesystem::path& root) {
  Served served;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    std::string url_path;
    for (const auto& part : item.path().lexically_relative(root)) url_path += "/" + Utf8Path(part);
    served[UrlPath(url_path)] = ReadFileBytes(item.path());
  }
  return served;
}

std::string WithCrc32(std::string prefix, std::uint32_t crc) {
  const auto& table = Crc32LookupTables()[0];
  // Walk the register back from the one |crc| ends with: each step's table
  // entry is the one whose top byte matches, which the next byte then picks.
  std::uint32_t want = ~crc;
  std::uint8_t picks[4];
  for (int k = 3; k >= 0; --k) {
    int i = 0;
    while ((table[i] >> 24) != (want >> 24)) ++i;
    picks[k] = static_cast<std::uint8_t>(i);
    want = (want ^ table[i]) << 8;
  }
  std::uint32_t reg = ~Crc32Buffer(prefix.data(), prefix.size());
  for (std::uint8_t pick : picks) {
    prefix.push_back(static_cast<char>((reg ^ pick) & 0xFF));
    reg = (reg >> 8) ^ table[pick];
  }
  return prefix;
}

std::string TestKeyHex(const std::string& name) {
  const std::string text = ReadFileBytes(TestDataPath("signing/" + name + ".pub"));
  return text.substr(0, text.find_first_of("\r\n"));
}

EngineHarness::EngineHarness(const std::filesystem::path& game,
                             std::vector<std::u16string> config_urls,
                             const std::function<void(PatchEngineOptions&)>& adjust) {
  LauncherPaths paths;
  paths.gameFolder = paths.exeFolder = WidePath(game);
  paths.exePath = WidePath(game / "launcher.exe");
  PatchEngineOptions options;
  options.configUrls = std::move(config_urls);
  options.reportError = [this](const std::u16string& message, const std::u16string& context) {
    std::lock_guard<std::mutex> lock(mutex);
    reports.push_back(WideToUtf8(message) + " || " + WideToUtf8(context));
  };
  options.sleep = [this](std::chrono::milliseconds slice) {
    slept += slice;
    if (hook) hook(nullptr);
  };
  options.sessionFactory = [] {  // no test waits on a silent server for long
    return std::make_unique<HttpSession>(HttpTimeouts{.receive_ms = 5000});
  };
  options.releaseState = [this](const std::u16string&) {
    return MakeFileReleaseState(WidePath(release_state));
  };
  if (adjust) adjust(options);
  engine = std::make_unique<PatchEngine>(
      paths, LoadUiStrings(Language::English),
      [this](const ProgressState& state) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          snapshots.push_back(state);
          if (IsFinal(state.stage)) finished.notify_all();
        }
        if (hook) hook(&state);
      },
      options);
}

ProgressState EngineHarness::RunToEnd() {
  snapshots.clear();
  reports.clear();
  slept = std::chrono::milliseconds(0);
  engine->Start();
  std::unique_lock<std::mutex> lock(mutex);
  EXPECT_TRUE(finished.wait_for(lock, std::chrono::minutes(1), [this] {
    return !snapshots.empty() && IsFinal(snapshots.back().stage);
  })) << "no final snapshot";
  return snapshots.empty() ? ProgressState() : snapshots.back();
}

std::string RandomBytes(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::string ChunkIndexOf(std::string_view crclist, const std::map<std::string, std::string>& files,
                         std::string& pack) {
  ChunkIndex index;
  index.crclist_sha256 = Sha256Of(crclist);
  std::map<Sha256Digest, std::uint32_t> numbers;
  for (const auto& [path, bytes] : files) {
    IndexedFile file{path, bytes.size(), {}};
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (size_t at = 0; const std::uint32_t length : ChunkLengths({data, bytes.size()}, index.params)) {
      const std::string piece = bytes.substr(std::exchange(at, at + length), length);
      const auto [it, added] = numbers.emplace(Sha256Of(piece), index.chunks.size());
      if (added) {
        index.chunks.push_back({it->first, length, length, ChunkMethod::kStored, 0, pack.size()});
        pack += piece;
      }
      file.chunks.push_back(it->second);
    }
    index.files.push_back(std::move(file));
  }
  index.packs = {{Sha256Of(pack), pack.size()}};
  return FormatChunkIndex(index);
}

}  // namespace emberfall::test

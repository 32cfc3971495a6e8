// Publications built without a compressor (stored LZO1X payloads), so both
// builds run the same tests, and an engine that counts its pauses instead of
// sleeping them: retries cost no wall time and their pauses are exact.
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/patch_engine.h"
#include "tests/support/test_support.h"

namespace emberfall::test {

using Served = std::map<std::string, std::string>;  // URL path -> body

// |data| as an MCOZ payload holding one literal run.
std::string StoredPayload(std::string_view data);

// A publication of |files| (path with "/" separators -> contents) below
// |crcpatch_url| + "/<version>/", with its configuration document at /c.xml.
Served BuildPublication(const std::string& crcpatch_url,
                        const std::map<std::string, std::string>& files,
                        const std::string& version = "1");

// Every file below |root| at the URL path a static server maps to it.
Served ReadFolder(const std::filesystem::path& root);

// |prefix| and four bytes more that give the whole the CRC-32 |crc|.
std::string WithCrc32(std::string prefix, std::uint32_t crc);

// The public key testdata/signing/|name|.pub as hex text.
std::string TestKeyHex(const std::string& name);

// |size| bytes of a seeded random stream.
std::string RandomBytes(size_t size, unsigned seed);

// The chunk index of |files| for |crclist|, every chunk stored raw in
// |pack| (appended to), one chunk per distinct SHA-256, in file order.
std::string ChunkIndexOf(std::string_view crclist, const std::map<std::string, std::string>& files,
                         std::string& pack);

// The engine's worker writes the recordings: read them once its run ended.
struct EngineHarness {
  // An engine for the game folder |game| (the launcher is game/launcher.exe)
  // reading its configuration from |config_urls|; |adjust| sets options last.
  EngineHarness(const std::filesystem::path& game, std::vector<std::u16string> config_urls,
                const std::function<void(PatchEngineOptions&)>& adjust = {});

  // Starts a run and waits (at most a minute) for its final snapshot.
  ProgressState RunToEnd();

  // Where signed runs keep the release serial (a file outside the game
  // folder, as embpatch keeps it).
  TempDir state_dir;
  std::filesystem::path release_state = state_dir / "release.trust";
  std::vector<ProgressState> snapshots;
  std::vector<std::string> reports;  // "message || context"
  std::chrono::milliseconds slept{0};
  // Set before a run: called on the worker with every snapshot, and with
  // nullptr at every pause slice.
  std::function<void(const ProgressState*)> hook;
  std::mutex mutex;
  std::condition_variable finished;
  std::unique_ptr<PatchEngine> engine;  // last: its worker ends before the rest goes
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_PUBLICATION_H_

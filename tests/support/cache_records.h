// Helpers of the tests of the files' state and its cache.

#ifndef EMBERFALL_TESTS_SUPPORT_CACHE_RECORDS_H_
#define EMBERFALL_TESTS_SUPPORT_CACHE_RECORDS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/crc32.h"
#include "core/crc_list.h"
#include "core/file_state_cache.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace emberfall::test {

inline CrcListEntry Entry(const std::string& contents, std::u16string path_wide) {
  return {.crc = Crc32Buffer(contents.data(), contents.size()),
          .size = static_cast<std::int64_t>(contents.size()), .path_wide = std::move(path_wide)};
}

// "path crc size time index; " per record in key order (|with| the state).
inline std::string Dump(const std::unordered_map<std::u16string, CacheRecord>& records,
                        bool with = true) {
  std::string out;
  for (const auto& [key, r] : std::map(records.begin(), records.end())) {
    const FileState& s = r.state;
    out += WideToUtf8(r.path) + " " + FormatCrcHex(r.crc) + (with ? " " + std::to_string(s.size) +
           " " + std::to_string(s.lastWriteTime) + " " + std::to_string(s.fileIndex) : "") + "; ";
  }
  return out;
}

// A temporary game folder with an empty cache beside it.
class CacheFolderTest : public testing::Test {
 protected:
  TempDir dir_;
  FileStateCache cache_{dir_.Wide("EmbLauncher.cache"), {}};
};

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_CACHE_RECORDS_H_

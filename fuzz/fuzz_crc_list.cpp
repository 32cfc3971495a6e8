// Whole CRC lists; every entry must carry a safe, normalised path under a
// key no other entry has, and failures must be "Invalid crclist response".
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "core/crc_list.h"
#include "core/patch_config.h"
#include "core/safe_path.h"
#include "core/patch_error.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto entries = emberfall::ParseCrcList(text);
    std::unordered_set<std::u16string> keys;
    for (const emberfall::CrcListEntry& entry : entries) {
      if (entry.size < 0 || entry.path.empty()) std::abort();
      std::u16string normalised;
      if (!emberfall::IsSafeRelativePath(entry.path_wide, normalised)) std::abort();
      if (!keys.insert(emberfall::PathKey(entry.path_wide)).second) std::abort();
      (void)emberfall::EstimateDownloadSize(entry.size, entry.packed_size);
    }
  } catch (const emberfall::PatchFailure& failure) {
    if (failure.code() != emberfall::PatchErrorCode::CrcListInvalid) std::abort();
  }
  return 0;
}

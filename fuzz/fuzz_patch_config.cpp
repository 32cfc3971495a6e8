// Whole configuration documents; a parsed record must satisfy every rule the
// parser promises, and a failure must be one of the three configuration codes.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/patch_config.h"
#include "core/safe_path.h"
#include "core/patch_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  try {
    const emberfall::PatchConfig config = emberfall::ParsePatchConfig(document);
    if (config.crcpatch_url.empty() || config.crcpatch_url.back() != '/') std::abort();
    if (!config.crcpatch_url.starts_with("http://") && !config.crcpatch_url.starts_with("https://")) {
      std::abort();
    }
    std::u16string again;
    if (!emberfall::IsSafeRelativePath(config.run_path_wide, again) || again != config.run_path_wide) {
      std::abort();
    }
    if (config.crcversion.empty()) std::abort();
    const std::u16string base = emberfall::MakePatchBaseUrl(config);
    if (emberfall::MakePatchBaseUrlList(base).empty()) std::abort();
  } catch (const emberfall::PatchFailure& failure) {
    using emberfall::PatchErrorCode;
    const PatchErrorCode code = failure.code();
    if (code != PatchErrorCode::ConfigUnavailable && code != PatchErrorCode::PatchUrlMissing &&
        code != PatchErrorCode::ConfigInvalid) {
      std::abort();
    }
  }
  return 0;
}

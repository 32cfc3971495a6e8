// Release documents ("crclist.sig"): a document the parser accepts must be
// in the one canonical form, so formatting it again gives the same bytes and
// the signature covers exactly the text before the "sig" line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/release_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string reason;
  const auto parsed = emberfall::ParseReleaseDocument(bytes, reason);
  if (!parsed) {
    if (reason.empty()) std::abort();
    if (emberfall::VerifyReleaseDocument(bytes, {}, "", "", 0, "", 0) !=
        emberfall::ReleaseVerdict::kMalformed) {
      std::abort();
    }
    return 0;
  }
  const std::string body = emberfall::FormatReleaseDocument(parsed->document);
  if (parsed->signed_length != body.size() || bytes.substr(0, body.size()) != body) std::abort();
  if (body + emberfall::FormatSignatureLine(parsed->signature) != bytes) std::abort();
  if (parsed->document.serial == 0) std::abort();
  if (!emberfall::IsValidReleaseName(parsed->document.product) ||
      !emberfall::IsValidReleaseName(parsed->document.channel)) {
    std::abort();
  }
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// The compressor on arbitrary input: the first byte picks the level, the rest
// is compressed; the stream must stay within its bound and decode to exactly
// the input.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/lzo1x.h"
#include "core/lzo1x_compress.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto level = data[0] % 2 == 0 ? emberfall::Lzo1xLevel::Fast : emberfall::Lzo1xLevel::Best;
  const std::span<const std::uint8_t> input(data + 1, size - 1);
  const std::vector<std::uint8_t> stream = emberfall::Lzo1xCompress(input, level);
  if (stream.size() > emberfall::Lzo1xCompressBound(input.size())) std::abort();
  std::vector<std::uint8_t> decoded(input.size());
  size_t produced = 0;
  const auto result = emberfall::Lzo1xDecompressSafe(stream.data(), stream.size(), decoded.data(),
                                                     decoded.size(), produced);
  if (result != emberfall::LzoResult::Ok || produced != input.size()) std::abort();
  if (!std::equal(decoded.begin(), decoded.end(), input.begin())) std::abort();
  return 0;
}

#include "tests/oracle/lzo_oracle.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <stdexcept>

namespace emberfall::oracle {

std::vector<std::uint8_t> LzoCompress(std::span<const std::uint8_t> data, LzoLevel level) {
  static const bool initialised = lzo_init() == LZO_E_OK;
  const bool fast = level == LzoLevel::Lzo1x1;
  // The documented worst case of LZO1X output.
  std::vector<std::uint8_t> out(data.size() + data.size() / 16 + 64 + 3);
  std::vector<std::uint8_t> work(fast ? LZO1X_1_MEM_COMPRESS : LZO1X_999_MEM_COMPRESS);
  lzo_uint length = out.size();
  const int result =
      fast ? lzo1x_1_compress(data.data(), data.size(), out.data(), &length, work.data())
           : lzo1x_999_compress(data.data(), data.size(), out.data(), &length, work.data());
  if (!initialised || result != LZO_E_OK) throw std::runtime_error("lzo compression failed");
  out.resize(length);
  return out;
}

bool LzoDecodesTo(std::span<const std::uint8_t> stream, std::span<const std::uint8_t> expected) {
  std::vector<std::uint8_t> out(expected.size());
  lzo_uint length = expected.size();
  const int result = lzo1x_decompress_safe(stream.data(), stream.size(), out.data(), &length, nullptr);
  return result == LZO_E_OK && length == expected.size() &&
         std::equal(expected.begin(), expected.end(), out.begin());
}

const char* LevelName(LzoLevel level) {
  return level == LzoLevel::Lzo1x1 ? "lzo1x_1" : "lzo1x_999";
}

}  // namespace emberfall::oracle

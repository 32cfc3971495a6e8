#include "tests/oracle/lzo_oracle.h"

#include <lzo/lzo1x.h>

#include <stdexcept>

namespace emberfall::oracle {
namespace {

void EnsureInitialised() {
  static const bool initialised = lzo_init() == LZO_E_OK;
  if (!initialised) throw std::runtime_error("lzo_init failed");
}

}  // namespace

std::vector<std::uint8_t> LzoCompress(std::span<const std::uint8_t> data, LzoLevel level) {
  EnsureInitialised();
  // The documented worst case of LZO1X output.
  std::vector<std::uint8_t> out(data.size() + data.size() / 16 + 64 + 3);
  std::vector<std::uint8_t> work(level == LzoLevel::Lzo1x1 ? LZO1X_1_MEM_COMPRESS
                                                           : LZO1X_999_MEM_COMPRESS);
  lzo_uint out_length = out.size();
  const int result =
      level == LzoLevel::Lzo1x1
          ? lzo1x_1_compress(data.data(), data.size(), out.data(), &out_length, work.data())
          : lzo1x_999_compress(data.data(), data.size(), out.data(), &out_length, work.data());
  if (result != LZO_E_OK) throw std::runtime_error("lzo compression failed");
  out.resize(out_length);
  return out;
}

int LzoDecompressSafe(const std::uint8_t* source, size_t source_length, std::uint8_t* destination,
                      size_t capacity, size_t& produced) {
  EnsureInitialised();
  lzo_uint out_length = capacity;
  const int result = lzo1x_decompress_safe(source, source_length, destination, &out_length, nullptr);
  produced = out_length;
  return result;
}

const char* LevelName(LzoLevel level) {
  return level == LzoLevel::Lzo1x1 ? "lzo1x_1" : "lzo1x_999";
}

}  // namespace emberfall::oracle

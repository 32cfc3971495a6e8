// The baseline's decoding half for the whole-run benchmark: every payload a
// CRC list names, read from DIR, decoded with liblzo2's safe decoder and
// written to OUT_DIR (no flush), as a minimal client would.
//
//   lzo_decode_payloads CRCLIST PAYLOAD_DIR OUT_DIR
#include <lzo/lzo1x.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || lzo_init() != LZO_E_OK) return 2;
  std::ifstream list(argv[1]);
  std::string line;
  long long files = 0, bytes = 0;
  std::vector<unsigned char> out;
  while (std::getline(list, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string crc, size, packed, reserved;
    fields >> crc >> size >> packed >> reserved;
    std::string path;
    std::getline(fields >> std::ws, path);
    std::ifstream in(std::filesystem::path(argv[2]) / (path + ".lz"), std::ios::binary);
    const std::string payload((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto* p = reinterpret_cast<const unsigned char*>(payload.data());
    size_t header = 4;
    std::uint32_t expected = Le32(p);
    if (payload.compare(0, 4, "MCOZ") == 0) {
      header = 20;
      expected = Le32(p + 12);
    }
    out.resize(expected);
    lzo_uint produced = expected;
    if (lzo1x_decompress_safe(p + header, payload.size() - header, out.data(), &produced, nullptr) !=
            LZO_E_OK ||
        produced != expected) {
      std::fprintf(stderr, "decode failed: %s\n", path.c_str());
      return 1;
    }
    const std::filesystem::path target = std::filesystem::path(argv[3]) / path;
    std::filesystem::create_directories(target.parent_path());
    std::ofstream(target, std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(produced));
    ++files;
    bytes += static_cast<long long>(produced);
  }
  std::printf("%lld files, %lld bytes decoded\n", files, bytes);
  return 0;
}

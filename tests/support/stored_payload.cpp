#include "tests/support/stored_payload.h"

namespace emberfall::test {
namespace {

void PutLittleEndian32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

}  // namespace

std::string StoredLzoStream(std::string_view data) {
  std::string stream;
  const size_t n = data.size();
  if (n > 0 && n <= 238) {
    // A first byte above 17 opens the stream with that many literals, minus 17.
    stream.push_back(static_cast<char>(n + 17));
  } else if (n > 238) {
    // Opcode 0: 18 literals plus 255 per zero byte plus the last byte's value.
    size_t rest = n - 18;
    stream.push_back('\0');
    while (rest > 255) {
      stream.push_back('\0');
      rest -= 255;
    }
    stream.push_back(static_cast<char>(rest));
  }
  stream.append(data);
  stream.append("\x11\x00\x00", 3);
  return stream;
}

std::string StoredPayload(std::string_view data, bool mcoz) {
  const std::string stream = StoredLzoStream(data);
  std::string payload;
  if (mcoz) {
    payload = "MCOZ";
    PutLittleEndian32(payload, 0);
    PutLittleEndian32(payload, static_cast<std::uint32_t>(stream.size()));
    PutLittleEndian32(payload, static_cast<std::uint32_t>(data.size()));
    PutLittleEndian32(payload, 0);
  } else {
    PutLittleEndian32(payload, static_cast<std::uint32_t>(data.size()));
  }
  return payload + stream;
}

}  // namespace emberfall::test

// Payloads for tests that need no compressor: an LZO1X stream that carries
// the data as one literal run, in either framing. The launcher decodes it
// like any other stream, so engine and end-to-end tests run on both builds.
#ifndef EMBERFALL_TESTS_SUPPORT_STORED_PAYLOAD_H_
#define EMBERFALL_TESTS_SUPPORT_STORED_PAYLOAD_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace emberfall::test {

// The LZO1X stream: one literal run, then the end-of-stream instruction.
std::string StoredLzoStream(std::string_view data);

// A whole payload: the MCOZ container (default) or the bare size prefix.
std::string StoredPayload(std::string_view data, bool mcoz = true);

}  // namespace emberfall::test

#endif  // EMBERFALL_TESTS_SUPPORT_STORED_PAYLOAD_H_

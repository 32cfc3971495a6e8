// A few TCP calls for test servers and clients on 127.0.0.1, the same over
// BSD sockets and Winsock. Every socket returned is non-blocking; waits take
// a time-out in ms.
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_SOCKET_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_SOCKET_H_

#include <cstddef>
#include <cstdint>

namespace emberfall::test::sock {

using Socket = std::intptr_t;
inline constexpr Socket kInvalid = -1;

// Listens on 127.0.0.1 at a free port (written to |port|); kInvalid on failure.
Socket ListenLoopback(std::uint16_t& port);
// Connects to 127.0.0.1:|port| within |timeout_ms|; kInvalid on failure.
Socket ConnectLoopback(std::uint16_t port, int timeout_ms);
Socket Accept(Socket listener);

// 1 when readable (or a connection waits), 0 on time-out, -1 on error.
int WaitReadable(Socket s, int timeout_ms);
int WaitWritable(Socket s, int timeout_ms);
// Bytes received, 0 when the peer closed, -1 on error, -2 when none are there yet.
long Receive(Socket s, char* buffer, std::size_t size);
// Bytes sent, 0 when the send buffer is full, -1 on error.
long SendSome(Socket s, const char* data, std::size_t size);

// Close sends a FIN; CloseWithReset makes the peer see a reset (RST).
void Close(Socket s);
void CloseWithReset(Socket s);

}  // namespace emberfall::test::sock

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_SOCKET_H_

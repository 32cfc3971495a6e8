// A few TCP socket calls for test servers and clients on 127.0.0.1, the same
// on Linux (BSD sockets) and Windows (Winsock). Sockets returned by Accept
// and ConnectLoopback are non-blocking; waits take a time-out in ms.
#ifndef EMBERFALL_TESTS_SUPPORT_TEST_SOCKET_H_
#define EMBERFALL_TESTS_SUPPORT_TEST_SOCKET_H_

#include <cstddef>
#include <cstdint>

namespace emberfall::test::sock {

using Socket = std::intptr_t;
inline constexpr Socket kInvalid = -1;

// Starts the socket library once per process; false if it cannot.
bool Init();

// A listening socket on 127.0.0.1 and a free port (written to |port|), or
// kInvalid.
Socket ListenLoopback(std::uint16_t& port);

// Connects to 127.0.0.1:|port| within |timeout_ms|; kInvalid on failure.
Socket ConnectLoopback(std::uint16_t port, int timeout_ms);

// 1 when readable (or a connection waits to be accepted), 0 on time-out,
// -1 on error.
int WaitReadable(Socket s, int timeout_ms);
int WaitWritable(Socket s, int timeout_ms);

Socket Accept(Socket listener);

// Bytes received, 0 when the peer closed, -1 on error, -2 when nothing is
// there yet.
long Receive(Socket s, char* buffer, std::size_t size);

// Bytes sent, 0 when the socket buffer is full, -1 on error.
long SendSome(Socket s, const char* data, std::size_t size);

// Graceful close (FIN).
void Close(Socket s);
// Abortive close: the peer sees a connection reset (RST).
void CloseWithReset(Socket s);

}  // namespace emberfall::test::sock

#endif  // EMBERFALL_TESTS_SUPPORT_TEST_SOCKET_H_

// Reading single HTTP/1.x response header lines as a transport receives
// them (status line, "Name: value" lines, the blank line ending the block).
#ifndef EMBERFALL_NET_HTTP_HEADER_LINE_H_
#define EMBERFALL_NET_HTTP_HEADER_LINE_H_

#include <string_view>

namespace emberfall {

// The status code of a line "HTTP/<version> <3 digits>[ reason]", or -1 when
// |line| is not such a line.
int ParseStatusLine(std::string_view line);

// True when |line| is a header named |name| (ASCII case-insensitive); |value|
// then holds its value without surrounding blanks and line end.
bool MatchHeaderLine(std::string_view line, std::string_view name, std::string_view& value);

// True for the empty line (CRLF or LF) that ends a header block.
bool IsEndOfHeaders(std::string_view line);

}  // namespace emberfall

#endif  // EMBERFALL_NET_HTTP_HEADER_LINE_H_

// Building the URLs of a patch server: joining a base and a relative part,
// and the published (percent-encoded) name of a file.
#ifndef EMBERFALL_NET_URL_H_
#define EMBERFALL_NET_URL_H_

#include <string>

#include "net/http_transport.h"

namespace emberfall {

// |base| + "/" + |relative| with exactly one slash between them: no slash is
// added when |base| ends in one, and one leading slash of |relative| is
// dropped. An empty side gives the other side unchanged.
std::u16string JoinUrl(const std::u16string& base, const std::u16string& relative);

// The published name of a file: the UTF-8 path with "\" turned into "/",
// ".lz" appended, and every byte other than A-Z a-z 0-9 - . _ ~ / written as
// "%XX" (upper-case hexadecimal).
std::u16string EncodeRemotePath(const std::string& utf8Path);

// JoinUrl(base, EncodeRemotePath(path)).
std::u16string MakeFileUrl(const std::u16string& base, const std::string& path);

// Splits an absolute http or https URL the way WinHttpCrackUrl does without
// escaping: a case-insensitive scheme followed by "//", optional user info
// before "@", the host, an optional decimal port of at most 65535 (0 when
// none is written), and the rest from the first "/" on as the object path
// (query included). A bracketed IPv6 host keeps its brackets. False for any
// other scheme, a malformed port, or a URL holding a NUL. The host may come
// back empty; callers reject that.
bool CrackHttpUrl(std::u16string_view url, CrackedUrl& out);

}  // namespace emberfall

#endif  // EMBERFALL_NET_URL_H_

// Under Wine a Windows process can start a Linux program: CreateProcessW on
// its Z: path runs the ELF binary. The process handle cannot be waited for,
// so nginx runs as a daemon and readiness is polled over loopback.
#include "tests/support/nginx_server.h"

#include "core/text.h"
#include "core/win/scoped_handle.h"
#include "core/win/wide.h"
#include "core/win/windows_include.h"

// After windows.h, whose lean form leaves the old winsock.h out.
#include <winsock2.h>

namespace emberfall::test::nginx_platform {
namespace {

struct WinsockScope {
  WinsockScope() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
};

std::wstring DosPath(const std::string& unix_path) {
  std::wstring path = L"Z:";
  for (wchar_t c : win::ToWinString(Utf8ToWide(unix_path))) path.push_back(c == L'/' ? L'\\' : c);
  return path;
}

}  // namespace

std::string UnixPath(const std::filesystem::path& path) {
  using UnixFileName = char*(CDECL*)(const wchar_t*);
  static const auto convert = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
  if (convert == nullptr) return {};
  const std::wstring absolute = std::filesystem::absolute(path).native();
  char* unix_path = convert(absolute.c_str());
  if (unix_path == nullptr) return {};
  std::string out = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return out;
}

bool RunUnixProgram(const std::vector<std::string>& argv) {
  std::wstring command_line;
  for (const std::string& arg : argv) {
    if (!command_line.empty()) command_line += L' ';
    command_line += L'"' + win::ToWinString(Utf8ToWide(arg)) + L'"';
  }
  const std::wstring program = DosPath(argv[0]);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    return false;
  }
  win::ScopedHandle process(info.hProcess);
  win::ScopedHandle thread(info.hThread);
  // Not waitable under Wine; give a short-lived command a moment to act.
  Sleep(200);
  return true;
}

int HttpStatus(int port, const std::string& path) {
  static WinsockScope winsock;
  const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int status = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    DWORD timeout = 2000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    char buffer[64] = {};
    if (::send(fd, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size()) &&
        ::recv(fd, buffer, sizeof(buffer) - 1, 0) >= 12 && std::string(buffer, 5) == "HTTP/") {
      status = std::atoi(buffer + 9);
    }
  }
  closesocket(fd);
  return status;
}

}  // namespace emberfall::test::nginx_platform

// POSIX stand-ins: GetNativeSystemInfo's three numbers from the kernel, and
// the HTTPS POST through libcurl with the same 2-second phases.
#include <curl/curl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "app/error_reporter.h"
#include "core/build_settings.h"
#include "core/patch_config.h"
#include "net/curl_handles_posix.h"

namespace emberfall {
namespace {

// PROCESSOR_ARCHITECTURE_* values of the Windows API.
int WindowsArchitectureCode() {
  utsname name{};
  if (::uname(&name) != 0) return 0xFFFF;
  const std::string machine = name.machine;
  if (machine == "x86_64") return 9;
  if (machine == "aarch64" || machine == "arm64") return 12;
  if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") return 0;
  if (machine.rfind("arm", 0) == 0) return 5;
  return 0xFFFF;
}

// The processor family, which is what Windows reports as the level on x86.
int ProcessorLevel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("cpu family", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) return std::atoi(line.c_str() + colon + 1);
    }
  }
  return 0;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

std::string CpuDescription() {
  const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
  return std::to_string(WindowsArchitectureCode()) + "|" +
         std::to_string(processors > 0 ? processors : 1) + "|" + std::to_string(ProcessorLevel());
}

void PostJson(const std::string& body) {
  if (body.empty()) return;
  const curl::Easy easy(curl_easy_init());
  if (!easy) return;
  CURL* curl = easy.get();
  const std::string host = ErrorReportHost();
  const std::string url = "https://" + host + "/";
  curl::HeaderList headers;
  curl::Append(headers, "Content-Type: application/json");
  curl::Append(headers, ("Host: " + host).c_str());
  curl::Append(headers, "Cache-Control: no-cache");
  curl::Append(headers, "Pragma: no-cache");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "EmbLauncher/2.0");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  // Resolve and connect, then send and receive: 2 s each, as the Windows
  // build sets per phase.
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 4000L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 8000L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &DiscardBody);
  curl_easy_perform(curl);
}

}  // namespace emberfall

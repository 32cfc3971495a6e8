#include "core/text.h"

#include <climits>

#include "core/win/wide.h"
#include "core/win/windows_include.h"

namespace emberfall {
namespace {

// MultiByteToWideChar over an explicit length; "" when the call refuses.
std::u16string MultiByteToWide(UINT code_page, DWORD flags, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(bytes.size());
  const int needed = MultiByteToWideChar(code_page, flags, bytes.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring out(static_cast<size_t>(needed), L'\0');
  const int written = MultiByteToWideChar(code_page, flags, bytes.data(), length, out.data(), needed);
  if (written <= 0) return {};
  out.resize(static_cast<size_t>(written));
  return win::FromWinString(out);
}

}  // namespace

std::u16string Utf8ToWide(std::string_view utf8) {
  const size_t nul = utf8.find('\0');
  if (nul != std::string_view::npos) utf8 = utf8.substr(0, nul);
  return MultiByteToWide(CP_UTF8, 0, utf8);
}

std::u16string Utf8ToWideLenient(std::string_view bytes) {
  if (bytes.empty() || bytes.size() >= (std::uint64_t{1} << 31)) return {};
  std::u16string out = MultiByteToWide(CP_UTF8, MB_ERR_INVALID_CHARS, bytes);
  if (!out.empty()) return out;
  return MultiByteToWide(CP_ACP, 0, bytes);
}

std::string WideToUtf8(std::u16string_view wide) {
  const size_t nul = wide.find(u'\0');
  if (nul != std::u16string_view::npos) wide = wide.substr(0, nul);
  if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX)) return {};
  const std::wstring in = win::ToWinString(wide);
  const int length = static_cast<int>(in.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, in.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_UTF8, 0, in.data(), length, out.data(), needed, nullptr, nullptr);
  if (written <= 0) return {};
  out.resize(static_cast<size_t>(written));
  return out;
}

std::u16string PathKey(std::u16string_view path) {
  std::wstring key = win::ToWinString(path);
  if (!key.empty()) CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return win::FromWinString(key);
}

}  // namespace emberfall

#include "player/DownloadPolicy.h"

#include <array>
#include <cwctype>
#include <string_view>

namespace {

constexpr std::array<std::wstring_view, 34> kRunnableExtensions = {
    L"exe", L"msi", L"msix", L"msixbundle", L"appx", L"appxbundle", L"bat", L"cmd",         L"com",
    L"scr", L"ps1", L"psm1", L"vbs",        L"vbe",  L"js",         L"jse", L"wsf",         L"wsh",
    L"hta", L"lnk", L"url",  L"reg",        L"cpl",  L"jar",        L"pif", L"application", L"msc",
    L"msp", L"dll", L"sys",  L"inf",        L"scf",  L"gadget",     L"chm"};

std::wstring Lower(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  return lower;
}

}  // namespace

bool IsRunnableDownload(const std::wstring& resultFilePath) {
  std::wstring_view name(resultFilePath);
  const size_t separator = name.find_last_of(L"\\/");
  if (separator != std::wstring_view::npos) name.remove_prefix(separator + 1);
  // Windows drops trailing dots and spaces when it creates the file, so
  // "setup.exe. " is saved as "setup.exe".
  const size_t last = name.find_last_not_of(L". ");
  if (last == std::wstring_view::npos) return true;
  name = name.substr(0, last + 1);
  // An alternate data stream ("a.pdf:x.exe") is no usable name either.
  if (name.find(L':') != std::wstring_view::npos) return true;
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return false;
  const std::wstring extension = Lower(name.substr(dot + 1));
  for (const std::wstring_view runnable : kRunnableExtensions) {
    if (extension == runnable) return true;
  }
  return false;
}

bool IsLessonDownload(const std::wstring& uri, const LessonDownload& lesson) {
  if (lesson.contentType == L"pdf" || lesson.contentType == L"pdf_url") return true;
  if (lesson.contentUrl.empty()) return false;
  const auto withoutFragment = [](const std::wstring& address) { return address.substr(0, address.find(L'#')); };
  return withoutFragment(uri) == withoutFragment(lesson.contentUrl);
}

// Test program registered as the handler of web addresses in the bed's
// prefix: instead of opening a browser it appends the address it was given
// to a file, so tests can see what the player asked the shell to open, and
// the name of the program that started it to FILE.parents, so tests can see
// whose rights it was started with.
//   url_recorder FILE ADDRESS
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "common/Handles.h"
#include "common/Text.h"

namespace {

std::wstring ParentName() {
  const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return L"?";
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  DWORD parent = 0;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == ::GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == parent) return ToLowerWide(entry.szExeFile);
  }
  return L"?";
}

bool Append(const std::wstring& path, const std::wstring& text) {
  FILE* file = _wfopen(path.c_str(), L"ab");
  if (file == nullptr) return false;
  const std::string line = WideToUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring file = argv[1];
  if (!Append(file + L".parents", ParentName())) return 1;
  return Append(file, argv[2]) ? 0 : 1;
}

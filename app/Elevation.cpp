#include "app/Elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "common/Handles.h"
#include "common/Seams.h"

bool IsProcessElevated() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = sizeof(elevation);
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
  return elevation.TokenIsElevated != 0;
}

void RestartElevated(const std::wstring& executablePath, const std::wstring& commandLine) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"runas";
  info.lpFile = executablePath.c_str();
  info.lpParameters = commandLine.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (seams::ShellExecuteExSeam(&info)) {
    UniqueHandle started(info.hProcess);  // not waited for; only released
  }
  seams::EndProcess(0);
}

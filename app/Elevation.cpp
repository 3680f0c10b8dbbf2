#include "app/Elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Seams.h"

bool IsProcessElevated() {
  UniqueHandle token;
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))) {
    return false;
  }
  TOKEN_ELEVATION elevation{};
  DWORD size = sizeof(elevation);
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
          ::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size))) {
    return false;
  }
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
  if (MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(seams::ShellExecuteExSeam(&info))) {
    UniqueHandle started(info.hProcess);  // not waited for; only released
  }
  seams::EndProcess(0);
}

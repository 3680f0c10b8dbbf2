#include "app/Paths.h"

#include <windows.h>
#include <shlobj.h>

#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"

namespace {

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  MIRAVELL_RETURN_VALUE_IF_FAILED({}, ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path));
  return path;
}

std::wstring TempPath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, path);
  return std::wstring(path, length <= MAX_PATH ? length : 0);
}

// Whether a file can be created in the folder; the probe deletes itself.
bool CanWriteInto(const std::wstring& folder) {
  std::wstring probe = folder + L"\\";
  try {
    probe += config::Wide(config::Id::ProbeFileName);
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    return false;
  }
  UniqueHandle file(::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  MIRAVELL_LOG_LAST_ERROR_IF(!file.valid());
  return file.valid();
}

}  // namespace

std::wstring GetExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring GetAppDataFolder(bool elevated, const std::wstring& productName) {
  std::wstring folder;
  if (elevated) {
    const std::wstring common = KnownFolder(CSIDL_COMMON_APPDATA);
    if (!common.empty()) folder = common + L"\\" + productName;
  }
  if (folder.empty()) {
    const std::wstring local = KnownFolder(CSIDL_LOCAL_APPDATA);
    if (!local.empty()) folder = local + L"\\" + productName;
  }
  if (folder.empty()) folder = TempPath() + productName;  // the temp path ends with a separator

  // An existing folder is fine.
  MIRAVELL_LOG_LAST_ERROR_IF(!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS);
  if (CanWriteInto(folder)) return folder;

  folder = TempPath() + productName;
  MIRAVELL_LOG_LAST_ERROR_IF(!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS);
  return folder;
}

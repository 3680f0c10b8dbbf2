#include "common/SystemPaths.h"

#include <windows.h>

#include <vector>

#include "common/FailureLog.h"

std::wstring SystemFilePath(const std::wstring& fileName) {
  std::vector<wchar_t> folder(MAX_PATH);
  UINT length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    folder.resize(length + 1);
    length = ::GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  }
  MIRAVELL_RETURN_VALUE_LAST_ERROR_IF(fileName, length == 0 || length >= folder.size());
  return std::wstring(folder.data(), length) + L"\\" + fileName;
}

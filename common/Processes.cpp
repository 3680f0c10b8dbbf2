#include "common/Processes.h"

#include "common/FailureLog.h"
#include "common/Handles.h"

void ForEachProcess(const std::function<void(const PROCESSENTRY32W& process)>& visit) {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  MIRAVELL_RETURN_VALUE_LAST_ERROR_IF(, !snapshot);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    visit(entry);
  }
}

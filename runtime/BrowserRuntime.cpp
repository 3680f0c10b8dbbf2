#include "runtime/BrowserRuntime.h"

#include <shellapi.h>
#include <tlhelp32.h>
#include <urlmon.h>

#include <chrono>
#include <string_view>
#include <vector>

#include "common/Config.h"
#include "common/Handles.h"
#include "common/Seams.h"
#include "runtime/BrowserLoader.h"

namespace runtime {
namespace {

constexpr UINT kQuestionFlags = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND | MB_TOPMOST;
constexpr UINT kInformationFlags = MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST;
constexpr UINT kErrorFlags = MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;
constexpr UINT kWarningFlags = MB_OK | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST;

constexpr std::wstring_view kEngineProcessName = L"msedgewebview2.exe";
constexpr auto kWaitAfterRepair = std::chrono::seconds(2);

bool RuntimePresent() {
  UniqueCoTaskMem<wchar_t> version;
  const HRESULT result = ::GetAvailableCoreWebView2BrowserVersionString(nullptr, version.put());
  return SUCCEEDED(result) && version.get() != nullptr;
}

std::wstring InstallerPath() {
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH) return kInstallerFileName;
  return std::wstring(folder, length) + kInstallerFileName;
}

bool Download(const std::wstring& url, const std::wstring& path) {
  return SUCCEEDED(::URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr));
}

// The installer asks its own questions and may take minutes; we wait as long
// as it runs, since nothing can go on without the engine.
void RunInstaller(const std::wstring& path) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!seams::ShellExecuteExSeam(&info)) return;
  UniqueHandle process(info.hProcess);
  if (process) ::WaitForSingleObject(process.get(), INFINITE);
}

DWORD ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return 0;
  return code;
}

}  // namespace

bool EnsureBrowserRuntimeFrom(const std::wstring& installerUrl) {
  if (RuntimePresent()) return true;
  if (seams::ShowMessageBox(nullptr, kRequiredText, kRequiredTitle, kQuestionFlags) != IDYES) return false;
  seams::ShowMessageBox(nullptr, kInstallingText, kInstallingTitle, kInformationFlags);

  const std::wstring path = InstallerPath();
  if (!Download(installerUrl, path)) {
    seams::ShowMessageBox(nullptr, kDownloadErrorText, kDownloadErrorTitle, kErrorFlags);
    return false;
  }
  RunInstaller(path);
  if (!RuntimePresent()) {
    // The installer stays in the temporary folder for the user to try again.
    seams::ShowMessageBox(nullptr, kInstallationText, kInstallationTitle, kWarningFlags);
    return false;
  }
  ::DeleteFileW(path.c_str());
  return true;
}

bool EnsureBrowserRuntime() { return EnsureBrowserRuntimeFrom(config::Wide(config::Id::RuntimeInstallerUrl)); }

void RepairBrowserRuntimeFrom(HWND window, const std::wstring& userDataFolder, const std::wstring& installerUrl) {
  KillOrphanedWebViewProcesses();

  // The operation takes a list of paths ended by an empty one.
  std::wstring from = userDataFolder;
  from.push_back(L'\0');
  from.push_back(L'\0');
  SHFILEOPSTRUCTW operation{};
  operation.hwnd = window;
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  // A folder that stays is no reason to stop: the next attempt decides.
  static_cast<void>(::SHFileOperationW(&operation));

  seams::ShowMessageBox(window, kRepairingText, kRepairingTitle, kInformationFlags);

  const std::wstring path = InstallerPath();
  if (Download(installerUrl, path)) {
    RunInstaller(path);
    ::DeleteFileW(path.c_str());
  }
  seams::SleepFor(kWaitAfterRepair);
}

void RepairBrowserRuntime(HWND window, const std::wstring& userDataFolder) {
  RepairBrowserRuntimeFrom(window, userDataFolder, config::Wide(config::Id::RepairInstallerUrl));
}

void KillOrphanedWebViewProcesses() {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    const std::wstring_view name(entry.szExeFile);
    if (name.size() < kEngineProcessName.size() || name.find(kEngineProcessName) == std::wstring_view::npos) continue;
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) continue;
    if (ExitCodeOf(process.get()) != STILL_ACTIVE) continue;
    // Engine processes of a running program (ours or another's) stay.
    UniqueHandle parent(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ParentProcessID));
    if (!parent || ExitCodeOf(parent.get()) != STILL_ACTIVE) ::TerminateProcess(process.get(), 0);
  }
}

}  // namespace runtime

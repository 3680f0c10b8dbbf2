#include "runtime/BrowserRuntime.h"

#include <shellapi.h>
#include <urlmon.h>

#include <chrono>
#include <string_view>
#include <vector>

#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Log.h"
#include "common/Processes.h"
#include "common/Seams.h"
#include "runtime/BrowserLoader.h"
#include "runtime/InstallerSignature.h"

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
  return SUCCEEDED(MIRAVELL_LOG_IF_FAILED(::URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, nullptr)));
}

// The installer asks its own questions and may take minutes; we wait as long
// as it runs, since nothing can go on without the engine. It runs elevated,
// as this program does, from a folder other programs of the user can write
// to: it is started only when its signature checks out, and the checked file
// stays locked until it has started. False when it was refused.
bool RunCheckedInstaller(const std::wstring& path, const std::wstring& publisher) {
  InstallerCheck check = CheckInstaller(path, publisher);
  if (check.verdict != InstallerVerdict::Accepted) {
    LogLine("Runtime installer refused: " + DescribeInstallerCheck(check));
    return false;
  }
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = path.c_str();
  info.nShow = SW_SHOWNORMAL;
  const BOOL started = MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(seams::ShellExecuteExSeam(&info));
  // Once its process exists (or cannot), the file is no longer ours to hold.
  check.file.reset();
  if (!started) return true;
  UniqueHandle process(info.hProcess);
  if (process) MIRAVELL_LOG_LAST_ERROR_IF(::WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED);
  return true;
}

DWORD ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::GetExitCodeProcess(process, &code))) return 0;
  return code;
}

}  // namespace

bool EnsureBrowserRuntimeFrom(const std::wstring& installerUrl, const std::wstring& publisher) {
  if (RuntimePresent()) return true;
  if (seams::ShowMessageBox(nullptr, kRequiredText, kRequiredTitle, kQuestionFlags) != IDYES) return false;
  seams::ShowMessageBox(nullptr, kInstallingText, kInstallingTitle, kInformationFlags);

  const std::wstring path = InstallerPath();
  if (!Download(installerUrl, path)) {
    seams::ShowMessageBox(nullptr, kDownloadErrorText, kDownloadErrorTitle, kErrorFlags);
    return false;
  }
  if (!RunCheckedInstaller(path, publisher) || !RuntimePresent()) {
    // The installer stays in the temporary folder for the user to try again.
    seams::ShowMessageBox(nullptr, kInstallationText, kInstallationTitle, kWarningFlags);
    return false;
  }
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::DeleteFileW(path.c_str()));
  return true;
}

bool EnsureBrowserRuntime() {
  return EnsureBrowserRuntimeFrom(config::Wide(config::Id::RuntimeInstallerUrl),
                                  config::Wide(config::Id::RuntimeInstallerPublisher));
}

void RepairBrowserRuntimeFrom(HWND window, const std::wstring& userDataFolder, const std::wstring& installerUrl,
                              const std::wstring& publisher) {
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
  MIRAVELL_LOG_IF_WIN32_ERROR(::SHFileOperationW(&operation));

  seams::ShowMessageBox(window, kRepairingText, kRepairingTitle, kInformationFlags);

  const std::wstring path = InstallerPath();
  // A refused installer is not run; the repair goes on as after a failed
  // download.
  if (Download(installerUrl, path)) {
    static_cast<void>(RunCheckedInstaller(path, publisher));
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::DeleteFileW(path.c_str()));
  }
  seams::SleepFor(kWaitAfterRepair);
}

void RepairBrowserRuntime(HWND window, const std::wstring& userDataFolder) {
  RepairBrowserRuntimeFrom(window, userDataFolder, config::Wide(config::Id::RepairInstallerUrl),
                           config::Wide(config::Id::RuntimeInstallerPublisher));
}

// Unlike the alert's clean-up, which ends our own children, this ends the
// engine's processes that lost their program, whoever started them.
void KillOrphanedWebViewProcesses() {
  ForEachProcess([](const PROCESSENTRY32W& entry) {
    const std::wstring_view name(entry.szExeFile);
    if (name.size() < kEngineProcessName.size() || name.find(kEngineProcessName) == std::wstring_view::npos) return;
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    if (!process) return;
    if (ExitCodeOf(process.get()) != STILL_ACTIVE) return;
    // Engine processes of a running program (ours or another's) stay.
    UniqueHandle parent(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ParentProcessID));
    if (!parent || ExitCodeOf(parent.get()) != STILL_ACTIVE) {
      MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::TerminateProcess(process.get(), 0));
    }
  });
}

}  // namespace runtime

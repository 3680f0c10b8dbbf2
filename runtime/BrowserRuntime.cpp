#include "runtime/BrowserRuntime.h"

#include <shellapi.h>
#include <urlmon.h>
#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <optional>
#include <system_error>
#include <string_view>
#include <vector>

#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Log.h"
#include "common/Processes.h"
#include "common/Seams.h"
#include "common/Text.h"
#include "runtime/BrowserLoader.h"
#include "runtime/InstallerSignature.h"
#include "runtime/CallbackHandler.h"
#include "runtime/ProtectedFolder.h"

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

// The installer is downloaded into a fresh folder of its own, which only
// the system and administrators can change, in the system's temporary
// folder. The user's temporary folder will not do: the user picks it, and
// unelevated code of that user can swap the file or its folder for another
// between the check and the start, or leave DLLs beside it for the elevated
// installer to load. Standard users may create entries in the system's
// temporary folder but not delete or rename those of others, so the fresh
// folder stays ours and empty but for the installer.
std::optional<PrivateFolder> InstallerFolder() {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;
  return CreatePrivateFolder(std::wstring(windows, length) + L"\\Temp");
}

// Removes the folder, and the installer when it is still there, through the
// handle that kept the folder in place.
void RemoveInstallerFolder(PrivateFolder& folder) {
  if (!::DeleteFileW((folder.path + L"\\" + kInstallerFileName).c_str())) {
    MIRAVELL_LOG_LAST_ERROR_IF(::GetLastError() != ERROR_FILE_NOT_FOUND);
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::SetFileInformationByHandle(folder.handle.get(), FileDispositionInfo, &disposition, sizeof(disposition)));
  folder.handle.reset();
}

// What a download and the thread that waits for it share: the waiting
// thread may give up on a download that does not end in time and leave it
// behind.
struct DownloadState {
  DownloadState(const DownloadLimits& downloadLimits, std::chrono::steady_clock::time_point end)
      : limits(downloadLimits), deadline(end) {}
  const DownloadLimits limits;
  const std::chrono::steady_clock::time_point deadline;
  std::atomic<bool> overLimit{false};
  HRESULT result = E_FAIL;
  UniqueHandle done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// Ends the download (E_ABORT from OnProgress) once it brings more than the
// limit, announces more, or goes past its deadline.
class BoundedDownload final : public runtime::ComObject<BoundedDownload, IBindStatusCallback> {
 public:
  explicit BoundedDownload(std::shared_ptr<DownloadState> state) : state_(std::move(state)) {}

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) override {
    if (progress > state_->limits.maxBytes || progressMax > state_->limits.maxBytes ||
        std::chrono::steady_clock::now() > state_->deadline) {
      state_->overLimit = true;
      return E_ABORT;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  std::shared_ptr<DownloadState> state_;
};

// The download runs on a thread of its own, so the wait for it has a
// deadline even when the server sends nothing at all (progress reports stop
// with it). A download still running at the deadline is left to end by
// itself; its file is never checked or run.
bool Download(const std::wstring& url, const std::wstring& path, const DownloadLimits& limits) {
  auto state = std::make_shared<DownloadState>(limits, std::chrono::steady_clock::now() + limits.timeout);
  if (!state->done) return false;
  try {
    std::thread([state, url, path] {
      {
        ComInitScope com(COINIT_APARTMENTTHREADED);
        Microsoft::WRL::ComPtr<IBindStatusCallback> callback;
        callback.Attach(new (std::nothrow) BoundedDownload(state));
        state->result =
            callback ? ::URLDownloadToFileW(nullptr, url.c_str(), path.c_str(), 0, callback.Get()) : E_OUTOFMEMORY;
      }
      ::SetEvent(state->done.get());
    }).detach();
  } catch (const std::system_error&) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    return false;
  }
  // A moment beyond the deadline, for a download that ends right at it. The
  // wait lets COM calls into this apartment through: the download may create
  // objects that live on the program's main thread.
  const auto wait = limits.timeout + std::chrono::seconds(1);
  HANDLE done = state->done.get();
  DWORD signalled = 0;
  if (FAILED(::CoWaitForMultipleHandles(0, static_cast<DWORD>(wait.count()), 1, &done, &signalled))) {
    LogLine("Runtime installer download: no end within " + std::to_string(limits.timeout.count()) + " ms");
    return false;
  }
  if (state->overLimit) {
    LogLine("Runtime installer download: ended, over its limits");
    return false;
  }
  return SUCCEEDED(MIRAVELL_LOG_IF_FAILED(state->result));
}

// Whether the folder holds the installer and nothing else, read through the
// handle that keeps the folder in place.
bool HoldsOnlyTheInstaller(HANDLE folder) {
  alignas(FILE_FULL_DIR_INFO) BYTE buffer[16384];
  FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
  while (::GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer))) {
    kind = FileFullDirectoryInfo;
    for (const BYTE* at = buffer;;) {
      const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
      const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L".." && name != kInstallerFileName) {
        LogLine("Beside the runtime installer: " + WideToUtf8(std::wstring(name)));
        return false;
      }
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
  return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// The installer asks its own questions and may take minutes; we wait as long
// as it runs, since nothing can go on without the engine. It runs elevated,
// as this program does: it is started only when its signature checks out,
// and what starts is the very file that was checked: the check's handle
// keeps anyone from writing, renaming or deleting it until its process
// exists, and the start names the file by the path that handle resolves to,
// in a folder no one else can add to. False when it was refused.
bool RunCheckedInstaller(const PrivateFolder& folder, const ExpectedSigner& signer) {
  const std::wstring path = folder.path + L"\\" + kInstallerFileName;
  InstallerCheck check = CheckInstaller(path, signer);
  if (check.verdict != InstallerVerdict::Accepted) {
    LogLine("Runtime installer refused: " + DescribeInstallerCheck(check));
    return false;
  }
  const auto checkedPath = FinalPath(check.file.get());
  if (!checkedPath) {
    LogLine("Runtime installer refused: its path cannot be resolved");
    return false;
  }
  if (!HoldsOnlyTheInstaller(folder.handle.get())) {
    LogLine("Runtime installer refused: its folder holds more than the installer");
    return false;
  }
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = checkedPath->c_str();
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
  MIRAVELL_RETURN_VALUE_IF_WIN32_BOOL_FALSE(0, ::GetExitCodeProcess(process, &code));
  return code;
}

}  // namespace

bool EnsureBrowserRuntimeFrom(const std::wstring& installerUrl, const ExpectedSigner& signer,
                              const DownloadLimits& limits) {
  if (RuntimePresent()) return true;
  if (seams::ShowMessageBox(nullptr, kRequiredText, kRequiredTitle, kQuestionFlags) != IDYES) return false;
  seams::ShowMessageBox(nullptr, kInstallingText, kInstallingTitle, kInformationFlags);

  auto folder = InstallerFolder();
  if (!folder || !Download(installerUrl, folder->path + L"\\" + kInstallerFileName, limits)) {
    if (folder) RemoveInstallerFolder(*folder);
    seams::ShowMessageBox(nullptr, kDownloadErrorText, kDownloadErrorTitle, kErrorFlags);
    return false;
  }
  if (!RunCheckedInstaller(*folder, signer) || !RuntimePresent()) {
    // The installer stays in its folder for an administrator to try again.
    seams::ShowMessageBox(nullptr, kInstallationText, kInstallationTitle, kWarningFlags);
    return false;
  }
  RemoveInstallerFolder(*folder);
  return true;
}

bool EnsureBrowserRuntime() {
  const std::wstring publisher = config::Wide(config::Id::RuntimeInstallerPublisher);
  const std::wstring root = config::Wide(config::Id::RuntimeInstallerRoot);
  return EnsureBrowserRuntimeFrom(config::Wide(config::Id::RuntimeInstallerUrl), {publisher, root});
}

void RepairBrowserRuntimeFrom(HWND window, const std::wstring& userDataFolder, const std::wstring& installerUrl,
                              const ExpectedSigner& signer, const DownloadLimits& limits) {
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

  // A refused installer is not run; the repair goes on as after a failed
  // download.
  if (auto folder = InstallerFolder()) {
    if (Download(installerUrl, folder->path + L"\\" + kInstallerFileName, limits)) {
      static_cast<void>(RunCheckedInstaller(*folder, signer));
    }
    RemoveInstallerFolder(*folder);
  }
  seams::SleepFor(kWaitAfterRepair);
}

void RepairBrowserRuntime(HWND window, const std::wstring& userDataFolder) {
  const std::wstring publisher = config::Wide(config::Id::RuntimeInstallerPublisher);
  const std::wstring root = config::Wide(config::Id::RuntimeInstallerRoot);
  RepairBrowserRuntimeFrom(window, userDataFolder, config::Wide(config::Id::RepairInstallerUrl), {publisher, root});
}

bool IsEngineProcessName(std::wstring_view exeName) {
  return exeName.size() == kEngineProcessName.size() &&
         ::CompareStringOrdinal(exeName.data(), static_cast<int>(exeName.size()), kEngineProcessName.data(),
                                static_cast<int>(kEngineProcessName.size()), TRUE) == CSTR_EQUAL;
}

// Unlike the alert's clean-up, which ends our own children, this ends the
// engine's processes that lost their program, whoever started them.
void KillOrphanedWebViewProcesses() {
  ForEachProcess([](const PROCESSENTRY32W& entry) {
    if (!IsEngineProcessName(entry.szExeFile)) return;
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

void KillEngineChildren() {
  const DWORD self = ::GetCurrentProcessId();
  ForEachProcess([self](const PROCESSENTRY32W& entry) {
    if (entry.th32ParentProcessID != self || !IsEngineProcessName(entry.szExeFile)) return;
    UniqueHandle process(MIRAVELL_LOG_LAST_ERROR_IF_NULL(::OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)));
    if (process) MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::TerminateProcess(process.get(), 0));
  });
}

}  // namespace runtime

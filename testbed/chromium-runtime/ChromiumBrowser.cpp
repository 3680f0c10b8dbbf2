#include "testbed/chromium-runtime/ChromiumBrowser.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Text.h"

namespace chromium_runtime {
namespace {

// A closed network: nothing fetched in the background, no component, sync or
// metrics traffic, no default apps or extensions, and no desktop keyring
// asked for passwords.
constexpr const char* kClosedNetworkSwitches[] = {
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-default-apps",
    "--disable-extensions",
    "--metrics-recording-only",
    "--password-store=basic",
    "--use-mock-keychain",
};

// Whether Wine's processes run as root (uid 0 in /proc/self/status).
bool UnixUserIsRoot() {
  const std::optional<std::string> status = ReadUnixFile("/proc/self/status");
  if (!status) return false;
  const std::size_t line = status->find("\nUid:");
  if (line == std::string::npos) return false;
  const std::size_t digits = status->find_first_not_of(" \t", line + 5);
  if (digits == std::string::npos) return false;
  int uid = -1;
  std::from_chars(status->data() + digits, status->data() + status->size(), uid);
  return uid == 0;
}

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Left(Clock::time_point deadline) {
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

}  // namespace

std::wstring InstalledBrowserArguments() {
  HMODULE self = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&InstalledBrowserArguments), &self)) {
    return {};
  }
  std::wstring path(MAX_PATH * 2, L'\0');
  path.resize(::GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size())));
  const std::filesystem::path file = std::filesystem::path(path).parent_path() / kArgumentsFileName;
  UniqueHandle handle(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return {};
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(handle.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0) text.append(buffer, read);
  return Utf8ToWide(text);
}

std::vector<std::string> ChromiumArguments(const ChromiumOptions& options, const std::string& unixProfile,
                                           bool asRoot) {
  // Crash reports would go to ~/.config/chromium, outside the profile. (The
  // switch that turns crash reporting off, --disable-crashpad-for-testing,
  // makes Chromium 156's network service die at every start with "FD
  // ownership violation", and no page ever loads.) env execs, so the pid the
  // child said stays the browser's.
  std::vector<std::string> arguments = {"/usr/bin/env", "BREAKPAD_DUMP_LOCATION=" + unixProfile + "/Crash Reports",
                                        options.executable, "--headless=new", "--user-data-dir=" + unixProfile};
  arguments.insert(arguments.end(), std::begin(kClosedNetworkSwitches), std::end(kClosedNetworkSwitches));
  if (asRoot) arguments.emplace_back("--no-sandbox");
  arguments.insert(arguments.end(), options.extraArguments.begin(), options.extraArguments.end());
  arguments.emplace_back("--remote-debugging-pipe");
  return arguments;
}

ChromiumBrowser::ChromiumBrowser(const ChromiumOptions& options) {
  const Clock::time_point deadline = Clock::now() + options.startTimeout;
  const std::wstring executable = WindowsPathOf(options.executable);
  if (executable.empty()) throw StartError(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), "not running under Wine");
  if (::GetFileAttributesW(executable.c_str()) == INVALID_FILE_ATTRIBUTES) {
    throw StartError(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                     options.executable + " is missing (apt-get install chromium)");
  }
  if (options.profileFolder.empty()) throw StartError(E_INVALIDARG, "no profile folder");
  if (!::CreateDirectoryW(options.profileFolder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    throw StartError(HRESULT_FROM_WIN32(::GetLastError()), "cannot make the profile folder");
  }
  const std::string unixProfile = UnixPathOf(options.profileFolder);
  if (unixProfile.empty()) throw StartError(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "the profile has no Unix path");
  std::string unixLog;
  if (!options.logFile.empty()) {
    unixLog = UnixPathOf(options.logFile);
    if (unixLog.empty()) throw StartError(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "the log file has no Unix path");
  }

  UnixChild child = StartUnixChild(ChromiumArguments(options, unixProfile, UnixUserIsRoot()), unixLog, Left(deadline));
  process_ = child.process;
  cdp_ = std::make_unique<CdpClient>(std::move(child.channel));
  CdpReply reply = cdp_->Send("Browser.getVersion", nlohmann::json::object(), {}, Left(deadline));
  if (!reply.ok()) {
    // No destructor runs for a constructor that throws.
    Close(std::chrono::seconds(5));
    throw StartError(reply.status == CdpStatus::kTimedOut ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : E_FAIL,
                     "Chromium did not answer its first command (see its standard error)");
  }
  version_ = std::move(reply.value);
}

ChromiumBrowser::~ChromiumBrowser() {
  try {
    Close();
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
  }
}

ChromiumBrowser::Ending ChromiumBrowser::Close(std::chrono::milliseconds timeout) {
  if (ending_) return *ending_;
  const Clock::time_point deadline = Clock::now() + timeout;
  if (cdp_->Connected()) {
    // Its answer and the closing of the pipe race; either will do.
    (void)cdp_->Send("Browser.close", nlohmann::json::object(), {}, Left(deadline));
    if (!cdp_->WaitForDisconnect(Left(deadline))) {
      failure_log::LogFailure("Browser.close (the pipe stayed open)", ERROR_TIMEOUT, __FILE__, __LINE__);
    }
  }
  cdp_->Disconnect();
  Ending ending = Ending::kClosed;
  if (!WaitUntilGroupGone(process_, Left(deadline))) {
    failure_log::LogFailure("WaitUntilGroupGone(chromium)", ERROR_TIMEOUT, __FILE__, __LINE__);
    KillGroup(process_);
    ending = WaitUntilGroupGone(process_, std::chrono::seconds(5)) ? Ending::kKilled : Ending::kStillRunning;
  }
  ending_ = ending;
  return ending;
}

}  // namespace chromium_runtime

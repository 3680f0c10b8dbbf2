#pragma once
// Debian's Chromium, headless, started from inside Wine with its DevTools
// protocol on a pipe (--remote-debugging-pipe; UnixChild.h says why the pipe
// is a socket). Closing the pipe ends the browser, so a host that dies takes
// its browser with it.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testbed/chromium-runtime/CdpClient.h"
#include "testbed/chromium-runtime/UnixChild.h"

namespace chromium_runtime {

struct ChromiumOptions {
  std::wstring profileFolder;               // Windows path of the user data folder; made when missing
  std::vector<std::string> extraArguments;  // UTF-8, passed after ours
  std::string executable = "/usr/bin/chromium";
  std::wstring logFile;  // Windows path that receives Chromium's standard error; empty: discarded
  std::chrono::milliseconds startTimeout{30000};
};

// The command that starts Chromium, argv[0] first: a closed network, no
// first-run or default-browser questions, nothing written outside the
// profile, the caller's arguments, then the pipe. As root Chromium refuses
// its sandbox, so asRoot turns it off.
std::vector<std::string> ChromiumArguments(const ChromiumOptions& options, const std::string& unixProfile, bool asRoot);

// Where install_scripted_runtime --browser-args leaves its switches: beside
// the runtime DLL, so that what a test bed needs (trust in its test CA, its
// host mapping) belongs to the installed runtime and never to the host.
inline constexpr wchar_t kArgumentsFileName[] = L"browser-arguments.txt";

// The switches left beside the module this code is linked into (the runtime
// DLL), in the host's command-line syntax; empty when there are none.
std::wstring InstalledBrowserArguments();

class ChromiumBrowser {
 public:
  // Starts Chromium and waits for its first answer (Browser.getVersion).
  // Throws StartError when it is missing, Wine is missing, or it does not answer.
  explicit ChromiumBrowser(const ChromiumOptions& options);
  // Close().
  ~ChromiumBrowser();
  ChromiumBrowser(const ChromiumBrowser&) = delete;
  ChromiumBrowser& operator=(const ChromiumBrowser&) = delete;

  [[nodiscard]] CdpClient& cdp() noexcept { return *cdp_; }
  [[nodiscard]] const UnixProcessId& process() const noexcept { return process_; }
  // Browser.getVersion's answer at start ("product": "Chrome/...", ...).
  [[nodiscard]] const nlohmann::json& version() const noexcept { return version_; }

  enum class Ending { kClosed, kKilled, kStillRunning };

  // Browser.close, a wait for the browser to close the pipe, our end closed,
  // a wait until no process of its group runs, and SIGKILL to the group when
  // the timeout passed first. Later calls return the first one's ending.
  Ending Close(std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  UnixProcessId process_;
  std::unique_ptr<CdpClient> cdp_;
  nlohmann::json version_;
  std::optional<Ending> ending_;
};

}  // namespace chromium_runtime

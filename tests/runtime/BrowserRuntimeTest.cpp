// Installing and repairing the engine with the user's answers scripted
// through the seams, and ending orphaned engine processes.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <deque>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <memory>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "common/Seams.h"
#include "common/Text.h"
#include "runtime/BrowserRuntime.h"
#include "runtime/BrowserLoader.h"
#include "tests/runtime/FakeRuntime.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

// A message box as shown; the flows' boxes, byte for byte.
struct Box {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT flags;
  bool operator==(const Box&) const = default;
  friend void PrintTo(const Box& box, std::ostream* out) {
    *out << WideToUtf8(box.caption) << ": " << WideToUtf8(box.text) << std::hex << " 0x" << box.flags;
  }
};
const Box kRequired{nullptr, runtime::kRequiredText, L"Quella \u2014 Component Required", 0x50024u};
const Box kInstalling{nullptr, runtime::kInstallingText, L"Installing...", 0x50040u};
const Box kDownloadError{nullptr, L"Failed to download WebView2 Runtime.\nPlease check your internet connection.",
                         L"Download Error", 0x50010u};
const Box kInstallation{nullptr, L"WebView2 installation may have failed.\nPlease restart the application.",
                        L"Installation", 0x50030u};
const Box kRepairing{nullptr, runtime::kRepairingText, L"Repairing...", 0x50040u};

// The start as asked (its pointers only compared with null) and the file named.
struct InstallerRun {
  SHELLEXECUTEINFOW info;
  std::wstring file;
};

// Where the flows download the installer: fresh folders of their own in the
// system's temporary folder.
std::wstring DownloadParent() {
  wchar_t windows[MAX_PATH] = {};
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp";
}

std::vector<std::filesystem::path> DownloadFolders() {
  std::vector<std::filesystem::path> folders;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(DownloadParent(), error)) {
    if (entry.path().filename().wstring().starts_with(L"MiravellSetup-")) folders.push_back(entry.path());
  }
  return folders;
}

void RemoveDownloadFolders() {
  std::error_code ignored;
  for (const auto& folder : DownloadFolders()) std::filesystem::remove_all(folder, ignored);
}

// A download address that always works: a file URL of a file of the build.
std::wstring FileUrl(std::wstring path) {
  std::replace(path.begin(), path.end(), L'\\', L'/');
  return L"file:///" + path;
}

// The test bootstrapper, signed by the test PKI's publisher.
std::wstring LocalInstallerUrl() { return FileUrl(testing_support::BuildProgram(L"MicrosoftEdgeWebview2Setup.exe")); }

constexpr wchar_t kPublisher[] = L"Miravell Test Publisher";
// codesign-ca.pem's SHA-1 thumbprint, as the local profile names it.
constexpr wchar_t kRoot[] = L"31D27283CB32951D9B9ABAB439CDD36C29515B3E";
const runtime::ExpectedSigner kSigner{kPublisher, kRoot};

// Nothing listens on the discard port of this machine.
constexpr wchar_t kDeadUrl[] = L"http://127.0.0.1:9/WebView2Setup.exe";

// A server on this machine that answers every request with a body of the
// given size, or, with none, accepts the connection and never answers.
class LocalServer {
 public:
  explicit LocalServer(std::optional<size_t> bodySize) : bodySize_(bodySize) {
    WSADATA data{};
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    if (listener_ == INVALID_SOCKET || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 8) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ::ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~LocalServer() {
    ::closesocket(listener_);
    if (thread_.joinable()) thread_.join();
    for (SOCKET held : held_) ::closesocket(held);
    if (started_) ::WSACleanup();
  }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  std::wstring Url() const { return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/WebView2Setup.exe"; }

 private:
  void Serve() {
    for (;;) {
      SOCKET client = ::accept(listener_, nullptr, nullptr);
      if (client == INVALID_SOCKET) return;
      held_.push_back(client);
      if (!bodySize_) continue;
      char request[4096];
      ::recv(client, request, sizeof(request), 0);
      const std::string head =
          "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(*bodySize_) +
          "\r\nConnection: close\r\n\r\n";
      ::send(client, head.data(), static_cast<int>(head.size()), 0);
      const std::string chunk(16384, 'M');
      for (size_t sent = 0; sent < *bodySize_;) {
        const int part = static_cast<int>(std::min(chunk.size(), *bodySize_ - sent));
        if (::send(client, chunk.data(), part, 0) <= 0) break;
        sent += static_cast<size_t>(part);
      }
    }
  }

  std::optional<size_t> bodySize_;
  bool started_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::vector<SOCKET> held_;
  std::thread thread_;
};

class BrowserRuntimeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = std::make_unique<testing_support::ScopedTrustedRoot>(
        testing_support::HostPath(MIRAVELL_CERTS_DIR "/codesign-ca.pem"));
  }
  static void TearDownTestSuite() { root_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(root_->trusted());
    // The flow, not the search: the scratch engine is the user's, which an
    // unelevated process finds (and Wine runs every process elevated).
    runtime::OverrideEngineSources(runtime::EngineSources::Anywhere);
    saved_ = std::make_unique<fake_runtime::SavedRegistration>();
    fake_runtime::Unregister();
    RemoveDownloadFolders();
    seams::Hooks hooks;
    hooks.messageBox = [this](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
      boxes.push_back({owner, text, caption, flags});
      if (answers.empty()) return IDOK;
      const int answer = answers.front();
      answers.pop_front();
      return answer;
    };
    hooks.shellExecuteEx = [this](SHELLEXECUTEINFOW* info) {
      runs.push_back({*info, info->lpFile ? info->lpFile : L""});
      return installer ? installer(info) : FALSE;
    };
    hooks.sleep = [this](std::chrono::milliseconds duration) { sleeps.push_back(duration); };
    scope_ = std::make_unique<seams::ScopedHooks>(std::move(hooks));
  }
  void TearDown() override {
    scope_.reset();
    saved_.reset();
    runtime::OverrideEngineSources(std::nullopt);
    RemoveDownloadFolders();
  }

  // An installer run that "installs" the engine and ends at once, noting
  // whether, as it started, anyone could still have changed what runs: the
  // file (written, deleted, or replaced by another) or its folder (moved
  // away, so that another could take its name), and whether anything but
  // the installer lay beside it.
  static BOOL InstallingRun(SHELLEXECUTEINFOW* info) {
    const std::filesystem::path file(info->lpFile);
    for (const DWORD access : {static_cast<DWORD>(GENERIC_WRITE), static_cast<DWORD>(DELETE)}) {
      UniqueHandle other(::CreateFileW(info->lpFile, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (other) changeableWhileStarting = true;
    }
    const std::wstring swapped = fake_runtime::ScratchFolder() + L"swapped.exe";
    ::CopyFileW(testing_support::BuildProgram(L"installer-variants\\unsigned.exe").c_str(), swapped.c_str(), FALSE);
    if (::MoveFileExW(swapped.c_str(), info->lpFile, MOVEFILE_REPLACE_EXISTING)) changeableWhileStarting = true;
    const std::wstring folder = file.parent_path().wstring();
    if (::MoveFileExW(folder.c_str(), (folder + L"-moved").c_str(), 0)) {
      changeableWhileStarting = true;
      ::MoveFileExW((folder + L"-moved").c_str(), folder.c_str(), 0);
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), error)) {
      if (entry.path().filename() != file.filename()) companionsWhileStarting = true;
    }
    fake_runtime::Register(fake_runtime::InstallFiles());
    info->hProcess = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    return TRUE;
  }

  void ExpectRunOfDownloadedInstaller() {
    ASSERT_EQ(runs.size(), 1u);
    const SHELLEXECUTEINFOW& info = runs[0].info;
    EXPECT_EQ(info.cbSize, 112u);
    EXPECT_EQ(info.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
    EXPECT_EQ(info.lpVerb, nullptr);
    // The file that was checked, by its resolved path, in a fresh folder.
    const std::filesystem::path file(runs[0].file);
    EXPECT_EQ(file.filename(), L"WebView2Installer.exe");
    EXPECT_TRUE(file.parent_path().filename().wstring().starts_with(L"MiravellSetup-")) << WideToUtf8(runs[0].file);
    EXPECT_EQ(::CompareStringOrdinal(file.parent_path().parent_path().c_str(), -1, DownloadParent().c_str(), -1, TRUE),
              CSTR_EQUAL)
        << WideToUtf8(runs[0].file);
    EXPECT_EQ(info.lpParameters, nullptr);
    EXPECT_EQ(info.lpDirectory, nullptr);
    EXPECT_EQ(info.nShow, SW_SHOWNORMAL);
  }

  std::deque<int> answers;
  std::vector<Box> boxes;
  std::vector<InstallerRun> runs;
  std::vector<std::chrono::milliseconds> sleeps;
  BOOL (*installer)(SHELLEXECUTEINFOW*) = nullptr;
  static inline bool changeableWhileStarting = false;
  static inline bool companionsWhileStarting = false;

 private:
  static inline std::unique_ptr<testing_support::ScopedTrustedRoot> root_;
  std::unique_ptr<fake_runtime::SavedRegistration> saved_;
  std::unique_ptr<seams::ScopedHooks> scope_;
};

TEST_F(BrowserRuntimeTest, PresentEngineNeedsNoQuestion) {
  fake_runtime::Register(fake_runtime::InstallFiles());
  EXPECT_TRUE(runtime::EnsureBrowserRuntimeFrom(kDeadUrl, kSigner));
  EXPECT_TRUE(boxes.empty());
}

// Each way an install can end, with the boxes the user sees: a download that
// failed leaves nothing behind, an installer that was refused or did not
// install the engine stays for an administrator to try again, and one that
// did goes with its folder.
TEST_F(BrowserRuntimeTest, EachWayAnInstallEnds) {
  LocalServer oversized(size_t{4} << 20);
  LocalServer stalled(std::nullopt);
  // The signed bootstrapper with one byte changed after signing; the
  // verdicts on the other refused copies are InstallerSignatureTest's.
  const std::wstring tampered = FileUrl(testing_support::BuildProgram(L"installer-variants\\tampered.exe"));
  const std::vector<Box> downloadFailed{kRequired, kInstalling, kDownloadError};
  const std::vector<Box> notInstalled{kRequired, kInstalling, kInstallation};
  constexpr std::uint64_t kMiB = 1 << 20;
  const struct {
    const char* name;
    int answer;
    std::wstring url;
    std::vector<Box> boxes;
    bool ran;               // the installer was started
    size_t kept;            // installers left in their folders
    bool installs = false;  // the installer puts the engine in place
    runtime::DownloadLimits limits = runtime::kInstallerDownloadLimits;
  } cases[] = {
      {"declined", IDNO, kDeadUrl, {kRequired}, false, 0},
      {"nothing listens", IDYES, kDeadUrl, downloadFailed, false, 0},
      {"more bytes than allowed", IDYES, oversized.Url(), downloadFailed, false, 0, false, {kMiB, 30s}},
      {"a server that never answers", IDYES, stalled.Url(), downloadFailed, false, 0, false, {kMiB, 2s}},
      // Last, these: they need a folder only administrators can change.
      {"the engine still missing after the installer", IDYES, LocalInstallerUrl(), notInstalled, true, 1},
      {"a refused installer", IDYES, tampered, notInstalled, false, 1},
      {"installed", IDYES, LocalInstallerUrl(), {kRequired, kInstalling}, true, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if ((c.ran || c.kept > 0) && fake_runtime::BedHasNoAdministrator()) {
      GTEST_SKIP() << fake_runtime::kNoBedAdministrator;
    }
    RemoveDownloadFolders();
    boxes.clear();
    runs.clear();
    answers = {c.answer};
    installer = c.installs ? &InstallingRun : nullptr;
    changeableWhileStarting = false;
    companionsWhileStarting = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runtime::EnsureBrowserRuntimeFrom(c.url, kSigner, c.limits), c.installs);
    EXPECT_LT(std::chrono::steady_clock::now() - start, c.limits.timeout + 3s);
    EXPECT_EQ(boxes, c.boxes);
    if (c.ran) {
      ExpectRunOfDownloadedInstaller();
    } else {
      EXPECT_TRUE(runs.empty());
    }
    EXPECT_FALSE(changeableWhileStarting) << "the checked file and its folder were held until the installer started";
    EXPECT_FALSE(companionsWhileStarting) << "the installer's folder held nothing else";
    EXPECT_EQ(DownloadFolders().size(), c.kept);
    for (const auto& folder : DownloadFolders()) {
      EXPECT_TRUE(std::filesystem::exists(folder / L"WebView2Installer.exe")) << "kept for another try";
    }
  }
}

// Whatever became of the download, the repair goes on to its wait; only a
// downloaded installer that checks out is run, and nothing of it stays.
TEST_F(BrowserRuntimeTest, RepairDeletesTheProfileTellsTheUserReinstallsAndWaits) {
  if (fake_runtime::BedHasNoAdministrator()) GTEST_SKIP() << fake_runtime::kNoBedAdministrator;
  const std::filesystem::path profile = fake_runtime::ScratchFolder() + L"WebView2Data";
  const struct {
    const char* name;
    std::wstring url;
    bool ran;
  } cases[] = {
      {"the installer", LocalInstallerUrl(), true},
      {"a failed download", kDeadUrl, false},
      {"a refused installer", FileUrl(testing_support::BuildProgram(L"installer-variants\\tampered.exe")), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    runs.clear();
    sleeps.clear();
    std::filesystem::create_directories(profile / L"Default");
    std::ofstream(profile / L"Default" / L"Cookies") << "cookie";
    runtime::RepairBrowserRuntimeFrom(nullptr, profile.wstring(), c.url, kSigner);
    EXPECT_FALSE(std::filesystem::exists(profile));
    EXPECT_EQ(boxes, std::vector<Box>{kRepairing});
    if (c.ran) {
      ExpectRunOfDownloadedInstaller();
    } else {
      EXPECT_TRUE(runs.empty());
    }
    EXPECT_TRUE(DownloadFolders().empty());
    EXPECT_EQ(sleeps, std::vector<std::chrono::milliseconds>{2s});
  }
}

// Processes named like the engine, started from a sleeper that stays (parent
// alive) and from one that ends at once (orphan).
class OrphanTest : public ::testing::Test {
 protected:
  static UniqueHandle Start(const std::wstring& commandLine) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return UniqueHandle();
    }
    UniqueHandle thread(process.hThread);
    return UniqueHandle(process.hProcess);
  }

  // The engine-named child of parentId, waiting a little for it to appear.
  static UniqueHandle ChildOf(DWORD parentId) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
      PROCESSENTRY32W entry{};
      entry.dwSize = sizeof(entry);
      for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
           more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parentId && std::wstring(entry.szExeFile) == L"msedgewebview2.exe") {
          return UniqueHandle(
              ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
        }
      }
      ::Sleep(50);
    }
    return UniqueHandle();
  }
};

TEST_F(OrphanTest, EndsOnlyEngineProcessesWhoseParentIsGone) {
  const std::wstring engine = fake_runtime::ScratchFolder() + L"msedgewebview2.exe";
  ASSERT_TRUE(::CopyFileW(testing_support::BuildProgram(L"sleeper.exe").c_str(), engine.c_str(), FALSE));
  const std::wstring sleeper =
      L"\"" + testing_support::BuildProgram(L"sleeper.exe") + L"\" --spawn \"" + engine + L"\"";

  UniqueHandle keptParent = Start(sleeper + L" 60");
  ASSERT_TRUE(keptParent);
  UniqueHandle kept = ChildOf(::GetProcessId(keptParent.get()));
  ASSERT_TRUE(kept);
  auto cleanup = ScopeExit([&] {
    ::TerminateProcess(kept.get(), 0);
    ::TerminateProcess(keptParent.get(), 0);
  });

  UniqueHandle goneParent = Start(sleeper + L" 0");
  ASSERT_TRUE(goneParent);
  UniqueHandle orphan = ChildOf(::GetProcessId(goneParent.get()));
  ASSERT_TRUE(orphan);
  auto cleanupOrphan = ScopeExit([&] { ::TerminateProcess(orphan.get(), 0); });
  ASSERT_EQ(::WaitForSingleObject(goneParent.get(), 10000), WAIT_OBJECT_0);

  runtime::KillOrphanedWebViewProcesses();
  EXPECT_EQ(::WaitForSingleObject(orphan.get(), 10000), WAIT_OBJECT_0);
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(orphan.get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(::WaitForSingleObject(kept.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace

// The browser host's wait for the engine, against the scripted runtime with
// its environment completions held back: a quit message that arrives while
// the host waits ends the start, and the start is then over for good.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/Handles.h"
#include "common/Seams.h"
#include "player/WebViewHost.h"
#include "runtime/BrowserLoader.h"
#include "tests/runtime/FakeRuntime.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

// Long enough that no start can end by its completion before the quit does.
constexpr auto kCompletionDelay = 1500ms;

std::wstring ScratchPath(const wchar_t* name) { return fake_runtime::ScratchFolder() + name; }

int CountInLog(const std::string& call) {
  std::ifstream file(ScratchPath(L"runtime.log").c_str(), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const std::string needle = "\"call\":\"" + call + "\"";
  int count = 0;
  for (size_t at = text.str().find(needle); at != std::string::npos; at = text.str().find(needle, at + 1)) ++count;
  return count;
}

// Dispatches the thread's messages for a while, as the owner's loop would.
void PumpFor(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  for (;;) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left <= 0ms) return;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
  }
}

void CALLBACK QuitFromTimer(HWND window, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(window, id);
  ::PostQuitMessage(0);
}

// The scripted runtime, installed in this process's scratch folder and
// registered for the user for the whole run (its script is read once, at its
// first use); the registration found is put back at the end.
class ScriptedRuntimeInstall : public ::testing::Environment {
 public:
  void SetUp() override {
    // Registered for the user, which an unelevated process finds (and Wine
    // runs every process elevated).
    runtime::OverrideEngineSources(runtime::EngineSources::Anywhere);
    saved_ = std::make_unique<fake_runtime::SavedRegistration>();
    fake_runtime::Unregister();
    const std::wstring version = ScratchPath(L"scripted\\") + fake_runtime::kVersion;
    for (const std::wstring& folder :
         {ScratchPath(L"scripted"), version, version + L"\\EBWebView", version + L"\\EBWebView\\x64"}) {
      ::CreateDirectoryW(folder.c_str(), nullptr);
    }
    ASSERT_TRUE(::CopyFileW(testing_support::BuildProgram(L"EmbeddedBrowserWebView.dll").c_str(),
                            (version + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll").c_str(), FALSE));
    fake_runtime::Register(version);
    fake_runtime::RegisterInstalledVersion(fake_runtime::kVersion);
    std::ofstream(ScratchPath(L"script.json").c_str())
        << "{\"environment_delay_ms\": " << kCompletionDelay.count() << "}";
    ::SetEnvironmentVariableW(L"MIRAVELL_RUNTIME_SCRIPT", ScratchPath(L"script.json").c_str());
    ::SetEnvironmentVariableW(L"MIRAVELL_RUNTIME_LOG", ScratchPath(L"runtime.log").c_str());
  }
  void TearDown() override {
    saved_.reset();
    runtime::OverrideEngineSources(std::nullopt);
  }

 private:
  std::unique_ptr<fake_runtime::SavedRegistration> saved_;
};

[[maybe_unused]] ::testing::Environment* const kInstall =
    ::testing::AddGlobalTestEnvironment(new ScriptedRuntimeInstall);

class HostWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seams::Hooks hooks;
    hooks.messageBox = [this](HWND, const std::wstring&, const std::wstring& caption, UINT) {
      boxes.push_back(caption);
      return IDOK;
    };
    hooks.sleep = [this](std::chrono::milliseconds) { ++sleeps; };
    hooks.shellExecuteEx = [](SHELLEXECUTEINFOW*) { return FALSE; };
    scope_ = std::make_unique<seams::ScopedHooks>(std::move(hooks));
    window.reset(::CreateWindowExW(0, L"STATIC", L"host wait", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                   nullptr, nullptr));
    ASSERT_TRUE(window);
    host = std::make_unique<WebViewHost::WebView>();
    WebViewHost::WebView::Options options;
    options.onInitComplete = [this](bool success) { completions.push_back({success, !initializeReturned}); };
    host->SetOptions(std::move(options));
  }

  void TearDown() override {
    host.reset();
    window.reset();
    scope_.reset();
  }

  // Runs Initialize and returns how long it took.
  std::chrono::milliseconds Start(bool& started) {
    const auto begin = std::chrono::steady_clock::now();
    started = host->Initialize(window.get(), ScratchPath(L"profile"));
    initializeReturned = true;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin);
  }

  struct Completion {
    bool success;
    bool insideInitialize;
  };

  UniqueWindow window;
  std::unique_ptr<WebViewHost::WebView> host;
  std::vector<Completion> completions;
  std::vector<std::wstring> boxes;
  int sleeps = 0;
  bool initializeReturned = false;

 private:
  std::unique_ptr<seams::ScopedHooks> scope_;
};

enum class QuitFrom { WindowProcedure, OtherThread, AlreadyQueued };

class QuitDuringTheWait : public HostWaitTest, public ::testing::WithParamInterface<QuitFrom> {};

// However the quit comes (a window procedure of this thread while the host
// dispatches, another thread, or queued before the start), the wait ends, the
// attempt fails with no code reported (so no repair and no retry), and the
// owner hears false once, from inside Initialize. The start stays given up:
// the engine's answer arriving afterwards neither builds a browser nor tells
// the owner a second time (the owner may be showing its failure box, or be
// gone).
TEST_P(QuitDuringTheWait, EndsTheStartForGood) {
  const int creationsBefore = CountInLog("CreateWebViewEnvironmentWithOptionsInternal");
  std::thread quitter;
  switch (GetParam()) {
    case QuitFrom::WindowProcedure:
      ASSERT_NE(::SetTimer(window.get(), 1, 200, &QuitFromTimer), 0u);
      break;
    case QuitFrom::OtherThread:
      quitter = std::thread([thread = ::GetCurrentThreadId()] {
        std::this_thread::sleep_for(200ms);
        ::PostThreadMessageW(thread, WM_QUIT, 0, 0);
      });
      break;
    case QuitFrom::AlreadyQueued:
      ::PostQuitMessage(0);
      break;
  }
  bool started = true;
  const auto took = Start(started);
  if (quitter.joinable()) quitter.join();
  const int controllersBefore = CountInLog("CreateCoreWebView2Controller");

  EXPECT_FALSE(started);
  EXPECT_LT(took, kCompletionDelay) << "the quit, not the completion, ended the wait";
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_FALSE(completions[0].success);
  EXPECT_TRUE(completions[0].insideInitialize);
  EXPECT_EQ(CountInLog("CreateWebViewEnvironmentWithOptionsInternal") - creationsBefore, 1) << "no second attempt";
  EXPECT_TRUE(boxes.empty()) << "no repair";
  EXPECT_EQ(sleeps, 0);

  // The held-back completion arrives, which also lets the next case start
  // clean.
  PumpFor(kCompletionDelay + 1000ms);
  EXPECT_EQ(completions.size(), 1u);
  EXPECT_EQ(CountInLog("CreateCoreWebView2Controller"), controllersBefore);
  EXPECT_EQ(host->webview(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(HostWaitTest, QuitDuringTheWait,
                         ::testing::Values(QuitFrom::WindowProcedure, QuitFrom::OtherThread, QuitFrom::AlreadyQueued));

}  // namespace

// The parts of the alert that can be checked inside one process: the
// diagnostic window's command line, the countdown's ticks, and which
// processes the alert ends.
#include "alerts/AlertWindow.h"
#include "runtime/BrowserRuntime.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "common/Seams.h"
#include "tests/support/TestSupport.h"

namespace {

// The diagnostic page's own text, without the inserted values, in UTF-16 units.
constexpr size_t kDiagnosticLineWithoutTexts = 1825;

size_t Occurrences(const std::wstring& text, const std::wstring& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

TEST(DiagnosticCommandLine, EachTextGoesInItsPlace) {
  const std::wstring title = L"Link Error - خطأ في الرابط";
  const std::wstring message = L"Failed to process the content link.\nIf the problem persists, send the code.";
  const std::wstring arabic = L"فشل في معالجة رابط المحتوى.";
  const std::wstring code = L"Q1JURUQ+/8xYZw==";
  const std::wstring line = BuildDiagnosticCommandLine(title, message, arabic, code);
  // One line: mshta and the quoted about: address of the page.
  EXPECT_TRUE(line.starts_with(L"mshta \"about:<html><head><title>" + title + L"</title><hta:application id='diag' "));
  EXPECT_TRUE(line.ends_with(L"</script></body></html>\""));
  EXPECT_EQ(std::count(line.begin(), line.end(), L'\n'), 1) << "only the message's own line feed";
  for (const std::wstring& part :
       {L"<h2>" + title + L"</h2><p>" + message + L"</p><p class='ar'>" + arabic + L"</p>",
        L"<textarea id='dc' readonly onclick='this.select()'>" + code + L"</textarea>",
        std::wstring(L"&#128274; Diagnostic Code / كود التشخيص</p>"),
        std::wstring(L"<p class='info ar'>تم نسخ الكود تلقائياً. يرجى إرساله للدعم الفني.</p>")}) {
    EXPECT_EQ(Occurrences(line, part), 1u) << part;
  }
  EXPECT_EQ(line.size(), kDiagnosticLineWithoutTexts + 2 * title.size() + message.size() + arabic.size() + code.size());
}

TEST(DiagnosticCommandLine, TextsCannotBecomeMarkupOrEndTheAddress) {
  const std::wstring hostile = L"\"</textarea><script>alert(1)</script> & 'x' %3Cb%3E {{CODE}}";
  const std::wstring line = BuildDiagnosticCommandLine(hostile, hostile, hostile, hostile);
  const std::wstring escaped =
      L"&quot;&lt;/textarea&gt;&lt;script&gt;alert(1)&lt;/script&gt; &amp; &#39;x&#39; &#37;3Cb&#37;3E {{CODE}}";
  // The title twice, the other three once; escaped, and nothing else added.
  EXPECT_EQ(Occurrences(line, escaped), 5u);
  EXPECT_EQ(line.size(), kDiagnosticLineWithoutTexts + 5 * escaped.size());
  // Exactly two double quotes: the ones around the about: address.
  EXPECT_EQ(std::count(line.begin(), line.end(), L'"'), 2);
  EXPECT_EQ(line.find(L"<script>alert"), std::wstring::npos);
}

// Shows the countdown with 20 ms ticks, handing each tick's window to onTick
// on the window's own thread as its loop takes the timer message.
void ShowCountdownTicking(void (*onTick)(HWND)) {
  static void (*tick)(HWND) = nullptr;
  tick = onTick;
  HHOOK hook = ::SetWindowsHookExW(
      WH_GETMESSAGE,
      [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
        const auto* message = reinterpret_cast<const MSG*>(lParam);
        if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_TIMER && message->wParam == 1001) {
          tick(message->hwnd);
        }
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
      },
      nullptr, ::GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  seams::Hooks hooks;
  hooks.timerInterval = [](UINT requested) {
    EXPECT_EQ(requested, 1000u);
    return 20u;
  };
  seams::ScopedHooks scope(std::move(hooks));
  ShowCountdownWindow(L"Title", L"Message", L"رسالة", L"CODE");
  ::UnhookWindowsHookEx(hook);
}

TEST(Countdown, TicksTenTimesThenCloses) {
  static int ticks = 0;
  static HWND countdown = nullptr;
  ticks = 0;
  const auto start = std::chrono::steady_clock::now();
  ShowCountdownTicking([](HWND window) {
    ++ticks;
    countdown = window;
  });
  EXPECT_EQ(ticks, 10) << "10 -> 1 takes nine ticks, the tenth closes the window";
  EXPECT_FALSE(::IsWindow(countdown));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(Countdown, MovesToTheRectangleAMonitorChangeSuggests) {
  // Wine never sends WM_DPICHANGED, and its rectangle pointer cannot cross
  // processes: the test sends it from the window's own thread at its first tick.
  static RECT after{};
  static bool sent = false;
  sent = false;
  ShowCountdownTicking([](HWND window) {
    if (sent) return;
    sent = true;
    RECT suggested{40, 30, 40 + 1050, 30 + 900};
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    ::GetWindowRect(window, &after);
  });
  ASSERT_TRUE(sent);
  EXPECT_EQ(after.left, 40);
  EXPECT_EQ(after.top, 30);
  EXPECT_EQ(after.right - after.left, 1050);
  EXPECT_EQ(after.bottom - after.top, 900);
}

// --- ending browser children ---------------------------------------------------------

bool Running(DWORD pid) {
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
  return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

DWORD StartChild(const std::wstring& exe, const std::wstring& arguments, UniqueHandle& handle) {
  std::wstring line = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return 0;
  UniqueHandle thread(info.hThread);
  handle.reset(info.hProcess);
  return info.dwProcessId;
}

std::vector<DWORD> ProcessesNamed(const wchar_t* name) {
  std::vector<DWORD> found;
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) found.push_back(entry.th32ProcessID);
  }
  return found;
}

TEST(KillEngineChildren, EndsOnlyThisProcessesRuntimeChildren) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"alert-kill-" + std::to_wstring(::GetCurrentProcessId());
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring sleeper = testing_support::BuildProgram(L"sleeper.exe");
  const std::wstring runtime = folder + L"\\MSEdgeWebView2.exe";  // the name test ignores case
  const std::wstring other = folder + L"\\other.exe";
  ASSERT_TRUE(::CopyFileW(sleeper.c_str(), runtime.c_str(), FALSE));
  ASSERT_TRUE(::CopyFileW(sleeper.c_str(), other.c_str(), FALSE));

  UniqueHandle runtimeChild, otherChild, spawner;
  const DWORD runtimePid = StartChild(runtime, L"60", runtimeChild);
  const DWORD otherPid = StartChild(other, L"60", otherChild);
  // A runtime process that is not ours: a grandchild, started by another child.
  const DWORD spawnerPid = StartChild(sleeper, L"60 --spawn \"" + runtime + L"\"", spawner);
  ASSERT_NE(runtimePid, 0u);
  ASSERT_NE(otherPid, 0u);
  ASSERT_NE(spawnerPid, 0u);
  DWORD foreignPid = 0;
  for (int i = 0; i < 100 && foreignPid == 0; ++i) {
    for (const DWORD pid : ProcessesNamed(L"MSEdgeWebView2.exe")) {
      if (pid != runtimePid) foreignPid = pid;
    }
    if (foreignPid == 0) ::Sleep(50);
  }
  ASSERT_NE(foreignPid, 0u);

  runtime::KillEngineChildren();
  EXPECT_EQ(::WaitForSingleObject(runtimeChild.get(), 5000), WAIT_OBJECT_0);
  DWORD exitCode = 99;
  ::GetExitCodeProcess(runtimeChild.get(), &exitCode);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_TRUE(Running(otherPid));
  EXPECT_TRUE(Running(foreignPid));

  for (const DWORD pid : {otherPid, foreignPid, spawnerPid}) {
    UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (process) {
      ::TerminateProcess(process.get(), 0);
      ::WaitForSingleObject(process.get(), 5000);
    }
  }
  ::DeleteFileW(runtime.c_str());
  ::DeleteFileW(other.c_str());
  ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

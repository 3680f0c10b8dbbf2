#include "app/IntegrityHooks.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
// The guard watches network changes through the IP helper.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include "alerts/AlertWindow.h"
#include "identity/DiagnosticCode.h"
#include "app/CodeImage.h"
#include "app/DebuggerCheck.h"
#include "app/IntegrityChecks.h"
#include "app/Paths.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Log.h"
#include "net/Pinning.h"

namespace integrity {
namespace {

#if defined(MIRAVELL_INTEGRITY_CHECKS_OFF)
constexpr bool kChecksOn = false;
#else
constexpr bool kChecksOn = true;
#endif

std::atomic<bool> guardRunning{false};
std::atomic<bool> workerRunning{false};
HANDLE networkNotification = nullptr;  // user-interface thread only
UINT_PTR periodicTimer = 0;            // user-interface thread only

constexpr UINT kPeriodicMilliseconds = 60'000;
// A debugger attached later, or a patch written into the running code, has
// at most this long with the lesson. A round costs well under a millisecond
// for the debugger and a few for hashing the code: far below notice at this
// period.
constexpr DWORD kGuardPeriodMilliseconds = 2'000;
// The browser's pre-flighted hosts are forgotten this often, so that an
// interceptor started in the middle of a lesson (a proxy switched on, a
// security product's web shield) meets the pins within this time. Each host
// then costs one more pre-flight, one TLS handshake on its next load: a few
// per lesson hour. A change of network forgets them at once.
constexpr std::uint64_t kPreflightRefreshMilliseconds = 10 * 60 * 1000;

constexpr wchar_t kAlertTitle[] = L"Security Check - فحص الأمان";

struct AlertTexts {
  const wchar_t* message;
  const wchar_t* arabic;
};

AlertTexts TextsFor(Finding finding) {
  switch (finding) {
    case Finding::Debugger:
      return {
          L"A debugger is attached to Miravell, so the lesson was closed.\n"
          L"Close the debugging tool and open the lesson again. If the problem persists, send the diagnostic "
          L"code below to support.",
          L"تم اكتشاف أداة تصحيح (Debugger) متصلة ببرنامج Miravell، لذلك تم إغلاق الدرس.\n"
          L"أغلق أداة التصحيح ثم افتح الدرس مرة أخرى. إذا استمرت المشكلة، يرجى إرسال الكود التشخيصي أدناه "
          L"للدعم الفني."};
    case Finding::Signature:
      return {
          L"This copy of Miravell is not the original signed program, so the lesson was closed.\n"
          L"Install Miravell again from the official download and try again. If the problem persists, send "
          L"the diagnostic code below to support.",
          L"هذه النسخة من Miravell ليست البرنامج الأصلي الموقّع، لذلك تم إغلاق الدرس.\n"
          L"أعد تثبيت Miravell من رابط التحميل الرسمي ثم حاول مرة أخرى. إذا استمرت المشكلة، يرجى إرسال "
          L"الكود التشخيصي أدناه للدعم الفني."};
    case Finding::Code:
    case Finding::None:
      break;
  }
  return {
      L"Another program changed Miravell while it was running, so the lesson was closed.\n"
      L"Close other programs, scan your computer for malware, and try again. If the problem persists, send "
      L"the diagnostic code below to support.",
      L"قام برنامج آخر بتعديل Miravell أثناء تشغيله، لذلك تم إغلاق الدرس.\n"
      L"أغلق البرامج الأخرى وافحص جهازك من البرامج الضارة ثم حاول مرة أخرى. إذا استمرت المشكلة، يرجى "
      L"إرسال الكود التشخيصي أدناه للدعم الفني."};
}

// What the start-up work found, shared with the third group and the guard. Never
// destroyed: their threads may still read it while the process ends.
struct Shared {
  std::mutex lock;
  bool startupDone = false;
  // The third group came before the work ended: the work raises its own finding.
  bool handedOver = false;
  Finding startupFinding = Finding::None;
  std::string startupDetail;
  // Set once, with startupDone, and never changed after.
  std::optional<CodeBaseline> baseline;
  UniqueHandle guardStop;
  UniqueHandle guardThread;
};

Shared& State() {
  static Shared* const state = new Shared;
  return *state;
}

std::atomic<bool> findingRaised{false};
double startupThreadMilliseconds = 0;  // user-interface thread only

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::string Decimal(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", value);
  return text;
}

// The first finding ends the process; any other finding meanwhile is left to it.
void RaiseFinding(Finding finding, const std::string& detail) {
  if (findingRaised.exchange(true)) return;
  const std::string_view reason = ReasonOf(finding);
  LogLine("Integrity: " + detail + "; ending through the alert (" + std::string(reason) + ")");
  const AlertTexts texts = TextsFor(finding);
  ShowAlertAndExit(kAlertTitle, texts.message, texts.arabic, BuildErrorDiagnosticCode(reason));
}

std::string DescribeSignals(const DebugSignals& signals) {
  std::string text;
  const auto add = [&text](bool present, const char* name) {
    if (!present) return;
    if (!text.empty()) text += ", ";
    text += name;
  };
  add(signals.debuggerPresent, "debugger flag");
  add(signals.remoteDebugger, "remote debugger");
  add(signals.debugPort != 0, "debug port");
  add(signals.debugObject, "debug object");
  add(signals.debugFlagsCleared, "debug flags");
  return text;
}

void CheckDebugger() {
  const DebugSignals signals = ReadDebugSignals();
  if (DebuggerAttached(signals))
    RaiseFinding(Finding::Debugger, "a debugger is attached (" + DescribeSignals(signals) + ")");
}

struct StartupResult {
  Finding finding = Finding::None;
  std::string detail;
  std::optional<CodeBaseline> baseline;
};

StartupResult CheckProgramFile() {
  StartupResult result;
  const std::wstring path = GetExecutablePath();
  // A running image cannot be opened for writing, so sharing reads and
  // deletes (an installer renaming it) costs nothing. A file this process
  // may run but not read is a finding: a sound machine never does that to
  // an administrator's own program, and skipping would let a changed copy
  // hide behind it.
  const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    result.finding = Finding::Signature;
    result.detail = "the player's own file cannot be read (error " + std::to_string(::GetLastError()) + ")";
    return result;
  }
  HMODULE module = ::GetModuleHandleW(nullptr);
  result.baseline = ReadCodeBaseline(file.get(), module);
  if (!result.baseline) {
    result.finding = Finding::Code;
    result.detail = "the player's file does not lay out as the loaded program";
    return result;
  }
  if (LoadedCodeDigest(module, result.baseline->ranges) != result.baseline->digest) {
    result.finding = Finding::Code;
    result.detail = "the code in memory differs from the player's file";
    return result;
  }
  std::uint64_t codeBytes = 0;
  for (const CodeRange& range : result.baseline->ranges) codeBytes += range.size;
  LogLine("Integrity: the code in memory matches the player's file (" + std::to_string(codeBytes / 1024) + " KB)");

  const std::string pin = config::Text(config::Id::SignerKeyPin);
  if (pin.empty()) {
    LogLine("Integrity: this build is not signed (a development build); its signature is not checked");
    return result;
  }
  const SignatureCheck check = CheckOwnSignature(path, file.get(), pin);
  if (check.finding != Finding::None) {
    result.finding = check.finding;
    result.detail = "the player's file is " + check.description;
    return result;
  }
  LogLine("Integrity: the player's signature is " + check.description);
  return result;
}

void StartupWork() noexcept {
  const auto started = std::chrono::steady_clock::now();
  StartupResult result;
  try {
    result = CheckProgramFile();
  } catch (...) {
    // Out of memory or a thread that could not start: no finding can be
    // claimed, and the guard has no baseline for the code.
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    result = {};
  }
  Shared& state = State();
  bool raiseHere = false;
  {
    const std::lock_guard<std::mutex> guard(state.lock);
    state.startupDone = true;
    state.startupFinding = result.finding;
    state.startupDetail = result.detail;
    state.baseline = std::move(result.baseline);
    raiseHere = state.handedOver;
  }
  LogLine("Integrity: the checks of the player's file took " + Decimal(MillisecondsSince(started)) +
          " ms beside the start");
  if (raiseHere && result.finding != Finding::None) RaiseFinding(result.finding, result.detail);
}

void StartStartupWork() {
  try {
    std::thread(StartupWork).detach();
  } catch (const std::system_error&) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    StartupWork();  // no thread to spare: on this one
  }
}

// The third group: the file's checks raise what they found by now. Still running,
// they are left to raise it themselves: waiting here would put them on the
// start's critical path, where they cost the most on a machine whose network
// is fast.
void FinishStartupWork() {
  Shared& state = State();
  std::unique_lock<std::mutex> guard(state.lock);
  if (!state.startupDone) {
    state.handedOver = true;
    LogLine(
        "Integrity: the checks of the player's file go on beside the start; they end the player if they find anything");
    return;
  }
  const Finding finding = state.startupFinding;
  const std::string detail = state.startupDetail;
  guard.unlock();
  if (finding != Finding::None) RaiseFinding(finding, detail);
}

void CheckLoadedCode() {
  Shared& state = State();
  const CodeBaseline* baseline = nullptr;
  {
    const std::lock_guard<std::mutex> guard(state.lock);
    if (state.startupDone && state.baseline) baseline = &*state.baseline;
  }
  if (baseline == nullptr) return;
  if (LoadedCodeDigest(::GetModuleHandleW(nullptr), baseline->ranges) != baseline->digest) {
    RaiseFinding(Finding::Code, "the code in memory changed while the player ran");
  }
}

void ForgetPreflightedHosts(const char* why) {
  ClearPreflightCache();
  LogLine(std::string("Integrity: ") + why + "; each browser host is checked against its pins again on its next load");
}

DWORD WINAPI GuardLoop(void*) {
  try {
    Shared& state = State();
    ULONGLONG lastRefresh = ::GetTickCount64();
    while (guardRunning.load() &&
           ::WaitForSingleObject(state.guardStop.get(), kGuardPeriodMilliseconds) == WAIT_TIMEOUT) {
      CheckDebugger();
      CheckLoadedCode();
      if (::GetTickCount64() - lastRefresh >= kPreflightRefreshMilliseconds) {
        ForgetPreflightedHosts("ten minutes since the pre-flighted hosts were last forgotten");
        lastRefresh = ::GetTickCount64();
      }
    }
  }
  MIRAVELL_CATCH_LOG()
  return 0;
}

void CALLBACK OnNetworkChange(PVOID, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE) {
  try {
    ForgetPreflightedHosts("the network changed");
  }
  MIRAVELL_CATCH_LOG()
}

void CALLBACK PeriodicTick(HWND, UINT, UINT_PTR, DWORD) {
  if (kChecksOn) CheckDebugger();
}

}  // namespace

void RunStartupChecks(StartupGroup group) {
  if constexpr (!kChecksOn) {
    if (group == StartupGroup::First) LogLine("Integrity: the checks are switched off in this build");
    return;
  }
  const auto started = std::chrono::steady_clock::now();
  CheckDebugger();
  if (group == StartupGroup::First) StartStartupWork();
  if (group == StartupGroup::Third) FinishStartupWork();
  startupThreadMilliseconds += MillisecondsSince(started);
  if (group == StartupGroup::Fourth) {
    LogLine("Integrity: start-up checks took " + Decimal(startupThreadMilliseconds) + " ms of the start");
  }
}

void StartBackgroundGuard() {
  if (guardRunning.exchange(true)) return;
  if constexpr (!kChecksOn) return;
  Shared& state = State();
  state.guardStop.reset(MIRAVELL_LOG_LAST_ERROR_IF_NULL(::CreateEventW(nullptr, TRUE, FALSE, nullptr)));
  if (state.guardStop) {
    state.guardThread.reset(
        MIRAVELL_LOG_LAST_ERROR_IF_NULL(::CreateThread(nullptr, 0, GuardLoop, nullptr, 0, nullptr)));
  }
  MIRAVELL_LOG_IF_WIN32_ERROR(
      ::NotifyIpInterfaceChange(AF_UNSPEC, OnNetworkChange, nullptr, FALSE, &networkNotification));
}

void StopBackgroundGuard() {
  guardRunning.exchange(false);
  if (networkNotification != nullptr) {
    MIRAVELL_LOG_IF_WIN32_ERROR(::CancelMibChangeNotify2(networkNotification));
    networkNotification = nullptr;
  }
  Shared& state = State();
  if (state.guardStop) ::SetEvent(state.guardStop.get());
  // A round takes milliseconds; a guard that raised its alert ends the
  // process itself, and the sequence waits for that before coming here.
  if (state.guardThread) ::WaitForSingleObject(state.guardThread.get(), 2'000);
}

void OnLinkParsed() {}

void StartPlayerWork() {
  if (!workerRunning.exchange(true)) {
    // The guard, started after the third group, carries the player's periodic checks.
  }
  if (periodicTimer != 0) {
    ::KillTimer(nullptr, periodicTimer);
    periodicTimer = 0;
  }
  periodicTimer = MIRAVELL_LOG_LAST_ERROR_IF_NULL(::SetTimer(nullptr, 0, kPeriodicMilliseconds, PeriodicTick));
}

void OnPlayerTimer() {
  if (kChecksOn) CheckDebugger();
}

void OnPlayerDestroy() {
  workerRunning.exchange(false);
  if (periodicTimer != 0) {
    ::KillTimer(nullptr, periodicTimer);
    periodicTimer = 0;
  }
}

bool PlayerWorkRunning() { return workerRunning.load(); }

UINT_PTR PlayerTimerId() { return periodicTimer; }

}  // namespace integrity

#include "app/IntegrityHooks.h"

#include <atomic>
// The guard watches network changes through the IP helper.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include "common/FailureLog.h"

namespace integrity {
namespace {

std::atomic<bool> guardRunning{false};
std::atomic<bool> workerRunning{false};
HANDLE networkNotification = nullptr;  // user-interface thread only
UINT_PTR periodicTimer = 0;            // user-interface thread only

constexpr UINT kPeriodicMilliseconds = 60'000;

void CALLBACK PeriodicTick(HWND, UINT, UINT_PTR, DWORD) {
  // The periodic checks run here once they exist.
}

}  // namespace

void RunStartupChecks(StartupGroup) {}

void StartBackgroundGuard() {
  if (guardRunning.exchange(true)) return;
  // The guard's threads and its network-change notification start here.
}

void StopBackgroundGuard() {
  guardRunning.exchange(false);
  if (networkNotification != nullptr) {
    MIRAVELL_LOG_IF_WIN32_ERROR(::CancelMibChangeNotify2(networkNotification));
    networkNotification = nullptr;
  }
}

void OnLinkParsed() {}

void StartPlayerWork() {
  if (!workerRunning.exchange(true)) {
    // The worker thread starts here once it exists.
  }
  if (periodicTimer != 0) {
    ::KillTimer(nullptr, periodicTimer);
    periodicTimer = 0;
  }
  periodicTimer = MIRAVELL_LOG_LAST_ERROR_IF_NULL(::SetTimer(nullptr, 0, kPeriodicMilliseconds, PeriodicTick));
}

void OnPlayerTimer() {}

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

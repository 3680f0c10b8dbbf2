#include "app/DebuggerCheck.h"

#include "common/Handles.h"

namespace {

using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

constexpr ULONG kProcessDebugPort = 7;
constexpr ULONG kProcessDebugObjectHandle = 0x1E;
constexpr ULONG kProcessDebugFlags = 0x1F;

// ntdll is in every process before its first instruction: looked up among
// the loaded modules, never loaded by name from a search path.
NtQueryInformationProcessFn QueryFunction() noexcept {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<NtQueryInformationProcessFn>(
      reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
}

}  // namespace

bool DebuggerAttached(const DebugSignals& signals) noexcept {
  return signals.debuggerPresent || signals.remoteDebugger || signals.debugPort != 0 || signals.debugObject ||
         signals.debugFlagsCleared;
}

DebugSignals ReadDebugSignals() noexcept {
  DebugSignals signals;
  HANDLE self = ::GetCurrentProcess();
  signals.debuggerPresent = ::IsDebuggerPresent() != FALSE;
  BOOL remote = FALSE;
  if (::CheckRemoteDebuggerPresent(self, &remote)) signals.remoteDebugger = remote != FALSE;

  const NtQueryInformationProcessFn query = QueryFunction();
  if (query == nullptr) return signals;
  std::uintptr_t port = 0;
  if (query(self, kProcessDebugPort, &port, sizeof(port), nullptr) >= 0) signals.debugPort = port;
  // A debug object comes back as a handle of this process's own: owned, or
  // each check would leak one.
  UniqueHandle object;
  if (query(self, kProcessDebugObjectHandle, object.put(), sizeof(HANDLE), nullptr) >= 0 && object) {
    signals.debugObject = true;
  }
  ULONG flags = 1;
  if (query(self, kProcessDebugFlags, &flags, sizeof(flags), nullptr) >= 0) signals.debugFlagsCleared = flags == 0;
  return signals;
}

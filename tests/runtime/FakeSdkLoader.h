#pragma once
// What the stand-in for the SDK's loader DLL records about the calls it got
// (read through its export FakeSdkLoaderSeen).
#include <windows.h>

namespace fake_sdk_loader {

struct Seen {
  int versionCalls;
  int createCalls;
  bool folderGiven;
  wchar_t folder[MAX_PATH];
  wchar_t userDataFolder[MAX_PATH];
  void* options;
  void* handler;
  HRESULT invokeResult;
};

// The text the stand-in reports as the engine's version.
inline constexpr wchar_t kVersion[] = L"99.0.1234.5";

}  // namespace fake_sdk_loader

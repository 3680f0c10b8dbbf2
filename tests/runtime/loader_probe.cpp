// Test program: asks our loader for the engine's version and starts an
// environment, the way the player does, then writes what happened, and what a
// WebView2Loader.dll beside it saw, one "name=value" line each, to the file
// named by its first argument. Copied into folders with and without such a
// DLL. A second argument, "anywhere" or "machine", sets where the loader may
// look instead of leaving it to the process's elevation.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "common/Handles.h"
#include "common/Text.h"
#include "runtime/BrowserLoader.h"
#include "runtime/CallbackHandler.h"
#include "runtime/EnvironmentOptions.h"
#include "tests/runtime/FakeSdkLoader.h"

namespace {

std::string Hex(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

// The folder the player never passes, so the stand-in must get exactly this.
constexpr wchar_t kFolder[] = L"C:\\engines\\fixed";
constexpr wchar_t kUserData[] = L"C:\\users\\me\\WebView2Data";

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) return 2;
  if (argc == 3) {
    const std::wstring sources = argv[2];
    if (sources != L"anywhere" && sources != L"machine") return 2;
    runtime::OverrideEngineSources(sources == L"machine" ? runtime::EngineSources::MachineOnly
                                                         : runtime::EngineSources::Anywhere);
  }
  ComInitScope com(COINIT_APARTMENTTHREADED);
  std::ofstream out(argv[1], std::ios::binary);

  UniqueCoTaskMem<wchar_t> version;
  out << "version_hr=" << Hex(GetAvailableCoreWebView2BrowserVersionString(nullptr, version.put())) << "\n";
  out << "version=" << (version.get() != nullptr ? WideToUtf8(version.get()) : std::string()) << "\n";

  HRESULT reported = E_PENDING;  // until the handler is called
  auto options = runtime::EnvironmentOptions::Create();
  auto handler = runtime::MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [&reported](HRESULT code, ICoreWebView2Environment*) { reported = code; });
  const HRESULT call = CreateCoreWebView2EnvironmentWithOptions(kFolder, kUserData, options.Get(), handler.Get());
  out << "create_hr=" << Hex(call) << "\n";
  out << "reported=" << Hex(reported) << "\n";

  HMODULE beside = ::GetModuleHandleW(L"WebView2Loader.dll");
  using SeenFn = const void* (*)();
  auto seenFn =
      beside == nullptr
          ? nullptr
          : reinterpret_cast<SeenFn>(reinterpret_cast<void (*)()>(::GetProcAddress(beside, "FakeSdkLoaderSeen")));
  out << "beside_loaded=" << (beside != nullptr ? 1 : 0) << "\n";
  if (seenFn != nullptr) {
    const auto* seen = static_cast<const fake_sdk_loader::Seen*>(seenFn());
    out << "beside_version_calls=" << seen->versionCalls << "\n";
    out << "beside_create_calls=" << seen->createCalls << "\n";
    out << "beside_folder=" << WideToUtf8(seen->folder) << "\n";
    out << "beside_user_data=" << WideToUtf8(seen->userDataFolder) << "\n";
    out << "beside_same_options=" << (seen->options == options.Get() ? 1 : 0) << "\n";
    out << "beside_same_handler=" << (seen->handler == handler.Get() ? 1 : 0) << "\n";
    out << "beside_invoke_result=" << Hex(seen->invokeResult) << "\n";
  }
  return out ? 0 : 3;
}

#include "common/DesktopShell.h"

#include <windows.h>
#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>
#include <wrl/client.h>

#include "common/FailureLog.h"
#include "common/Handles.h"

using Microsoft::WRL::ComPtr;

namespace {

// The service that answers with the desktop's shell browser.
constexpr GUID kTopLevelBrowser = {0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

using UniqueBstr = UniqueResource<NullInvalidTraits<BSTR, ::SysFreeString>>;

// A variant that clears what it holds when it goes.
struct OwnedVariant {
  VARIANT value;
  OwnedVariant() noexcept { ::VariantInit(&value); }
  ~OwnedVariant() { ::VariantClear(&value); }
  OwnedVariant(const OwnedVariant&) = delete;
  OwnedVariant& operator=(const OwnedVariant&) = delete;
};

// The desktop folder view's automation object, which runs ShellExecute in
// the desktop's process.
ComPtr<IShellDispatch2> DesktopShellDispatch() {
  ComPtr<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows)))) {
    return nullptr;
  }
  OwnedVariant location;
  location.value.vt = VT_I4;
  location.value.lVal = CSIDL_DESKTOP;
  OwnedVariant root;
  long window = 0;
  ComPtr<IDispatch> desktop;
  if (windows->FindWindowSW(&location.value, &root.value, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) != S_OK ||
      !desktop) {
    return nullptr;
  }
  ComPtr<IServiceProvider> provider;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(desktop.As(&provider)) || FAILED(provider->QueryService(kTopLevelBrowser, IID_PPV_ARGS(&browser))) ||
      FAILED(browser->QueryActiveShellView(&view)) || !view ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background))) || !background ||
      FAILED(background.As(&folderView)) || FAILED(folderView->get_Application(&application)) || !application ||
      FAILED(application.As(&shell))) {
    return nullptr;
  }
  return shell;
}

}  // namespace

DesktopShellOpen OpenThroughDesktopShell(const std::wstring& address) {
  const ComPtr<IShellDispatch2> shell = DesktopShellDispatch();
  if (!shell) return DesktopShellOpen::NoDesktopShell;

  // The window the shell opens may come to the front.
  DWORD shellProcess = 0;
  if (const HWND desktopWindow = ::GetShellWindow();
      desktopWindow != nullptr && ::GetWindowThreadProcessId(desktopWindow, &shellProcess) != 0) {
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::AllowSetForegroundWindow(shellProcess));
  }

  const UniqueBstr file(::SysAllocStringLen(address.data(), static_cast<UINT>(address.size())));
  if (!file) return DesktopShellOpen::Failed;
  OwnedVariant arguments;
  OwnedVariant directory;
  OwnedVariant verb;
  verb.value.vt = VT_BSTR;
  verb.value.bstrVal = ::SysAllocString(L"open");
  OwnedVariant show;
  show.value.vt = VT_I4;
  show.value.lVal = SW_SHOWNORMAL;
  if (verb.value.bstrVal == nullptr) return DesktopShellOpen::Failed;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(
          shell->ShellExecute(file.get(), arguments.value, directory.value, verb.value, show.value)))) {
    return DesktopShellOpen::Failed;
  }
  return DesktopShellOpen::Opened;
}

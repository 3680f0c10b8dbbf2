#include "app/Startup.h"

#include <objbase.h>
// GDI+ headers expect min/max, which NOMINMAX hides.
#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "app/WindowsVersion.h"
#include "common/Seams.h"

namespace {

constexpr wchar_t kUnsupportedOsText[] =
    L"This application requires Windows 10 or later.\n"
    L"هذا التطبيق يتطلب ويندوز 10 أو أحدث.";
constexpr wchar_t kUnsupportedOsTitle[] = L"Unsupported OS";

constexpr UINT kErrorBoxFlags = MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;

// GDI+ for the whole sequence; shut down when the sequence returns.
class GdiplusSession {
 public:
  GdiplusSession() noexcept {
    Gdiplus::GdiplusStartupInput input;  // version 1, no callback, background thread
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
  }
  ~GdiplusSession() {
    if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace

int RunStartupSequence(HINSTANCE /*instance*/, const std::wstring& /*commandLine*/) {
  // COM for this thread, single-threaded apartment; its result does not matter.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int exitCode = 0;
  {
    GdiplusSession gdiplus;

    if (GetWindowsVersion() < 10) {
      seams::ShowMessageBox(nullptr, kUnsupportedOsText, kUnsupportedOsTitle, kErrorBoxFlags);
      exitCode = 1;
    }
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return exitCode;
}

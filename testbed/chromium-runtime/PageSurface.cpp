#include "testbed/chromium-runtime/PageSurface.h"

#include <algorithm>

#include "common/FailureLog.h"

using Microsoft::WRL::ComPtr;

namespace chromium_runtime {
namespace {

constexpr wchar_t kClass[] = L"MiravellChromiumPage";
constexpr UINT_PTR kQuietTimer = 1;
constexpr UINT kQuietMs = 300;

HINSTANCE OwnModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

}  // namespace

PageSurface::PageSurface(HWND parent) {
  WNDCLASSW windowClass{};
  windowClass.style = CS_DBLCLKS;  // the page tells double clicks apart
  windowClass.lpfnWndProc = &Procedure;
  windowClass.hInstance = OwnModule();
  windowClass.lpszClassName = kClass;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  ::RegisterClassW(&windowClass);  // fails harmlessly once registered
  window_.reset(::CreateWindowExW(0, kClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0, parent, nullptr,
                                  windowClass.hInstance, nullptr));
  if (window_) ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void PageSurface::Unregister() { ::UnregisterClassW(kClass, OwnModule()); }

void PageSurface::Move(const RECT& bounds) {
  if (!window_) return;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::MoveWindow(window_.get(), bounds.left, bounds.top, bounds.right - bounds.left,
                                                bounds.bottom - bounds.top, TRUE));
  ArmQuiet();  // the page's picture of the new size may never come as a frame
}

void PageSurface::Show(bool visible) {
  if (!window_) return;
  ::ShowWindow(window_.get(), visible ? SW_SHOWNA : SW_HIDE);
  if (visible) ArmQuiet();
}

void PageSurface::ArmQuiet() {
  if (window_ && quiet_) MIRAVELL_LOG_LAST_ERROR_IF_NULL(::SetTimer(window_.get(), kQuietTimer, kQuietMs, nullptr));
}

void PageSurface::SetBackground(COLORREF colour) {
  background_ = colour;
  if (window_) ::InvalidateRect(window_.get(), nullptr, FALSE);
}

bool PageSurface::ShowFrame(const std::vector<std::uint8_t>& image) {
  if (!window_ || image.empty()) return false;
  if (!codecs_ && FAILED(MIRAVELL_LOG_IF_FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr,
                                                                   CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&codecs_))))) {
    return false;
  }
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> decoded;
  ComPtr<IWICBitmapSource> pixels;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(codecs_->CreateStream(&stream))) ||
      FAILED(MIRAVELL_LOG_IF_FAILED(
          stream->InitializeFromMemory(const_cast<BYTE*>(image.data()), static_cast<DWORD>(image.size())))) ||
      FAILED(MIRAVELL_LOG_IF_FAILED(
          codecs_->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder))) ||
      FAILED(MIRAVELL_LOG_IF_FAILED(decoder->GetFrame(0, &decoded))) ||
      FAILED(MIRAVELL_LOG_IF_FAILED(::WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, decoded.Get(), &pixels))) ||
      FAILED(MIRAVELL_LOG_IF_FAILED(pixels->GetSize(&width, &height))) || width == 0 || height == 0) {
    return false;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as the decoder gives rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueGdiObject<HBITMAP> bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap || bits == nullptr) return false;
  const UINT stride = width * 4;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(pixels->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits))))) {
    return false;
  }
  frame_ = std::move(bitmap);
  frameSize_ = {static_cast<LONG>(width), static_cast<LONG>(height)};
  ::InvalidateRect(window_.get(), nullptr, FALSE);
  ArmQuiet();
  return true;
}

void PageSurface::Paint() {
  const PaintScope paint(window_.get());
  RECT area{};
  ::GetClientRect(window_.get(), &area);
  const UniqueGdiObject<HBRUSH> background(::CreateSolidBrush(background_));
  if (!frame_) {
    ::FillRect(paint.dc(), &area, background.get());
    return;
  }
  // The frame at its own size from the top left (the page's viewport
  // follows the bounds, so they agree but for a resize in flight).
  const UniqueMemoryDc memory(::CreateCompatibleDC(paint.dc()));
  const SelectionScope selected(memory.get(), frame_.get());
  const int width = std::min<int>(frameSize_.cx, area.right);
  const int height = std::min<int>(frameSize_.cy, area.bottom);
  ::BitBlt(paint.dc(), 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
  const RECT right{width, 0, area.right, area.bottom};
  const RECT below{0, height, width, area.bottom};
  if (right.left < right.right) ::FillRect(paint.dc(), &right, background.get());
  if (below.top < below.bottom) ::FillRect(paint.dc(), &below, background.get());
}

LRESULT CALLBACK PageSurface::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    auto* surface = reinterpret_cast<PageSurface*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_PAINT && surface != nullptr) {
      surface->Paint();
      return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    if (message == WM_TIMER && wParam == kQuietTimer) {
      ::KillTimer(window, kQuietTimer);
      if (surface != nullptr && surface->quiet_) {
        const auto quiet = surface->quiet_;  // the page may be closed by what it does
        quiet();
      }
      return 0;
    }
    if (message == WM_NCDESTROY) ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
    const bool mouse = message >= WM_MOUSEFIRST && message <= WM_MOUSELAST;
    const bool keys = message >= WM_KEYFIRST && message <= WM_KEYLAST;
    if ((mouse || keys) && surface != nullptr && surface->input_) {
      if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN) {
        // Keys follow the click, and a drag out of the window still ends in it.
        ::SetFocus(window);
        ::SetCapture(window);
      } else if ((message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP) &&
                 (wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) {
        ::ReleaseCapture();
      }
      const auto input = surface->input_;  // the page may be closed by what it does
      input(message, wParam, lParam);
      // Alt with a key stays the system's too (Alt+F4 closes the host).
      if (message != WM_SYSKEYDOWN && message != WM_SYSKEYUP && message != WM_SYSCHAR) return 0;
    }
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace chromium_runtime

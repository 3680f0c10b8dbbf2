#include "app/Splash.h"

#include <cstring>
#include <memory>
#include <utility>

#include "app/Gdiplus.h"
#include "app/resources/resource.h"
#include "common/WindowClasses.h"
#include "common/AppState.h"
#include "common/Dpi.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Seams.h"

namespace {

constexpr wchar_t kSplashTitle[] = L"Quella Splash";
constexpr wchar_t kErrorTitle[] = L"Splash Error";
constexpr wchar_t kFindFailed[] = L"FindResourceW failed. Could not find resource ID 102.";
constexpr wchar_t kLoadFailed[] = L"LoadResource failed.";
constexpr wchar_t kLockFailed[] = L"LockResource failed.";
constexpr wchar_t kStreamFailed[] = L"CreateStreamOnHGlobal failed.";
constexpr wchar_t kDecodeFailed[] = L"Gdiplus::Bitmap::FromStream failed.";

bool splashClassRegistered = false;

void Fail(const wchar_t* text) { seams::ShowMessageBox(nullptr, text, kErrorTitle, MB_OK); }

struct StreamRelease {
  void operator()(IStream* stream) const noexcept { stream->Release(); }
};

// Copies the resource into a movable global block and wraps it in a stream
// that frees the block when it is released.
std::unique_ptr<IStream, StreamRelease> StreamOver(const void* data, DWORD size) {
  UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, size));
  if (!block) return nullptr;
  {
    GlobalLockScope lock(block.get());
    if (lock.data() == nullptr) return nullptr;
    std::memcpy(lock.data(), data, size);
  }
  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(block.get(), TRUE, &stream)) || stream == nullptr) return nullptr;
  (void)block.release();  // the stream owns it now
  return std::unique_ptr<IStream, StreamRelease>(stream);
}

// Premultiplied top-down 32-bit copy of the image, ready for UpdateLayeredWindow.
UniqueGdiObject<HBITMAP> PremultipliedDib(Gdiplus::Bitmap& image, UINT width, UINT height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueGdiObject<HBITMAP> dib(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib || bits == nullptr) return dib;

  Gdiplus::Rect whole(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  Gdiplus::BitmapData locked{};
  if (image.LockBits(&whole, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &locked) == Gdiplus::Ok) {
    auto* out = static_cast<std::uint8_t*>(bits);
    for (UINT y = 0; y < height; ++y) {
      const auto* row = static_cast<const std::uint8_t*>(locked.Scan0) + static_cast<std::ptrdiff_t>(y) * locked.Stride;
      for (UINT x = 0; x < width; ++x) {
        std::uint8_t* pixel = out + (static_cast<std::size_t>(y) * width + x) * 4;
        std::memcpy(pixel, row + x * 4, 4);
        PremultiplyPixel(pixel);
      }
    }
    image.UnlockBits(&locked);
  }
  return dib;
}

// The picture at the size it takes on a monitor of the given DPI. Its 512
// pixels are 96-DPI units like the rest of our layout; a smooth resample
// keeps its edges soft where the system's stretching would blur the window.
// At 96 DPI the image itself, untouched.
std::unique_ptr<Gdiplus::Bitmap> ImageForDpi(std::unique_ptr<Gdiplus::Bitmap> image, UINT dpi) {
  const INT width = ScaleForDpi(static_cast<int>(image->GetWidth()), dpi);
  const INT height = ScaleForDpi(static_cast<int>(image->GetHeight()), dpi);
  if (width == static_cast<INT>(image->GetWidth()) && height == static_cast<INT>(image->GetHeight())) return image;
  auto scaled = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppARGB);
  if (scaled->GetLastStatus() != Gdiplus::Ok) return image;
  Gdiplus::Status drawn = Gdiplus::GenericError;
  {
    Gdiplus::Graphics canvas(scaled.get());
    canvas.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    canvas.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    canvas.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    // Without it the filter reads past the picture's border and draws a faint
    // frame around it.
    Gdiplus::ImageAttributes clampEdges;
    clampEdges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    drawn = canvas.DrawImage(image.get(), Gdiplus::Rect(0, 0, width, height), 0, 0, static_cast<INT>(image->GetWidth()),
                             static_cast<INT>(image->GetHeight()), Gdiplus::UnitPixel, &clampEdges);
  }
  if (drawn != Gdiplus::Ok) return image;
  return scaled;
}

}  // namespace

void PremultiplyPixel(std::uint8_t* bgra) noexcept {
  const unsigned alpha = bgra[3];
  for (int channel = 0; channel < 3; ++channel) {
    bgra[channel] = static_cast<std::uint8_t>(bgra[channel] * alpha / 255);
  }
}

void CreateSplashWindow(HINSTANCE instance) {
  HRSRC resource = ::FindResourceW(instance, MAKEINTRESOURCEW(IDR_SPLASH_PNG), RT_RCDATA);
  if (resource == nullptr) return Fail(kFindFailed);
  const DWORD size = ::SizeofResource(instance, resource);
  HGLOBAL loaded = ::LoadResource(instance, resource);
  if (loaded == nullptr) return Fail(kLoadFailed);
  const void* data = ::LockResource(loaded);
  if (data == nullptr) return Fail(kLockFailed);

  auto stream = StreamOver(data, size);
  if (!stream) return Fail(kStreamFailed);

  std::unique_ptr<Gdiplus::Bitmap> image(Gdiplus::Bitmap::FromStream(stream.get()));
  if (!image || image->GetLastStatus() != Gdiplus::Ok) return Fail(kDecodeFailed);
  // The splash stands in the middle of the primary monitor, so it takes that
  // monitor's scale.
  image = ImageForDpi(std::move(image), PrimaryMonitorDpi());
  const UINT width = image->GetWidth();
  const UINT height = image->GetHeight();

  if (!splashClassRegistered) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = SplashWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_APPSTARTING);
    windowClass.lpszClassName = kSplashWindowClass;
    MIRAVELL_LOG_LAST_ERROR_IF_NULL(::RegisterClassExW(&windowClass));
    splashClassRegistered = true;
  }

  const int x = (::GetSystemMetrics(SM_CXSCREEN) - static_cast<int>(width)) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - static_cast<int>(height)) / 2;
  HWND window = MIRAVELL_LOG_LAST_ERROR_IF_NULL(::CreateWindowExW(
      WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kSplashWindowClass, kSplashTitle, WS_POPUP | WS_VISIBLE, x, y,
      static_cast<int>(width), static_cast<int>(height), nullptr, nullptr, instance, nullptr));
  GetWindowState().splashWindow = window;
  if (window == nullptr) return;

  // Without its picture the splash stays an empty window; the start goes on.
  UniqueGdiObject<HBITMAP> dib = PremultipliedDib(*image, width, height);
  MIRAVELL_RETURN_VALUE_LAST_ERROR_IF(, !dib);
  WindowDc screen(nullptr);
  UniqueMemoryDc memory(MIRAVELL_LOG_LAST_ERROR_IF_NULL(::CreateCompatibleDC(screen.get())));
  if (!memory) return;
  SelectionScope selected(memory.get(), dib.get());
  POINT position{x, y};
  SIZE extent{static_cast<LONG>(width), static_cast<LONG>(height)};
  POINT origin{0, 0};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::UpdateLayeredWindow(window, screen.get(), &position, &extent, memory.get(), &origin, 0, &blend, ULW_ALPHA));
}

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      GetWindowState().splashWindow = nullptr;
      return 0;
    case WM_NCHITTEST:
      return HTCAPTION;  // the whole picture drags the splash
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

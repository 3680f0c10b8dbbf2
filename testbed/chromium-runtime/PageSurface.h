#pragma once
// What a person sees of a Chromium page: a child window over the
// controller's bounds in the host's window, painted with the page's
// screencast frames, and with the view's background colour until the first
// frame comes (and around a frame smaller than the window). Its mouse and
// keyboard messages go to the page.
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "common/Handles.h"

namespace chromium_runtime {

class PageSurface {
 public:
  // A child window of parent, over nothing until moved.
  explicit PageSurface(HWND parent);
  PageSurface(const PageSurface&) = delete;
  PageSurface& operator=(const PageSurface&) = delete;

  [[nodiscard]] HWND window() const noexcept { return window_.get(); }
  void Move(const RECT& bounds);
  void Show(bool visible);
  void SetBackground(COLORREF colour);
  // Decodes a PNG or JPEG frame and paints it; false when it could not be read.
  bool ShowFrame(const std::vector<std::uint8_t>& image);
  [[nodiscard]] bool hasFrame() const noexcept { return frame_.valid(); }
  // Called once when no frame has come for a moment after the last one, or
  // after the window was moved or shown.
  void SetQuiet(std::function<void()> quiet) { quiet_ = std::move(quiet); }
  // Where the mouse and keyboard messages of the window go (the page).
  void SetInput(std::function<void(UINT message, WPARAM wParam, LPARAM lParam)> input) { input_ = std::move(input); }
  // Unregisters the window class (the DLL is going away).
  static void Unregister();

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();
  void ArmQuiet();

  UniqueWindow window_;
  UniqueGdiObject<HBITMAP> frame_;
  SIZE frameSize_{};
  COLORREF background_ = RGB(255, 255, 255);
  Microsoft::WRL::ComPtr<IWICImagingFactory> codecs_;
  std::function<void(UINT, WPARAM, LPARAM)> input_;
  std::function<void()> quiet_;
};

}  // namespace chromium_runtime

#pragma once
// Owners for every kind of handle the program holds. Each owner knows the one
// right call that releases its handle, so no code path closes anything by hand
// and none forgets to.
#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <utility>

template <typename Traits>
class UniqueResource {
 public:
  using pointer = typename Traits::pointer;

  UniqueResource() noexcept = default;
  explicit UniqueResource(pointer value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  [[nodiscard]] pointer get() const noexcept { return value_; }
  [[nodiscard]] bool valid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Releases the current value and returns the slot for an API that writes a
  // new handle through an out-parameter.
  [[nodiscard]] pointer* put() noexcept {
    reset();
    return &value_;
  }

  void reset(pointer value = Traits::Invalid()) noexcept {
    pointer old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }

  [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::Invalid()); }

 private:
  pointer value_ = Traits::Invalid();
};

// Traits for handles whose only invalid value is null.
template <typename T, auto CloseFn>
struct NullInvalidTraits {
  using pointer = T;
  static constexpr pointer Invalid() noexcept { return nullptr; }
  static bool IsValid(pointer value) noexcept { return value != nullptr; }
  static void Close(pointer value) noexcept { CloseFn(value); }
};

namespace handle_detail {
inline void CloseKernel(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseKey(HKEY h) noexcept { ::RegCloseKey(h); }
inline void CloseInternet(HINTERNET h) noexcept { ::WinHttpCloseHandle(h); }
inline void CloseAlgorithm(BCRYPT_ALG_HANDLE h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
inline void DestroyKey(BCRYPT_KEY_HANDLE h) noexcept { ::BCryptDestroyKey(h); }
inline void DestroyHash(BCRYPT_HASH_HANDLE h) noexcept { ::BCryptDestroyHash(h); }
inline void ReleaseLibrary(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void FreeGlobal(HGLOBAL h) noexcept { ::GlobalFree(h); }
inline void FreeLocal(HLOCAL h) noexcept { ::LocalFree(h); }
inline void DeleteGdiObject(HGDIOBJ h) noexcept { ::DeleteObject(h); }
inline void DeleteMemoryDc(HDC h) noexcept { ::DeleteDC(h); }
inline void FreeCertificate(PCCERT_CONTEXT h) noexcept { ::CertFreeCertificateContext(h); }
inline void FreeChain(PCCERT_CHAIN_CONTEXT h) noexcept { ::CertFreeCertificateChain(h); }
inline void FreeCoTaskMem(void* p) noexcept { ::CoTaskMemFree(p); }
inline void DestroyWindowHandle(HWND h) noexcept { ::DestroyWindow(h); }
// A timer may be firing while its owner lets it go: it is stopped, its
// running callback waited for, and only then closed.
inline void CloseThreadpoolTimerWaiting(PTP_TIMER h) noexcept {
  ::SetThreadpoolTimer(h, nullptr, 0, 0);
  ::WaitForThreadpoolTimerCallbacks(h, TRUE);
  ::CloseThreadpoolTimer(h);
}
}  // namespace handle_detail

// Kernel objects: null and INVALID_HANDLE_VALUE both mean "no handle"
// (CreateFileW and CreateToolhelp32Snapshot fail with the latter).
struct KernelHandleTraits {
  using pointer = HANDLE;
  static pointer Invalid() noexcept { return nullptr; }
  static bool IsValid(pointer value) noexcept { return value != nullptr && value != INVALID_HANDLE_VALUE; }
  static void Close(pointer value) noexcept { handle_detail::CloseKernel(value); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueRegKey = UniqueResource<NullInvalidTraits<HKEY, handle_detail::CloseKey>>;
using UniqueInternet = UniqueResource<NullInvalidTraits<HINTERNET, handle_detail::CloseInternet>>;
using UniqueAlgorithm = UniqueResource<NullInvalidTraits<BCRYPT_ALG_HANDLE, handle_detail::CloseAlgorithm>>;
using UniqueCryptKey = UniqueResource<NullInvalidTraits<BCRYPT_KEY_HANDLE, handle_detail::DestroyKey>>;
using UniqueHash = UniqueResource<NullInvalidTraits<BCRYPT_HASH_HANDLE, handle_detail::DestroyHash>>;
using UniqueModule = UniqueResource<NullInvalidTraits<HMODULE, handle_detail::ReleaseLibrary>>;
using UniqueGlobal = UniqueResource<NullInvalidTraits<HGLOBAL, handle_detail::FreeGlobal>>;
using UniqueLocal = UniqueResource<NullInvalidTraits<HLOCAL, handle_detail::FreeLocal>>;
using UniqueMemoryDc = UniqueResource<NullInvalidTraits<HDC, handle_detail::DeleteMemoryDc>>;
using UniqueCertContext = UniqueResource<NullInvalidTraits<PCCERT_CONTEXT, handle_detail::FreeCertificate>>;
using UniqueCertChain = UniqueResource<NullInvalidTraits<PCCERT_CHAIN_CONTEXT, handle_detail::FreeChain>>;
using UniqueWindow = UniqueResource<NullInvalidTraits<HWND, handle_detail::DestroyWindowHandle>>;
using UniqueThreadpoolTimer = UniqueResource<NullInvalidTraits<PTP_TIMER, handle_detail::CloseThreadpoolTimerWaiting>>;

// GDI objects of one type (HBITMAP, HFONT, HBRUSH, HPEN...), freed with DeleteObject.
template <typename T>
using UniqueGdiObject = UniqueResource<NullInvalidTraits<T, handle_detail::DeleteGdiObject>>;

// Memory the COM task allocator handed out (strings returned by the browser).
template <typename T>
using UniqueCoTaskMem = UniqueResource<NullInvalidTraits<T*, handle_detail::FreeCoTaskMem>>;

// A device context borrowed with GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  [[nodiscard]] HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// BeginPaint/EndPaint for one WM_PAINT.
class PaintScope {
 public:
  explicit PaintScope(HWND window) noexcept : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  ~PaintScope() { ::EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  [[nodiscard]] HDC dc() const noexcept { return dc_; }
  [[nodiscard]] const PAINTSTRUCT& paint() const noexcept { return paint_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// Selects a GDI object into a device context and puts the old one back.
class SelectionScope {
 public:
  SelectionScope(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
  ~SelectionScope() {
    if (old_ != nullptr && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }
  SelectionScope(const SelectionScope&) = delete;
  SelectionScope& operator=(const SelectionScope&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// GlobalLock/GlobalUnlock around access to a movable global block.
class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL block) noexcept : block_(block), data_(::GlobalLock(block)) {}
  ~GlobalLockScope() {
    if (data_ != nullptr) ::GlobalUnlock(block_);
  }
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;
  [[nodiscard]] void* data() const noexcept { return data_; }

 private:
  HGLOBAL block_;
  void* data_;
};

// COM for the current thread; uninitialised only when this scope initialised it.
class ComInitScope {
 public:
  explicit ComInitScope(DWORD apartment) noexcept : result_(::CoInitializeEx(nullptr, apartment)) {}
  ~ComInitScope() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComInitScope(const ComInitScope&) = delete;
  ComInitScope& operator=(const ComInitScope&) = delete;
  [[nodiscard]] HRESULT result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

// The clipboard, open for the lifetime of the scope.
class ClipboardScope {
 public:
  explicit ClipboardScope(HWND owner) noexcept : open_(::OpenClipboard(owner) != FALSE) {}
  ~ClipboardScope() {
    if (open_) ::CloseClipboard();
  }
  ClipboardScope(const ClipboardScope&) = delete;
  ClipboardScope& operator=(const ClipboardScope&) = delete;
  [[nodiscard]] bool open() const noexcept { return open_; }

 private:
  bool open_;
};

// Runs a one-off cleanup when the scope ends, unless dismissed.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F action) noexcept : action_(std::move(action)) {}
  ~ScopeExit() {
    if (active_) action_();
  }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  void Dismiss() noexcept { active_ = false; }

 private:
  F action_;
  bool active_ = true;
};

#include "alerts/AlertWindow.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "common/WindowClasses.h"
#include "common/Dpi.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Html.h"
#include "common/PageFill.h"
#include "common/Seams.h"
#include "common/SystemPaths.h"
#include "common/Text.h"
#include "runtime/BrowserRuntime.h"
#include "alerts/PageFiles.h"

namespace {

constexpr wchar_t kCountdownText[] = L"Security Alert";
constexpr UINT_PTR kTimerId = 1001;
constexpr int kStartSeconds = 10;
constexpr int kWidth = 700;
constexpr int kHeightWithCode = 600;
constexpr int kHeightWithoutCode = 500;
constexpr int kAppIcon = 101;

// The interception alert: the same title and English text for both
// connections; the Arabic text for the program's own calls names examples.
constexpr std::size_t kMaxBrowserCode = 100;
constexpr wchar_t kInterceptedTitle[] = L"Network Connection Intercepted - اتصال غير آمن";
constexpr wchar_t kInterceptedMessage[] =
    L"Your network connection is being intercepted by a security program, firewall, or VPN.\n\n"
    L"Please disable your VPN, Web Shield Anti-Virus (like Kaspersky/Avast), or Proxy, and try again.";
constexpr wchar_t kInterceptedArabic[] =
    L"تم اعتراض الاتصال بالإنترنت الخاص بك بواسطة برنامج حماية أو جدار ناري أو VPN.\n\n"
    L"يرجى إيقاف الـ VPN أو حماية الويب في برامج الحماية (مثل كاسبرسكي أو أفاست) أو أي بروكسي، ثم حاول مرة أخرى.";
constexpr wchar_t kBrowserInterceptedArabic[] =
    L"تم اعتراض الاتصال بالإنترنت الخاص بك بواسطة برنامج حماية أو جدار ناري أو VPN.\n\n"
    L"يرجى إيقاف الـ VPN أو حماية الويب في برامج الحماية أو أي بروكسي، ثم حاول مرة أخرى.";

constexpr COLORREF kBackground = RGB(26, 26, 46);
constexpr COLORREF kAccent = RGB(233, 69, 96);
constexpr COLORREF kCodeBox = RGB(15, 52, 96);
constexpr COLORREF kEnglishText = RGB(204, 204, 204);
constexpr COLORREF kArabicText = RGB(180, 180, 180);
constexpr COLORREF kCountdownLines = RGB(136, 136, 136);
constexpr COLORREF kClipboardNote = RGB(100, 100, 100);

constexpr wchar_t kUiFont[] = L"Segoe UI";
constexpr wchar_t kCodeFont[] = L"Consolas";
constexpr wchar_t kEnglishCountdown[] = L"Application will close in %d seconds...";
constexpr wchar_t kArabicCountdown[] = L"سيتم إغلاق التطبيق خلال %d ثوانٍ...";
constexpr wchar_t kCodeHeading[] = L"\U0001F512 Diagnostic Code / كود التشخيص";
constexpr wchar_t kCopiedNote[] = L"Code copied to clipboard automatically";

struct CountdownState {
  std::wstring title;
  std::wstring message;
  std::wstring arabicMessage;
  std::wstring code;
  int secondsLeft = kStartSeconds;
  HWND window = nullptr;
  UINT_PTR timerId = kTimerId;
};

// The countdown of this thread's alert: its window procedure runs on the
// thread that created the window, so each thread sees only its own.
thread_local CountdownState* currentCountdown = nullptr;

// Held by the alert being shown for the rest of the process: the first alert
// ends the process, and any other caller waits here instead of opening a
// second window.
std::mutex alertLock;
// Set as soon as an alert is on its way, so that the end of the main loop
// does not end the process under it with a success code.
std::atomic<bool> alertUnderWay{false};

UniqueGdiObject<HFONT> MakeFont(int height, int weight, const wchar_t* face = kUiFont,
                                DWORD pitchAndFamily = DEFAULT_PITCH | FF_SWISS) {
  return UniqueGdiObject<HFONT>(::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                              OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                              pitchAndFamily, face));
}

void DrawLine(HDC dc, const std::wstring& text, HFONT font, COLORREF colour, RECT rect, UINT format) {
  SelectionScope selected(dc, font);
  ::SetTextColor(dc, colour);
  ::DrawTextW(dc, text.c_str(), -1, &rect, format);
}

// Height of a word-wrapped, centred text in the given width; at least the
// given least height.
int MeasureWrapped(HDC dc, const std::wstring& text, HFONT font, int width, UINT extra, int least) {
  SelectionScope selected(dc, font);
  RECT rect{0, 0, width, 0};
  ::DrawTextW(dc, text.c_str(), -1, &rect, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | extra);
  return std::max<int>(rect.bottom - rect.top, least);
}

std::wstring Formatted(const wchar_t* pattern, int value) {
  wchar_t buffer[256] = {};
  ::wsprintfW(buffer, pattern, value);
  return buffer;
}

// The layout below is in 96-DPI units; every length goes through px() for
// the monitor the window is on. Fonts are made at each paint, so after a
// move to a monitor of another scale the next paint has them at its size.
struct Canvas {
  HDC dc;
  int w;
  UINT dpi;
  [[nodiscard]] int px(int length) const { return ScaleForDpi(length, dpi); }
  [[nodiscard]] int cx() const { return w / 2; }
};

// The icon, the title and the rule under it.
void PaintHeading(const Canvas& c, const std::wstring& title, HPEN rule) {
  const int iconSize = c.px(64);
  if (auto icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIcon), IMAGE_ICON,
                                                  iconSize, iconSize, LR_SHARED))) {
    ::DrawIconEx(c.dc, (c.w - iconSize) / 2, c.px(20), icon, iconSize, iconSize, 0, nullptr, DI_NORMAL);
  }
  const auto titleFont = MakeFont(c.px(24), FW_BOLD);
  DrawLine(c.dc, title, titleFont.get(), kAccent, {c.px(20), c.px(92), c.w - c.px(20), c.px(127)},
           DT_CENTER | DT_SINGLELINE);
  SelectionScope pen(c.dc, rule);
  ::MoveToEx(c.dc, c.px(40), c.px(137), nullptr);
  ::LineTo(c.dc, c.w - c.px(40), c.px(137));
}

// The English and the Arabic message, wrapped; returns where they end.
int PaintMessages(const Canvas& c, const CountdownState& state) {
  const auto bodyFont = MakeFont(c.px(16), FW_NORMAL);
  const int width = c.w - c.px(60);
  const int h1 = MeasureWrapped(c.dc, state.message, bodyFont.get(), width, 0, c.px(20));
  DrawLine(c.dc, state.message, bodyFont.get(), kEnglishText, {c.px(30), c.px(152), c.w - c.px(30), c.px(152) + h1},
           DT_WORDBREAK | DT_CENTER);
  const int h2 = MeasureWrapped(c.dc, state.arabicMessage, bodyFont.get(), width, DT_RTLREADING, c.px(20));
  DrawLine(c.dc, state.arabicMessage, bodyFont.get(), kArabicText,
           {c.px(30), c.px(162) + h1, c.w - c.px(30), c.px(162) + h1 + h2}, DT_WORDBREAK | DT_CENTER | DT_RTLREADING);
  return c.px(162) + h1 + h2;
}

// The seconds left in a ring, and the two lines that say them.
void PaintCounter(const Canvas& c, int y, int secondsLeft, HBRUSH ringFill, HFONT smallFont) {
  const int cx = c.cx();
  UniqueGdiObject<HPEN> ringPen(::CreatePen(PS_SOLID, c.px(3), kAccent));
  {
    SelectionScope pen(c.dc, ringPen.get());
    SelectionScope brush(c.dc, ringFill);
    ::Ellipse(c.dc, cx - c.px(45), y + c.px(20), cx + c.px(45), y + c.px(110));
  }
  const auto numberFont = MakeFont(c.px(60), FW_BOLD);
  DrawLine(c.dc, Formatted(L"%d", secondsLeft), numberFont.get(), kAccent,
           {cx - c.px(45), y + c.px(30), cx + c.px(45), y + c.px(100)}, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  DrawLine(c.dc, Formatted(kEnglishCountdown, secondsLeft), smallFont, kCountdownLines,
           {c.px(20), y + c.px(120), c.w - c.px(20), y + c.px(140)}, DT_CENTER | DT_SINGLELINE);
  DrawLine(c.dc, Formatted(kArabicCountdown, secondsLeft), smallFont, kCountdownLines,
           {c.px(20), y + c.px(142), c.w - c.px(20), y + c.px(162)}, DT_CENTER | DT_SINGLELINE | DT_RTLREADING);
}

// The diagnostic code in its framed box, with its heading and the note that
// it is on the clipboard.
void PaintCode(const Canvas& c, int y, const std::wstring& code, HBRUSH boxFill, HPEN frame, HFONT smallFont) {
  DrawLine(c.dc, kCodeHeading, smallFont, kAccent, {c.px(20), y + c.px(172), c.w - c.px(20), y + c.px(190)},
           DT_CENTER | DT_SINGLELINE);
  RECT box{c.px(30), y + c.px(194), c.w - c.px(30), y + c.px(224)};
  ::FillRect(c.dc, &box, boxFill);
  {
    SelectionScope pen(c.dc, frame);
    SelectionScope brush(c.dc, ::GetStockObject(HOLLOW_BRUSH));
    ::Rectangle(c.dc, box.left, box.top, box.right, box.bottom);
  }
  const auto codeFont = MakeFont(c.px(12), FW_NORMAL, kCodeFont, FIXED_PITCH | FF_MODERN);
  DrawLine(c.dc, code, codeFont.get(), kAccent, {c.px(35), y + c.px(196), c.w - c.px(35), y + c.px(222)},
           DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
  DrawLine(c.dc, kCopiedNote, smallFont, kClipboardNote, {c.px(20), y + c.px(229), c.w - c.px(20), y + c.px(245)},
           DT_CENTER | DT_SINGLELINE);
}

// Paints off screen, then copies the whole picture at once: no flicker
// while the seconds count down.
void PaintCountdown(HWND window, HDC target, const CountdownState& state) {
  RECT client{};
  ::GetClientRect(window, &client);
  const int w = client.right - client.left;
  const int h = client.bottom - client.top;

  UniqueMemoryDc dc(::CreateCompatibleDC(target));
  UniqueGdiObject<HBITMAP> bitmap(::CreateCompatibleBitmap(target, w, h));
  if (!dc || !bitmap) return;
  SelectionScope selectedBitmap(dc.get(), bitmap.get());
  ::SetBkMode(dc.get(), TRANSPARENT);
  UniqueGdiObject<HBRUSH> background(::CreateSolidBrush(kBackground));
  ::FillRect(dc.get(), &client, background.get());

  const Canvas canvas{dc.get(), w, DpiOfWindow(window)};
  UniqueGdiObject<HPEN> thinAccent(::CreatePen(PS_SOLID, canvas.px(1), kAccent));
  UniqueGdiObject<HBRUSH> codeBrush(::CreateSolidBrush(kCodeBox));
  const auto smallFont = MakeFont(canvas.px(13), FW_NORMAL);
  PaintHeading(canvas, state.title, thinAccent.get());
  const int y = PaintMessages(canvas, state);
  PaintCounter(canvas, y, state.secondsLeft, codeBrush.get(), smallFont.get());
  if (!state.code.empty()) PaintCode(canvas, y, state.code, codeBrush.get(), thinAccent.get(), smallFont.get());

  ::BitBlt(target, 0, 0, w, h, dc.get(), 0, 0, SRCCOPY);
}

// Escapes a text for the diagnostic page. Besides the HTML characters, "%"
// becomes an entity: the page travels as an about: address, whose percent
// sequences the host may decode back into markup.
std::wstring EscapeForDiagnosticPage(const std::wstring& text) {
  return ReplaceEach(EscapeForHtml(text), {{L'%', L"&#37;"}});
}

}  // namespace

std::wstring BuildDiagnosticCommandLine(const std::wstring& title, const std::wstring& message,
                                        const std::wstring& arabicMessage, const std::wstring& code) {
  const std::wstring page =
      FillPage(pages::kDiagnosticPage, {{L"TITLE", EscapeForDiagnosticPage(title)},
                                        {L"MESSAGE", EscapeForDiagnosticPage(message)},
                                        {L"ARABIC_MESSAGE", EscapeForDiagnosticPage(arabicMessage)},
                                        {L"CODE", EscapeForDiagnosticPage(code)}});
  return L"mshta \"about:" + page + L"\"";
}

void CopyCodeToClipboard(const std::string& code) {
  ClipboardScope clipboard(nullptr);
  MIRAVELL_RETURN_VALUE_LAST_ERROR_IF(, !clipboard.open());
  MIRAVELL_RETURN_VALUE_IF_WIN32_BOOL_FALSE(, ::EmptyClipboard());
  UniqueGlobal block(MIRAVELL_LOG_LAST_ERROR_IF_NULL(::GlobalAlloc(GMEM_MOVEABLE, code.size() + 1)));
  if (!block) return;
  {
    GlobalLockScope lock(block.get());
    MIRAVELL_RETURN_VALUE_LAST_ERROR_IF(, lock.data() == nullptr);
    std::memcpy(lock.data(), code.c_str(), code.size() + 1);
  }
  // On success the clipboard owns the block.
  if (MIRAVELL_LOG_LAST_ERROR_IF_NULL(::SetClipboardData(CF_TEXT, block.get())) != nullptr) (void)block.release();
}

void ShowCountdownWindow(const std::wstring& title, const std::wstring& message, const std::wstring& arabicMessage,
                         const std::wstring& code) {
  CountdownState state{title, message, arabicMessage, code};
  currentCountdown = &state;

  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  UniqueGdiObject<HBRUSH> background(::CreateSolidBrush(kBackground));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = CountdownWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = background.get();
  windowClass.lpszClassName = kAlertWindowClass;
  MIRAVELL_LOG_LAST_ERROR_IF_NULL(::RegisterClassExW(&windowClass));
  // The class keeps the brush's handle, so the class goes before the brush,
  // and after the window; the state goes out of reach with the class.
  const auto unregister = ScopeExit([instance] {
    currentCountdown = nullptr;
    ::UnregisterClassW(kAlertWindowClass, instance);
  });

  // Centred on the primary monitor, at its scale.
  const UINT dpi = PrimaryMonitorDpi();
  const int width = ScaleForDpi(kWidth, dpi);
  const int height = ScaleForDpi(code.empty() ? kHeightWithoutCode : kHeightWithCode, dpi);
  UniqueWindow window(MIRAVELL_LOG_LAST_ERROR_IF_NULL(::CreateWindowExW(
      WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kAlertWindowClass, kCountdownText, WS_POPUP | WS_VISIBLE | WS_BORDER,
      (::GetSystemMetrics(SM_CXSCREEN) - width) / 2, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
      nullptr, nullptr, instance, nullptr)));
  if (window) {
    state.window = window.get();
    MIRAVELL_LOG_LAST_ERROR_IF_NULL(::SetTimer(window.get(), state.timerId, seams::TimerInterval(1000), nullptr));
    ::SetForegroundWindow(window.get());
    ::SetWindowPos(window.get(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::MessageBeep(MB_ICONHAND);
    MSG msg{};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    window.reset();
    // Destroying the window posted one more WM_QUIT. Left in the queue it
    // would close the fallback message box below the moment it opened.
    MSG pending{};
    while (::PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  } else {
    seams::ShowMessageBox(
        nullptr, message + L"\n\n" + arabicMessage + L"\n\nThe application will close in " + L"10" + L" seconds.",
        title, MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST);
  }
}

LRESULT CALLBACK CountdownWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    CountdownState* state = currentCountdown;
    switch (message) {
      case WM_NCHITTEST:
        return HTCAPTION;
      case WM_TIMER:
        if (state != nullptr && wParam == state->timerId) {
          if (--state->secondsLeft < 1) {
            ::KillTimer(window, state->timerId);
            ::PostQuitMessage(0);
          } else {
            ::InvalidateRect(window, nullptr, FALSE);
          }
          return 0;
        }
        break;
      case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
      case WM_DPICHANGED:
        ApplySuggestedDpiRect(window, lParam);
        ::InvalidateRect(window, nullptr, FALSE);
        return 0;
      case WM_PAINT: {
        PaintScope paint(window);
        if (state != nullptr) PaintCountdown(window, paint.dc(), *state);
        return 0;
      }
      default:
        break;
    }
  }
  MIRAVELL_CATCH_RETURN(0)
  return ::DefWindowProcW(window, message, wParam, lParam);
}

bool LaunchDetached(const std::wstring& commandLine) {
  // The command line names "mshta" for the page's sake; the program started
  // is always the system's own.
  return seams::LaunchDetachedSeam(SystemFilePath(L"mshta.exe"), commandLine);
}

void TerminateSelf() {
  // A failure was reported to the user: the process ends with 1, not 0.
  constexpr UINT kExitCode = 1;
  using NtTerminateProcessFn = LONG(NTAPI*)(HANDLE, LONG);
  if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
    if (auto terminate = reinterpret_cast<NtTerminateProcessFn>(
            reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtTerminateProcess")))) {
      terminate(::GetCurrentProcess(), static_cast<LONG>(kExitCode));
      ::Sleep(1000);
    }
  }
  seams::EndProcess(kExitCode);
}

void ShowServiceInterceptionAlert(const std::wstring& host) {
  ShowAlertAndExit(kInterceptedTitle, kInterceptedMessage, kInterceptedArabic, "SSL_" + WideToUtf8(host));
}

void ShowBrowserInterceptionAlert(const std::wstring& host) {
  std::string code = "MITM_PIN_" + WideToUtf8(host);
  if (code.size() > kMaxBrowserCode) code.resize(kMaxBrowserCode);
  ShowAlertAndExit(kInterceptedTitle, kInterceptedMessage, kBrowserInterceptedArabic, code);
}

void AnnounceAlert() { alertUnderWay = true; }

bool AlertUnderWay() { return alertUnderWay; }

void WaitForAlertUnderWay() {
  if (!alertUnderWay) return;
  // The alert ends the process itself once the user has seen it.
  for (;;) ::Sleep(INFINITE);
}

void ShowAlertAndExit(const std::wstring& title, const std::wstring& message, const std::wstring& arabicMessage,
                      const std::string& code) {
  alertUnderWay = true;
  std::unique_lock<std::mutex> onlyAlert(alertLock);
  try {
    runtime::KillEngineChildren();
    CopyCodeToClipboard(code);
    const std::wstring wideCode = WidenBytes(code);
    ShowCountdownWindow(title, message, arabicMessage, wideCode);
    if (!LaunchDetached(BuildDiagnosticCommandLine(title, message, arabicMessage, wideCode))) {
      seams::ShowMessageBox(nullptr, message + L"\n\n" + arabicMessage + L"\n\nDiagnostic Code:\n" + wideCode, title,
                            MB_ICONHAND | MB_SETFOREGROUND | MB_TOPMOST);
    }
  } catch (const seams::ProcessExitRequested&) {
    throw;
  }
  // Whatever failed on the way, the process still ends.
  MIRAVELL_CATCH_LOG()
  TerminateSelf();
}

#include "app/Startup.h"

#include "alerts/AlertWindow.h"
#include "app/BrowserStage.h"
#include "app/Elevation.h"
#include "app/Gdiplus.h"
#include "app/IntegrityHooks.h"
#include "app/LinkErrors.h"
#include "app/MainWindows.h"
#include "app/Paths.h"
#include "app/ProtocolRegistration.h"
#include "app/ServiceStages.h"
#include "app/Splash.h"
#include "app/UpdateFlow.h"
#include "app/WindowsVersion.h"
#include "common/AppState.h"
#include "common/Handles.h"
#include "common/Log.h"
#include "common/Seams.h"
#include "links/LinkResolution.h"
#include "net/Pinning.h"

#include <optional>
#include <string>

namespace {

constexpr wchar_t kUnsupportedOsText[] =
    L"This application requires Windows 10 or later.\n"
    L"هذا التطبيق يتطلب ويندوز 10 أو أحدث.";
constexpr wchar_t kUnsupportedOsTitle[] = L"Unsupported OS";
constexpr wchar_t kStartupErrorText[] =
    L"Failed to display the application window.\n"
    L"Please make sure Microsoft Edge WebView2 is installed.";
constexpr wchar_t kStartupErrorTitle[] = L"Miravell - Startup Error";
constexpr UINT kErrorBoxFlags = MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;

// GDI+ for the life of the sequence; shut down after the browser hosts.
class GdiplusSession {
 public:
  GdiplusSession() noexcept {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, own thread, external codecs
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
  }
  ~GdiplusSession() { Shutdown(); }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;
  void Shutdown() noexcept {
    if (token_ != 0) Gdiplus::GdiplusShutdown(token_);
    token_ = 0;
  }

 private:
  ULONG_PTR token_ = 0;
};

int RunMessageLoop() {
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

// The stages below go by these names in the code and its comments. The step
// log numbers only the later ones, its own way ("Step 7" the pin stages,
// "Step 7B" the update check, "Step 8" the scheme, "Step 9" the command
// line); its texts stay as support staff know them.

// Elevation: an unelevated copy starts an elevated one and ends.
void ElevationStage(const std::wstring& commandLine) {
  AppState& app = GetAppState();
  app.isElevated = IsProcessElevated();
  if (!app.isElevated) RestartElevated(GetExecutablePath(), commandLine);
}

// Splash, then the messages its creation queued, before the checks begin.
void SplashStage(HINSTANCE instance) {
  if (GetWindowState().splashWindow == nullptr) CreateSplashWindow(instance);
  if (GetWindowState().splashWindow == nullptr) LogLine("Failed to create splash screen from embedded resources.");
  DrainMessageQueue();
}

// Windows release: false after telling the student that this one is too old.
bool WindowsReleaseStage() {
  if (GetWindowsVersion() >= 10) return true;
  seams::ShowMessageBox(nullptr, kUnsupportedOsText, kUnsupportedOsTitle, kErrorBoxFlags);
  return false;
}

// Built-in pins, then downloaded pins. The link argument is read here
// already, so that its service's connection opens while the pins load.
LinkArgument PinStages(const std::wstring& commandLine) {
  LogLine("Step 7: Initializing SSL pinning defaults");
  InstallBuiltInPins();
  LinkArgument argument = ReadLinkArgument(commandLine);
  WarmServiceConnections(argument.link);
  LogLine("Step 7: Loading dynamic pins synchronously");
  try {
    LoadDynamicPinsStage();
    LogLine("Step 7: Dynamic pins loaded OK");
  } catch (...) {
    LogLine("Step 7: Dynamic pins FAILED (exception)");
  }
  return argument;
}

// Scheme registration and command line.
void SchemeAndCommandLineStages(const LinkArgument& argument) {
  LogLine("Step 8: Registering URL protocol...");
  RegisterUrlProtocol();
  LogLine("Step 9: Parsing command line...");
  LogLine(std::string("Step 9: hasSchemeArgs=") + (argument.hasSchemeArgs ? "1" : "0"));
}

// Window: the player's for a link, else the initialisation screen's.
// Returns the exit code when the start ends here instead.
std::optional<int> WindowStage(HINSTANCE instance, const LinkArgument& argument) {
  RegisterMainWindowClass(instance, argument.hasSchemeArgs);
  if (!argument.hasSchemeArgs) {
    if (CreateInitScreen(instance)) return std::nullopt;
    ReleaseBrowserEnvironment();
    seams::ShowMessageBox(nullptr, kStartupErrorText, kStartupErrorTitle, kErrorBoxFlags);
    return 1;
  }
  HWND window = CreatePlayerWindowFrame(instance);
  std::string reason;
  if (!ParseSchemeArgs(argument.link, reason)) {
    // No window will show a page: the engine goes before the message does.
    ReleaseBrowserEnvironment();
    return ReportLinkFailure(reason);
  }
  integrity::OnLinkParsed();
  RunUpdateCheck(GetAppState().domain, false);
  if (window == nullptr || !CreatePlayerWindow(instance, window)) return 1;
  return std::nullopt;
}

// Everything between GDI+ and the shutdown, with the check groups between
// the stages. Returns the exit code.
int RunStages(HINSTANCE instance, const std::wstring& commandLine) {
  integrity::RunStartupChecks(integrity::StartupGroup::First);
  ElevationStage(commandLine);
  SplashStage(instance);
  if (!WindowsReleaseStage()) return 1;
  integrity::RunStartupChecks(integrity::StartupGroup::Second);

  if (!EnsureBrowserRuntimeStage()) return 1;
  // Every stage from here to the window waits on the service; the engine
  // starts meanwhile instead of after them.
  StartBrowserEnvironment();
  const LinkArgument argument = PinStages(commandLine);

  integrity::RunStartupChecks(integrity::StartupGroup::Third);
  integrity::StartBackgroundGuard();
  RunUpdateCheck(L"", true);
  integrity::RunStartupChecks(integrity::StartupGroup::Fourth);

  SchemeAndCommandLineStages(argument);
  if (const std::optional<int> exitCode = WindowStage(instance, argument)) return *exitCode;
  return RunMessageLoop();
}

}  // namespace

int RunStartupSequence(HINSTANCE instance, const std::wstring& commandLine) {
  // COM for this thread, single-threaded apartment; its result does not
  // matter. Declared first, so it is uninitialised last.
  const ComInitScope com(COINIT_APARTMENTTHREADED);
  GdiplusSession gdiplus;
  // The network library finds an interception of the service's connections;
  // telling the student is the program's.
  SetPinMismatchAction(ShowServiceInterceptionAlert);

  const int exitCode = RunStages(instance, commandLine);
  // A window closed while an alert counts down: the alert ends the process.
  WaitForAlertUnderWay();

  integrity::StopBackgroundGuard();
  DeleteBrowserHosts();
  gdiplus.Shutdown();
  return exitCode;
}

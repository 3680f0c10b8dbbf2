#include "player/WebViewHost.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "alerts/AlertWindow.h"
#include "common/AppState.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Log.h"
#include "common/Seams.h"
#include "common/Text.h"
#include "net/Pinning.h"
#include "player/DownloadPolicy.h"
#include "player/NavigationPolicy.h"
#include "player/RequestFilter.h"
#include "runtime/BrowserLoader.h"
#include "runtime/BrowserRuntime.h"
#include "runtime/CallbackHandler.h"
#include "runtime/EnvironmentOptions.h"

using Microsoft::WRL::ComPtr;

namespace WebViewHost {
namespace {

// HRESULT_FROM_WIN32(ERROR_INVALID_STATE): the runtime's word for a broken
// runtime or profile folder, the one failure a repair can cure.
constexpr HRESULT kBrokenRuntime = static_cast<HRESULT>(0x8007139F);
constexpr int kMaxAttempts = 3;
// Dark grey behind the page until it paints.
constexpr COREWEBVIEW2_COLOR kBackground{255, 0x12, 0x12, 0x12};

// Takes a string the browser allocated and frees it.
std::wstring TakeString(LPWSTR text) {
  UniqueCoTaskMem<wchar_t> owner(text);
  return text != nullptr ? std::wstring(text) : std::wstring();
}

// Creates the environment options (the engine's extra switches) and asks
// the loader for an environment; the call's own result.
HRESULT BeginEnvironment(const std::wstring& userDataFolder,
                         ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  ComPtr<runtime::EnvironmentOptions> options = runtime::EnvironmentOptions::Create();
  if (options) {
    MIRAVELL_LOG_IF_FAILED(options->put_AdditionalBrowserArguments(config::Wide(config::Id::BrowserArguments).c_str()));
  }
  return CreateCoreWebView2EnvironmentWithOptions(nullptr, userDataFolder.c_str(), options.Get(), handler);
}

}  // namespace

struct StartedEnvironment::Pending {
  bool answered = false;
  // The owner dropped it: an answer arriving now is let go at once.
  bool dropped = false;
  HRESULT result = S_OK;
  ComPtr<ICoreWebView2Environment> environment;
  Answer next;
};

StartedEnvironment::StartedEnvironment(std::wstring userDataFolder)
    : userDataFolder_(std::move(userDataFolder)), pending_(std::make_shared<Pending>()) {}

std::unique_ptr<StartedEnvironment> StartedEnvironment::Start(const std::wstring& userDataFolder) {
  runtime::KillOrphanedWebViewProcesses();
  std::unique_ptr<StartedEnvironment> started(new StartedEnvironment(userDataFolder));
  auto answered = runtime::MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [pending = started->pending_](HRESULT result, ICoreWebView2Environment* created) {
        if (pending->dropped || pending->answered) return;
        pending->answered = true;
        if (pending->next) {
          const Answer next = std::exchange(pending->next, nullptr);
          next(result, created);
          return;
        }
        pending->result = result;
        pending->environment = created;
      });
  started->callResult_ = answered ? BeginEnvironment(userDataFolder, answered.Get()) : E_OUTOFMEMORY;
  return started;
}

StartedEnvironment::~StartedEnvironment() {
  pending_->dropped = true;
  pending_->next = nullptr;
  pending_->environment.Reset();
}

void StartedEnvironment::Then(Answer next) {
  if (!pending_->answered) {
    pending_->next = std::move(next);
    return;
  }
  // Handed on, not kept: the host holds it from here.
  const ComPtr<ICoreWebView2Environment> environment = std::exchange(pending_->environment, nullptr);
  next(pending_->result, environment.Get());
}

// Shared by Initialize and the completion handlers, which may outlive the
// wait when it ends early.
struct WebView::Attempt {
  explicit Attempt(HWND parent) : window(parent) {}

  void Finish(HRESULT ended) {
    result = ended;
    done = true;
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::PostMessageW(window, WM_NULL, 0, 0));  // wakes the waiting GetMessageW
  }

  HWND window;
  bool done = false;
  // Set when the wait ended without an answer (a quit message): the start is
  // over, and an answer arriving later must neither build a browser nor tell
  // the owner again, nor touch a host that may be gone by then.
  bool abandoned = false;
  HRESULT result = S_OK;
};

WebView::~WebView() { ReleaseEngine(); }

void WebView::CloseController() {
  registrations_.clear();
  if (controller_) MIRAVELL_LOG_IF_FAILED(controller_->Close());
  webview_.Reset();
  controller_.Reset();
}

void WebView::ReleaseEngine() {
  CloseController();
  environment_.Reset();
}

bool WebView::Initialize(HWND parent, const std::wstring& userDataFolder, std::unique_ptr<StartedEnvironment> started) {
  parentWindow_ = parent;
  userDataFolder_ = userDataFolder;
  if (started && started->userDataFolder() != userDataFolder) started.reset();
  // An environment started early ended the orphans itself, just before.
  if (!started) runtime::KillOrphanedWebViewProcesses();

  for (int attempts = 0;;) {
    const HRESULT failure = StartOnce(started.get());
    // The early environment serves the first attempt only; a repair deletes
    // the folder it would hold open.
    started.reset();
    if (webview_) return true;
    if (failure != kBrokenRuntime) break;
    runtime::RepairBrowserRuntime(parent, userDataFolder);
    if (++attempts >= kMaxAttempts) break;
  }
  if (options_.onInitComplete) options_.onInitComplete(false);
  return false;
}

HRESULT WebView::StartOnce(StartedEnvironment* started) {
  const auto attempt = std::make_shared<Attempt>(parentWindow_);
  const HRESULT call = RequestEnvironment(attempt, started);
  if (FAILED(call)) return call;
  WaitFor(*attempt);
  return attempt->result;
}

HRESULT WebView::RequestEnvironment(const std::shared_ptr<Attempt>& attempt, StartedEnvironment* started) {
  auto answered = [this, attempt](HRESULT result, ICoreWebView2Environment* created) {
    if (!attempt->abandoned) CreateController(attempt, result, created);
  };
  if (started == nullptr) {
    return BeginEnvironment(
        userDataFolder_,
        runtime::MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(std::move(answered)).Get());
  }
  const HRESULT call = started->callResult();
  if (SUCCEEDED(call)) started->Then(std::move(answered));
  return call;
}

void WebView::WaitFor(Attempt& attempt) {
  MSG message{};
  while (!attempt.done) {
    if (::GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (!attempt.done) attempt.abandoned = true;
}

void WebView::CreateController(const std::shared_ptr<Attempt>& attempt, HRESULT result,
                               ICoreWebView2Environment* created) {
  if (FAILED(result) || created == nullptr) return attempt->Finish(result);
  environment_ = created;
  auto answered = runtime::MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
      [this, attempt](HRESULT controllerResult, ICoreWebView2Controller* createdController) {
        if (attempt->abandoned) {
          if (createdController != nullptr) MIRAVELL_LOG_IF_FAILED(createdController->Close());
          return;
        }
        TakeController(attempt, controllerResult, createdController);
      });
  // A failure here means no completion will ever arrive: end the
  // attempt with its code instead of waiting for ever.
  const HRESULT begun = environment_->CreateCoreWebView2Controller(attempt->window, answered.Get());
  if (FAILED(begun)) attempt->Finish(begun);
}

void WebView::TakeController(const std::shared_ptr<Attempt>& attempt, HRESULT result,
                             ICoreWebView2Controller* created) {
  if (FAILED(result) || created == nullptr) return attempt->Finish(result);
  const HRESULT ready = SetUpController(created);
  if (FAILED(ready)) return attempt->Finish(ready);
  if (options_.onInitComplete) options_.onInitComplete(true);
  attempt->Finish(S_OK);
}

HRESULT WebView::SetUpController(ICoreWebView2Controller* created) {
  controller_ = created;
  webview_.Reset();
  const HRESULT viewResult = controller_->get_CoreWebView2(&webview_);
  ComPtr<ICoreWebView2Controller2> controller2;
  if (SUCCEEDED(controller_.As(&controller2))) {
    MIRAVELL_LOG_IF_FAILED(controller2->put_DefaultBackgroundColor(kBackground));
  }
  ComPtr<ICoreWebView2Controller4> controller4;
  if (SUCCEEDED(controller_.As(&controller4))) {
    MIRAVELL_LOG_IF_FAILED(controller4->put_AllowExternalDrop(FALSE));
  }
  RECT bounds{};
  ::GetClientRect(parentWindow_, &bounds);
  MIRAVELL_LOG_IF_FAILED(controller_->put_Bounds(bounds));
  HRESULT ready = FAILED(viewResult) ? viewResult : (webview_ ? S_OK : E_NOINTERFACE);
  if (SUCCEEDED(ready)) ready = SetupEventHandlers();
  if (SUCCEEDED(ready)) ready = SetupDownloadHandler();
  if (SUCCEEDED(ready)) SetupRecoveryHandlers();
  // A browser without its navigation policy, pin check or request tags must
  // not run at all: the start has failed.
  if (FAILED(ready)) CloseController();
  return ready;
}

template <typename View, typename Handler, typename EventArgs>
HRESULT WebView::Register(const ComPtr<View>& view,
                          HRESULT (STDMETHODCALLTYPE View::*add)(Handler*, EventRegistrationToken*),
                          HRESULT (STDMETHODCALLTYPE View::*remove)(EventRegistrationToken),
                          void (WebView::*on)(EventArgs*)) {
  EventRegistrationToken token{};
  const HRESULT result = (view.Get()->*add)(runtime::MakeHandler<Handler>([this, on](ICoreWebView2*, EventArgs* args) {
                                              if (args != nullptr) (this->*on)(args);
                                            }).Get(),
                                            &token);
  if (SUCCEEDED(result)) registrations_.emplace_back(view, remove, token);
  return result;
}

HRESULT WebView::SetupEventHandlers() {
  HRESULT result = Register(webview_, &ICoreWebView2::add_NavigationStarting, &ICoreWebView2::remove_NavigationStarting,
                            &WebView::OnNavigationStarting);
  if (SUCCEEDED(result)) {
    result = Register(webview_, &ICoreWebView2::add_WebMessageReceived, &ICoreWebView2::remove_WebMessageReceived,
                      &WebView::OnWebMessage);
  }
  if (SUCCEEDED(result)) {
    result = Register(webview_, &ICoreWebView2::add_PermissionRequested, &ICoreWebView2::remove_PermissionRequested,
                      &WebView::OnPermissionRequested);
  }
  // Without this handler a page could open windows of its own, outside the
  // navigation policy and the request filter.
  if (SUCCEEDED(result)) {
    result = Register(webview_, &ICoreWebView2::add_NewWindowRequested, &ICoreWebView2::remove_NewWindowRequested,
                      &WebView::OnNewWindowRequested);
  }
  if (FAILED(result)) return result;

  // The newer filter also sees requests of workers; where it is missing or
  // refused, the older one still covers the pages themselves.
  result = E_NOINTERFACE;
  ComPtr<ICoreWebView2_22> view22;
  if (SUCCEEDED(webview_.As(&view22))) {
    // Refused, it is logged here: the older filter then takes its place.
    result = MIRAVELL_LOG_IF_FAILED(view22->AddWebResourceRequestedFilterWithRequestSourceKinds(
        L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL));
  }
  if (FAILED(result)) result = webview_->AddWebResourceRequestedFilter(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
  if (FAILED(result)) return result;
  return Register(webview_, &ICoreWebView2::add_WebResourceRequested, &ICoreWebView2::remove_WebResourceRequested,
                  &WebView::OnResourceRequested);
}

void WebView::OnNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args) {
  if (!options_.onNavigationStarting) return;
  LPWSTR raw = nullptr;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(args->get_Uri(&raw))) || raw == nullptr) return;
  const std::wstring uri = TakeString(raw);
  bool cancel = false;
  options_.onNavigationStarting(uri, cancel);
  if (cancel) {
    MIRAVELL_LOG_IF_FAILED(args->put_Cancel(TRUE));
  } else {
    recovery_.NoteNavigation();
    if (IsWebAddress(uri)) lastAddress_ = uri;
  }
}

void WebView::OnWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args) {
  LPWSTR raw = nullptr;
  // A message posted as an object or a number is not a string: dropped.
  if (FAILED(args->TryGetWebMessageAsString(&raw)) || raw == nullptr) return;
  std::wstring message = TakeString(raw);
  // Any page could post it, and all it can do is load
  // the content again.
  if (message == kRetryLoadMessage) {
    LogLine("Load: the student chose to try again");
    return ReloadContent();
  }
  if (options_.onWebMessage) options_.onWebMessage(message);
}

void WebView::OnPermissionRequested(ICoreWebView2PermissionRequestedEventArgs* args) {
  COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
  MIRAVELL_LOG_IF_FAILED(args->get_PermissionKind(&kind));
  const bool device = kind == COREWEBVIEW2_PERMISSION_KIND_MICROPHONE || kind == COREWEBVIEW2_PERMISSION_KIND_CAMERA ||
                      kind == COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS;
  // The requesting frame may be any page the lesson embeds; only
  // the owner's own pages get the devices unasked, every other
  // request takes the engine's own rule.
  bool allow = false;
  if (device && options_.mayUseDevices) {
    LPWSTR raw = nullptr;
    if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(args->get_Uri(&raw))) && raw != nullptr) {
      allow = options_.mayUseDevices(TakeString(raw));
    }
  }
  MIRAVELL_LOG_IF_FAILED(
      args->put_State(allow ? COREWEBVIEW2_PERMISSION_STATE_ALLOW : COREWEBVIEW2_PERMISSION_STATE_DEFAULT));
}

void WebView::OnNewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* args) {
  // No second window, ever.
  MIRAVELL_LOG_IF_FAILED(args->put_Handled(TRUE));
  LPWSTR raw = nullptr;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(args->get_Uri(&raw))) || raw == nullptr) return;
  const std::wstring uri = TakeString(raw);
  // Only web pages: the initialisation screen lets every navigation
  // through, and a page's window.open("file://...") must not reach
  // the file system (or a remote share) from there.
  if (webview_ && IsWebAddress(uri)) {
    MIRAVELL_LOG_IF_FAILED(webview_->Navigate(uri.c_str()));
  }
}

void WebView::OnResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args) {
  HandleResourceRequest(environment_.Get(), options_.onResourceRequested, args);
}

HRESULT WebView::SetupDownloadHandler() {
  ComPtr<ICoreWebView2_4> view4;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(webview_.As(&view4)))) return S_OK;
  return Register(view4, &ICoreWebView2_4::add_DownloadStarting, &ICoreWebView2_4::remove_DownloadStarting,
                  &WebView::OnDownloadStarting);
}

void WebView::OnDownloadStarting(ICoreWebView2DownloadStartingEventArgs* args) {
  LPWSTR raw = nullptr;
  // A path the engine does not give cannot be judged: stopped.
  const std::wstring path =
      SUCCEEDED(MIRAVELL_LOG_IF_FAILED(args->get_ResultFilePath(&raw))) ? TakeString(raw) : std::wstring();
  bool cancel = IsRunnableDownload(path);
  if (!cancel && options_.onDownloadStarting) {
    std::wstring uri;
    ComPtr<ICoreWebView2DownloadOperation> operation;
    if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(args->get_DownloadOperation(&operation))) && operation) {
      raw = nullptr;
      if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(operation->get_Uri(&raw)))) uri = TakeString(raw);
    }
    options_.onDownloadStarting(uri, cancel);
  }
  if (cancel) MIRAVELL_LOG_IF_FAILED(args->put_Cancel(TRUE));
}

void WebView::SetupRecoveryHandlers() {
  HRESULT result = Register(webview_, &ICoreWebView2::add_ProcessFailed, &ICoreWebView2::remove_ProcessFailed,
                            &WebView::OnProcessFailed);
  MIRAVELL_LOG_IF_FAILED(result);
  result = Register(webview_, &ICoreWebView2::add_NavigationCompleted, &ICoreWebView2::remove_NavigationCompleted,
                    &WebView::OnNavigationCompleted);
  MIRAVELL_LOG_IF_FAILED(result);
}

void WebView::OnProcessFailed(ICoreWebView2ProcessFailedEventArgs* args) {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED;
  MIRAVELL_LOG_IF_FAILED(args->get_ProcessFailedKind(&kind));
  COREWEBVIEW2_PROCESS_FAILED_REASON reason = COREWEBVIEW2_PROCESS_FAILED_REASON_UNEXPECTED;
  int exitCode = 0;
  ComPtr<ICoreWebView2ProcessFailedEventArgs2> args2;
  if (SUCCEEDED(args->QueryInterface(IID_PPV_ARGS(&args2)))) {
    MIRAVELL_LOG_IF_FAILED(args2->get_Reason(&reason));
    MIRAVELL_LOG_IF_FAILED(args2->get_ExitCode(&exitCode));
  }
  // Handled from the window's own loop: a new engine must not be
  // built inside the dying one's event.
  const WPARAM failure = (static_cast<WPARAM>(static_cast<unsigned>(kind)) << 32) |
                         static_cast<WPARAM>(static_cast<std::uint32_t>(exitCode));
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::PostMessageW(parentWindow_, kEngineFailedMessage, failure, static_cast<LPARAM>(reason)));
}

void WebView::OnNavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args) {
  if (!webview_) return;
  BOOL success = TRUE;
  COREWEBVIEW2_WEB_ERROR_STATUS status = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
  int httpStatus = 0;
  MIRAVELL_LOG_IF_FAILED(args->get_IsSuccess(&success));
  MIRAVELL_LOG_IF_FAILED(args->get_WebErrorStatus(&status));
  ComPtr<ICoreWebView2NavigationCompletedEventArgs2> args2;
  if (SUCCEEDED(args->QueryInterface(IID_PPV_ARGS(&args2))))
    MIRAVELL_LOG_IF_FAILED(args2->get_HttpStatusCode(&httpStatus));
  const std::optional<LoadFailure> failure = ClassifyLoad(success != FALSE, status, httpStatus);
  if (!failure) return;
  LogLine(std::string("Load: failed, ") + LoadFailureName(*failure) + " (web error status " +
          std::to_string(static_cast<int>(status)) + ", HTTP status " + std::to_string(httpStatus) +
          "); showing the retry page");
  MIRAVELL_LOG_IF_FAILED(
      webview_->NavigateToString(LoadFailedPage(GetAppState().productName, *failure, options_.showsLesson).c_str()));
}

void WebView::ReloadContent() {
  if (!webview_) return;
  ForgetUnreachableHosts();
  if (options_.onReloadContent) return options_.onReloadContent();
  if (!lastAddress_.empty()) {
    MIRAVELL_LOG_IF_FAILED(webview_->Navigate(lastAddress_.c_str()));
  } else {
    MIRAVELL_LOG_IF_FAILED(webview_->Reload());
  }
}

void WebView::Recreate() {
  ReleaseEngine();
  Initialize(parentWindow_, userDataFolder_);
}

void WebView::HandleProcessFailure(WPARAM failure, LPARAM reasonValue) {
  const auto kind = static_cast<COREWEBVIEW2_PROCESS_FAILED_KIND>(static_cast<std::uint64_t>(failure) >> 32);
  const auto exitCode = static_cast<int>(static_cast<std::uint32_t>(failure & 0xFFFFFFFFu));
  const auto reason = static_cast<COREWEBVIEW2_PROCESS_FAILED_REASON>(reasonValue);
  if (AlertUnderWay()) {
    // The alert ended the engine's processes on its way to ending this one:
    // an engine started again would show the lesson behind it.
    LogLine(DescribeEngineFailure(kind, reason, exitCode, Recovery::Ignore, recovery_.recentFailures()));
    return;
  }
  if (recovering_) {
    // Reported while a recovery runs (its question may be open): joined to
    // it, and a browser that went meanwhile is started again at its end.
    if (RecoveryFor(kind) == Recovery::Recreate) browserFailedMeanwhile_ = true;
    LogLine(DescribeEngineFailure(kind, reason, exitCode, Recovery::Ignore, recovery_.recentFailures()));
    return;
  }
  Recovery action = recovery_.Decide(kind, ::GetTickCount64());
  LogLine(DescribeEngineFailure(kind, reason, exitCode, action, recovery_.recentFailures()));
  if (action == Recovery::LogOnly || action == Recovery::Ignore) return;
  recovering_ = true;
  browserFailedMeanwhile_ = false;
  if (action == Recovery::GiveUp) {
    const int answer = seams::ShowMessageBox(parentWindow_, kEngineGaveUpText, kEngineGaveUpTitle,
                                             MB_RETRYCANCEL | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
    if (answer != IDRETRY) {
      LogLine("Engine: the student closed the player");
      seams::EndProcess(1);
    }
    LogLine("Engine: the student chose to try again");
    recovery_.Forget();
    action = RecoveryFor(kind);
  }
  if (action == Recovery::Reload && browserFailedMeanwhile_) action = Recovery::Recreate;
  if (action == Recovery::Recreate) {
    Recreate();
  } else {
    ReloadContent();
  }
  recovering_ = false;
}

void WebView::ApplySettings() {
  if (!webview_) return;
  ComPtr<ICoreWebView2Settings> settings;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(webview_->get_Settings(&settings))) || !settings) return;
  MIRAVELL_LOG_IF_FAILED(settings->put_AreDevToolsEnabled(FALSE));
  MIRAVELL_LOG_IF_FAILED(settings->put_AreDefaultContextMenusEnabled(FALSE));
  MIRAVELL_LOG_IF_FAILED(settings->put_IsStatusBarEnabled(FALSE));
  MIRAVELL_LOG_IF_FAILED(settings->put_IsZoomControlEnabled(FALSE));
  ComPtr<ICoreWebView2Settings3> settings3;
  if (SUCCEEDED(settings.As(&settings3))) {
    MIRAVELL_LOG_IF_FAILED(settings3->put_AreBrowserAcceleratorKeysEnabled(FALSE));
  }
  // An older runtime without the setting keeps its viewer as it is.
  ComPtr<ICoreWebView2Settings7> settings7;
  if (options_.hidePdfSaveAndPrint && SUCCEEDED(MIRAVELL_LOG_IF_FAILED(settings.As(&settings7)))) {
    MIRAVELL_LOG_IF_FAILED(settings7->put_HiddenPdfToolbarItems(static_cast<COREWEBVIEW2_PDF_TOOLBAR_ITEMS>(
        COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE | COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS |
        COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT)));
  }
}

void WebView::Resize(int width, int height) {
  if (controller_) MIRAVELL_LOG_IF_FAILED(controller_->put_Bounds(RECT{0, 0, width, height}));
}

Hosts& CurrentHosts() noexcept {
  static Hosts hosts;
  return hosts;
}

}  // namespace WebViewHost

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

// Shared by Initialize and the completion handlers, which may outlive the
// wait when it ends early.
struct Attempt {
  bool done = false;
  // Set when the wait ended without an answer (a quit message): the start is
  // over, and an answer arriving later must neither build a browser nor tell
  // the owner again, nor touch a host that may be gone by then.
  bool abandoned = false;
  HRESULT result = S_OK;
};

void Finish(const std::shared_ptr<Attempt>& attempt, HWND window, HRESULT result) {
  attempt->result = result;
  attempt->done = true;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::PostMessageW(window, WM_NULL, 0, 0));  // wakes the waiting GetMessageW
}

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

WebView::~WebView() { ReleaseEngine(); }

void WebView::ReleaseEngine() {
  registrations_.clear();
  if (controller) MIRAVELL_LOG_IF_FAILED(controller->Close());
  webview.Reset();
  controller.Reset();
  environment.Reset();
}

bool WebView::Initialize(HWND parent, const std::wstring& userDataFolder, int) {
  return Initialize(parent, userDataFolder, std::unique_ptr<StartedEnvironment>());
}

bool WebView::Initialize(HWND parent, const std::wstring& userDataFolder, std::unique_ptr<StartedEnvironment> started) {
  parentWindow = parent;
  userDataFolder_ = userDataFolder;
  if (started && started->userDataFolder() != userDataFolder) started.reset();
  // An environment started early ended the orphans itself, just before.
  if (!started) runtime::KillOrphanedWebViewProcesses();

  for (int attempts = 0;;) {
    auto attempt = std::make_shared<Attempt>();
    auto environmentDone = [this, parent, attempt](HRESULT result, ICoreWebView2Environment* created) {
      if (attempt->abandoned) return;
      if (FAILED(result) || created == nullptr) return Finish(attempt, parent, result);
      environment = created;
      auto controllerDone = runtime::MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
          [this, parent, attempt](HRESULT controllerResult, ICoreWebView2Controller* createdController) {
            if (attempt->abandoned) {
              if (createdController != nullptr) MIRAVELL_LOG_IF_FAILED(createdController->Close());
              return;
            }
            if (FAILED(controllerResult) || createdController == nullptr) {
              return Finish(attempt, parent, controllerResult);
            }
            controller = createdController;
            webview.Reset();
            const HRESULT viewResult = controller->get_CoreWebView2(&webview);
            ComPtr<ICoreWebView2Controller2> controller2;
            if (SUCCEEDED(controller.As(&controller2))) {
              MIRAVELL_LOG_IF_FAILED(controller2->put_DefaultBackgroundColor(kBackground));
            }
            ComPtr<ICoreWebView2Controller4> controller4;
            if (SUCCEEDED(controller.As(&controller4))) {
              MIRAVELL_LOG_IF_FAILED(controller4->put_AllowExternalDrop(FALSE));
            }
            RECT bounds{};
            ::GetClientRect(parentWindow, &bounds);
            MIRAVELL_LOG_IF_FAILED(controller->put_Bounds(bounds));
            HRESULT ready = FAILED(viewResult) ? viewResult : (webview ? S_OK : E_NOINTERFACE);
            if (SUCCEEDED(ready)) ready = SetupEventHandlers();
            if (SUCCEEDED(ready)) ready = SetupDownloadHandler();
            if (SUCCEEDED(ready)) SetupRecoveryHandlers();
            if (FAILED(ready)) {
              // A browser without its navigation policy, pin check or
              // request tags must not run at all: the start has failed.
              registrations_.clear();
              MIRAVELL_LOG_IF_FAILED(controller->Close());
              webview.Reset();
              controller.Reset();
              return Finish(attempt, parent, ready);
            }
            if (onInitComplete) onInitComplete(true);
            Finish(attempt, parent, S_OK);
          });
      // A failure here means no completion will ever arrive: end the
      // attempt with its code instead of waiting for ever.
      const HRESULT begun = environment->CreateCoreWebView2Controller(parent, controllerDone.Get());
      if (FAILED(begun)) Finish(attempt, parent, begun);
    };

    HRESULT call = S_OK;
    if (started) {
      call = started->callResult();
      if (SUCCEEDED(call)) started->Then(environmentDone);
    } else {
      call = BeginEnvironment(
          userDataFolder,
          runtime::MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(std::move(environmentDone))
              .Get());
    }
    if (SUCCEEDED(call)) {
      MSG message{};
      while (!attempt->done) {
        if (::GetMessageW(&message, nullptr, 0, 0) <= 0) break;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
      if (!attempt->done) attempt->abandoned = true;
    }
    // The early environment serves the first attempt only; a repair deletes
    // the folder it would hold open.
    started.reset();
    if (webview) return true;
    const HRESULT failure = FAILED(call) ? call : attempt->result;
    if (failure != kBrokenRuntime) break;
    runtime::RepairBrowserRuntime(parent, userDataFolder);
    if (++attempts >= kMaxAttempts) break;
  }
  if (onInitComplete) onInitComplete(false);
  return false;
}

HRESULT WebView::SetupEventHandlers() {
  EventRegistrationToken token{};
  HRESULT result =
      webview->add_NavigationStarting(runtime::MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
                                          [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
                                            if (!onNavigationStarting || args == nullptr) return;
                                            LPWSTR raw = nullptr;
                                            if (FAILED(MIRAVELL_LOG_IF_FAILED(args->get_Uri(&raw)))) return;
                                            if (raw == nullptr) return;
                                            const std::wstring uri = TakeString(raw);
                                            bool cancel = false;
                                            onNavigationStarting(uri, cancel);
                                            if (cancel) {
                                              MIRAVELL_LOG_IF_FAILED(args->put_Cancel(TRUE));
                                            } else {
                                              recovery_.NoteNavigation();
                                              if (IsWebAddress(uri)) lastAddress_ = uri;
                                            }
                                          })
                                          .Get(),
                                      &token);
  if (FAILED(result)) return result;
  registrations_.emplace_back(webview, &ICoreWebView2::remove_NavigationStarting, token);

  result = webview->add_WebMessageReceived(runtime::MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(
                                               [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
                                                 if (args == nullptr) return;
                                                 LPWSTR raw = nullptr;
                                                 // A message posted as an object or a number is not a string: dropped.
                                                 if (FAILED(args->TryGetWebMessageAsString(&raw)) || raw == nullptr)
                                                   return;
                                                 std::wstring message = TakeString(raw);
                                                 // Any page could post it, and all it can do is load
                                                 // the content again.
                                                 if (message == kRetryLoadMessage) {
                                                   LogLine("Load: the student chose to try again");
                                                   return ReloadContent();
                                                 }
                                                 if (onWebMessage) onWebMessage(message);
                                               })
                                               .Get(),
                                           &token);
  if (FAILED(result)) return result;
  registrations_.emplace_back(webview, &ICoreWebView2::remove_WebMessageReceived, token);

  result = webview->add_PermissionRequested(
      runtime::MakeHandler<ICoreWebView2PermissionRequestedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) {
            if (args == nullptr) return;
            COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
            MIRAVELL_LOG_IF_FAILED(args->get_PermissionKind(&kind));
            const bool device = kind == COREWEBVIEW2_PERMISSION_KIND_MICROPHONE ||
                                kind == COREWEBVIEW2_PERMISSION_KIND_CAMERA ||
                                kind == COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS;
            // The requesting frame may be any page the lesson embeds; only
            // the owner's own pages get the devices unasked, every other
            // request takes the engine's own rule.
            bool allow = false;
            if (device && mayUseDevices) {
              LPWSTR raw = nullptr;
              if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(args->get_Uri(&raw))) && raw != nullptr) {
                allow = mayUseDevices(TakeString(raw));
              }
            }
            MIRAVELL_LOG_IF_FAILED(
                args->put_State(allow ? COREWEBVIEW2_PERMISSION_STATE_ALLOW : COREWEBVIEW2_PERMISSION_STATE_DEFAULT));
          })
          .Get(),
      &token);
  if (FAILED(result)) return result;
  registrations_.emplace_back(webview, &ICoreWebView2::remove_PermissionRequested, token);

  // Without this handler a page could open windows of its own, outside the
  // navigation policy and the request filter.
  result = webview->add_NewWindowRequested(runtime::MakeHandler<ICoreWebView2NewWindowRequestedEventHandler>(
                                               [this](ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) {
                                                 if (args == nullptr) return;
                                                 // No second window, ever.
                                                 MIRAVELL_LOG_IF_FAILED(args->put_Handled(TRUE));
                                                 LPWSTR raw = nullptr;
                                                 if (FAILED(MIRAVELL_LOG_IF_FAILED(args->get_Uri(&raw)))) return;
                                                 if (raw == nullptr) return;
                                                 const std::wstring uri = TakeString(raw);
                                                 // Only web pages: the initialisation screen lets every navigation
                                                 // through, and a page's window.open("file://...") must not reach
                                                 // the file system (or a remote share) from there.
                                                 if (webview && IsWebAddress(uri)) {
                                                   MIRAVELL_LOG_IF_FAILED(webview->Navigate(uri.c_str()));
                                                 }
                                               })
                                               .Get(),
                                           &token);
  if (FAILED(result)) return result;
  registrations_.emplace_back(webview, &ICoreWebView2::remove_NewWindowRequested, token);

  // The newer filter also sees requests of workers; where it is missing or
  // refused, the older one still covers the pages themselves.
  result = E_NOINTERFACE;
  ComPtr<ICoreWebView2_22> view22;
  if (SUCCEEDED(webview.As(&view22))) {
    // Refused, it is logged here: the older filter then takes its place.
    result = MIRAVELL_LOG_IF_FAILED(view22->AddWebResourceRequestedFilterWithRequestSourceKinds(
        L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL));
  }
  if (FAILED(result)) result = webview->AddWebResourceRequestedFilter(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
  if (FAILED(result)) return result;

  result =
      webview->add_WebResourceRequested(runtime::MakeHandler<ICoreWebView2WebResourceRequestedEventHandler>(
                                            [this](ICoreWebView2*, ICoreWebView2WebResourceRequestedEventArgs* args) {
                                              HandleResourceRequest(*this, args);
                                            })
                                            .Get(),
                                        &token);
  if (FAILED(result)) return result;
  registrations_.emplace_back(webview, &ICoreWebView2::remove_WebResourceRequested, token);
  return S_OK;
}

HRESULT WebView::SetupDownloadHandler() {
  ComPtr<ICoreWebView2_4> view4;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(webview.As(&view4)))) return S_OK;
  EventRegistrationToken token{};
  const HRESULT result = view4->add_DownloadStarting(
      runtime::MakeHandler<ICoreWebView2DownloadStartingEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2DownloadStartingEventArgs* args) {
            if (args == nullptr) return;
            LPWSTR raw = nullptr;
            // A path the engine does not give cannot be judged: stopped.
            const std::wstring path =
                SUCCEEDED(MIRAVELL_LOG_IF_FAILED(args->get_ResultFilePath(&raw))) ? TakeString(raw) : std::wstring();
            bool cancel = IsRunnableDownload(path);
            if (!cancel && onDownloadStarting) {
              std::wstring uri;
              ComPtr<ICoreWebView2DownloadOperation> operation;
              if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(args->get_DownloadOperation(&operation))) && operation) {
                raw = nullptr;
                if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(operation->get_Uri(&raw)))) uri = TakeString(raw);
              }
              onDownloadStarting(uri, cancel);
            }
            if (cancel) MIRAVELL_LOG_IF_FAILED(args->put_Cancel(TRUE));
          })
          .Get(),
      &token);
  if (FAILED(result)) return result;
  registrations_.emplace_back(view4, &ICoreWebView2_4::remove_DownloadStarting, token);
  return S_OK;
}

void WebView::SetupRecoveryHandlers() {
  EventRegistrationToken token{};
  HRESULT result = webview->add_ProcessFailed(
      runtime::MakeHandler<ICoreWebView2ProcessFailedEventHandler>([this](ICoreWebView2*,
                                                                          ICoreWebView2ProcessFailedEventArgs* args) {
        if (args == nullptr) return;
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
            ::PostMessageW(parentWindow, kEngineFailedMessage, failure, static_cast<LPARAM>(reason)));
      }).Get(),
      &token);
  if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(result))) {
    registrations_.emplace_back(webview, &ICoreWebView2::remove_ProcessFailed, token);
  }
  result = webview->add_NavigationCompleted(
      runtime::MakeHandler<ICoreWebView2NavigationCompletedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* args) { OnNavigationCompleted(args); })
          .Get(),
      &token);
  if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(result))) {
    registrations_.emplace_back(webview, &ICoreWebView2::remove_NavigationCompleted, token);
  }
}

void WebView::OnNavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args) {
  if (args == nullptr || !webview) return;
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
      webview->NavigateToString(LoadFailedPage(GetAppState().productName, *failure, showsLesson).c_str()));
}

void WebView::ReloadContent() {
  if (!webview) return;
  ForgetUnreachableHosts();
  if (onReloadContent) return onReloadContent();
  if (!lastAddress_.empty()) {
    MIRAVELL_LOG_IF_FAILED(webview->Navigate(lastAddress_.c_str()));
  } else {
    MIRAVELL_LOG_IF_FAILED(webview->Reload());
  }
}

void WebView::Recreate() {
  ReleaseEngine();
  Initialize(parentWindow, userDataFolder_);
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
    const int answer = seams::ShowMessageBox(parentWindow, kEngineGaveUpText, kEngineGaveUpTitle,
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
  if (!webview) return;
  ComPtr<ICoreWebView2Settings> settings;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(webview->get_Settings(&settings))) || !settings) return;
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
  if (hidePdfSaveAndPrint && SUCCEEDED(MIRAVELL_LOG_IF_FAILED(settings.As(&settings7)))) {
    MIRAVELL_LOG_IF_FAILED(settings7->put_HiddenPdfToolbarItems(static_cast<COREWEBVIEW2_PDF_TOOLBAR_ITEMS>(
        COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE | COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS |
        COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT)));
  }
}

void WebView::Resize(int width, int height) {
  if (controller) MIRAVELL_LOG_IF_FAILED(controller->put_Bounds(RECT{0, 0, width, height}));
}

Hosts& CurrentHosts() noexcept {
  static Hosts hosts;
  return hosts;
}

}  // namespace WebViewHost

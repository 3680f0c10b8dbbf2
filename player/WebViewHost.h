#pragma once
// One embedded browser bound to one top-level window. Both main windows own
// one; what is particular to each lives in the options the owner sets before
// Initialize.
#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "player/EngineRecovery.h"
#include "runtime/WebView2Interfaces.h"

namespace WebViewHost {

// One handler registered on a view; removing it is this object's job, so no
// handler (each holds its host) outlives the host that registered it. The
// view may be any step of the view chain that carries the event.
class EventRegistration {
 public:
  template <typename View>
  EventRegistration(Microsoft::WRL::ComPtr<View> view,
                    HRESULT (STDMETHODCALLTYPE View::*remove)(EventRegistrationToken), EventRegistrationToken token)
      : remove_([view = std::move(view), remove, token] {
          if (view) (view.Get()->*remove)(token);
        }) {}
  ~EventRegistration() {
    if (remove_) remove_();
  }
  EventRegistration(EventRegistration&& other) noexcept : remove_(std::exchange(other.remove_, nullptr)) {}
  EventRegistration& operator=(EventRegistration&&) = delete;
  EventRegistration(const EventRegistration&) = delete;
  EventRegistration& operator=(const EventRegistration&) = delete;

 private:
  std::function<void()> remove_;
};

// An environment whose creation began before its window existed, so that
// the engine starts while the service answers. The host that takes it over
// waits for its answer as for one of its own; dropped unused, it keeps
// nothing alive, neither the environment nor an answer still to come.
class StartedEnvironment {
 public:
  using Answer = std::function<void(HRESULT result, ICoreWebView2Environment* environment)>;

  // Ends orphaned engine processes, then begins creating an environment with
  // its profile in userDataFolder, on the calling (user-interface) thread.
  static std::unique_ptr<StartedEnvironment> Start(const std::wstring& userDataFolder);

  ~StartedEnvironment();
  StartedEnvironment(const StartedEnvironment&) = delete;
  StartedEnvironment& operator=(const StartedEnvironment&) = delete;

  [[nodiscard]] const std::wstring& userDataFolder() const noexcept { return userDataFolder_; }
  // The creation call's own result; after a failure no answer comes.
  [[nodiscard]] HRESULT callResult() const noexcept { return callResult_; }
  // Hands the answer over once: at once when it has come, else when it comes.
  void Then(Answer next);

  // Shared with the completion handler, which may outlive this object.
  struct Pending;

 private:
  explicit StartedEnvironment(std::wstring userDataFolder);

  std::wstring userDataFolder_;
  HRESULT callResult_ = E_FAIL;
  std::shared_ptr<Pending> pending_;
};

class WebView {
 public:
  // What is particular to each owner: set before Initialize.
  struct Options {
    // Decides whether a navigation may go ahead; cancel starts false.
    std::function<void(const std::wstring& uri, bool& cancel)> onNavigationStarting;
    // The last step of the request filter.
    std::function<void(const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs* args)> onResourceRequested;
    // String messages posted by page scripts.
    std::function<void(const std::wstring& message)> onWebMessage;
    // Asked about a download that is no program or script: whether it must be
    // stopped all the same; cancel starts false.
    std::function<void(const std::wstring& uri, bool& cancel)> onDownloadStarting;
    // Told once whether the browser came up.
    std::function<void(bool success)> onInitComplete;
    // Whether the page at uri may use the camera, the microphone and
    // notifications without asking; unset, no page may.
    std::function<bool(const std::wstring& uri)> mayUseDevices;

    // Loads the content again: after its renderer failed, and when the
    // student presses Retry on the load-failed page. Unset, the view goes to
    // the last web address it was sent to.
    std::function<void()> onReloadContent;
    // Whether a failed load is the lesson's (the player) or a page's (the
    // start screen): the load-failed page says which.
    bool showsLesson = false;

    // Read by ApplySettings: the PDF viewer shows no save, save-as or print
    // button, so a watermarked lesson is not one click from a copy.
    bool hidePdfSaveAndPrint = false;
  };

  WebView() = default;
  // Closes the controller, then releases the view, the controller and the
  // environment, then the callbacks (members go in reverse order).
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // The callbacks may refer to this host: it exists before they are set.
  void SetOptions(Options options) { options_ = std::move(options); }

  // The browser, for the owner's scripts and navigations: null before the
  // start, after a failed one and while a failed engine is replaced.
  [[nodiscard]] ICoreWebView2* webview() const noexcept { return webview_.Get(); }

  // Creates the browser in parent with its profile in userDataFolder,
  // waiting for it while pumping the thread's messages; retries after a
  // repair when the runtime reports a broken state. With an environment
  // already under way, the first attempt takes it over when it was started
  // for this folder; a failed one is repaired and retried as any other. On
  // false, onInitComplete(false) has been called.
  bool Initialize(HWND parent, const std::wstring& userDataFolder,
                  std::unique_ptr<StartedEnvironment> started = nullptr);

  // Locks the browser down: no developer tools, context menus, status bar,
  // zoom or browser shortcut keys (nor the PDF viewer's save and print
  // buttons, when hidePdfSaveAndPrint is set).
  void ApplySettings();

  // Sets the controller's bounds when there is one.
  void Resize(int width, int height);

  // Recovers from an engine failure the view posted to its window as
  // kEngineFailedMessage: reloads the content, or creates the engine again,
  // or, after too many failures in a minute, asks the student whether to
  // try again or close (which ends the process with exit code 1).
  void HandleProcessFailure(WPARAM failure, LPARAM reason);

 private:
  // One try at a browser; defined with Initialize.
  struct Attempt;

  // One attempt: the environment (the one started early, when given, or a
  // new one), then the controller, waited for. Its failure: S_OK when the
  // browser came up, and when the wait ended without an answer.
  [[nodiscard]] HRESULT StartOnce(StartedEnvironment* started);
  // Takes the early environment over, or begins creating one; the call's
  // own result (after a failure no answer comes).
  [[nodiscard]] HRESULT RequestEnvironment(const std::shared_ptr<Attempt>& attempt, StartedEnvironment* started);
  // The environment's answer: keeps it and begins creating the controller.
  void CreateController(const std::shared_ptr<Attempt>& attempt, HRESULT result, ICoreWebView2Environment* created);
  // The controller's answer: the browser is set up and the owner told, or
  // the attempt fails.
  void TakeController(const std::shared_ptr<Attempt>& attempt, HRESULT result, ICoreWebView2Controller* created);
  // Takes the view, sizes it to the window and registers every handler; on
  // failure, closes the controller again.
  [[nodiscard]] HRESULT SetUpController(ICoreWebView2Controller* created);
  // Pumps the thread's messages until the attempt is answered; a quit
  // message ends the wait and abandons the attempt.
  static void WaitFor(Attempt& attempt);

  // Adds to view a handler that passes the event's arguments to on (an event
  // without arguments is dropped), and keeps its removal; the add's result.
  template <typename View, typename Handler, typename EventArgs>
  [[nodiscard]] HRESULT Register(const Microsoft::WRL::ComPtr<View>& view,
                                 HRESULT (STDMETHODCALLTYPE View::*add)(Handler*, EventRegistrationToken*),
                                 HRESULT (STDMETHODCALLTYPE View::*remove)(EventRegistrationToken),
                                 void (WebView::*on)(EventArgs*));

  // Registers the five handlers and the request filter; the first failure
  // stops it and is returned.
  [[nodiscard]] HRESULT SetupEventHandlers();
  void OnNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args);
  void OnWebMessage(ICoreWebView2WebMessageReceivedEventArgs* args);
  void OnPermissionRequested(ICoreWebView2PermissionRequestedEventArgs* args);
  void OnNewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* args);
  void OnResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args);
  // Stops downloads of programs and scripts, and what onDownloadStarting
  // names. A runtime without the event goes on without it (logged); one that
  // has it but refuses the handler fails the start like the others.
  [[nodiscard]] HRESULT SetupDownloadHandler();
  void OnDownloadStarting(ICoreWebView2DownloadStartingEventArgs* args);

  // The engine's failures and failed loads. A runtime without them still
  // shows lessons: a refusal is logged, not fatal.
  void SetupRecoveryHandlers();
  void OnProcessFailed(ICoreWebView2ProcessFailedEventArgs* args);
  void OnNavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args);
  void ReloadContent();
  // Lets the dead engine go and creates it again through Initialize, whose
  // onInitComplete loads the content as on the first start.
  void Recreate();
  // Removes the handlers, closes the controller, then releases the view and
  // the controller.
  void CloseController();
  // The same, then releases the environment.
  void ReleaseEngine();

  Options options_;
  HWND parentWindow_ = nullptr;
  Microsoft::WRL::ComPtr<ICoreWebView2Environment> environment_;
  Microsoft::WRL::ComPtr<ICoreWebView2Controller> controller_;
  Microsoft::WRL::ComPtr<ICoreWebView2> webview_;

  // Each removes its handler when it goes: before the controller is closed.
  std::vector<EventRegistration> registrations_;
  std::wstring userDataFolder_;
  // The last web address a top-level navigation went to (the owner's
  // policy let it): where a retry goes without onReloadContent.
  std::wstring lastAddress_;
  RecoveryPolicy recovery_;
  // A recovery is under way (a new engine starting, the question open):
  // failures reported meanwhile are part of it.
  bool recovering_ = false;
  bool browserFailedMeanwhile_ = false;
};

// The program's two hosts, pointed at while they exist, so that the window
// procedures reach them; the user-interface thread only.
struct Hosts {
  WebView* player = nullptr;
  WebView* init = nullptr;
};
Hosts& CurrentHosts() noexcept;

}  // namespace WebViewHost

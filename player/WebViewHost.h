#pragma once
// One embedded browser bound to one top-level window. Both main windows own
// one; what is particular to each lives in the four callbacks the owner sets
// before Initialize.
#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

  // Set before ApplySettings: the PDF viewer shows no save, save-as or
  // print button, so a watermarked lesson is not one click from a copy.
  bool hidePdfSaveAndPrint = false;

  HWND parentWindow = nullptr;
  Microsoft::WRL::ComPtr<ICoreWebView2Environment> environment;
  Microsoft::WRL::ComPtr<ICoreWebView2Controller> controller;
  Microsoft::WRL::ComPtr<ICoreWebView2> webview;

  WebView() = default;
  // Closes the controller, then releases the view, the controller and the
  // environment, then the callbacks (members go in reverse order).
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // Creates the browser in parent with its profile in userDataFolder,
  // waiting for it while pumping the thread's messages; retries after a
  // repair when the runtime reports a broken state. On false,
  // onInitComplete(false) has been called.
  bool Initialize(HWND parent, const std::wstring& userDataFolder, int unused = 0);
  // The same, with an environment already under way: the first attempt
  // takes it over when it was started for this folder; a failed one is
  // repaired and retried as any other.
  bool Initialize(HWND parent, const std::wstring& userDataFolder, std::unique_ptr<StartedEnvironment> started);

  // Locks the browser down: no developer tools, context menus, status bar,
  // zoom or browser shortcut keys (nor the PDF viewer's save and print
  // buttons, when hidePdfSaveAndPrint is set).
  void ApplySettings();

  // Sets the controller's bounds when there is one.
  void Resize(int width, int height);

 private:
  // Registers the five handlers and the request filter; the first failure
  // stops it and is returned.
  [[nodiscard]] HRESULT SetupEventHandlers();
  // Stops downloads of programs and scripts, and what onDownloadStarting
  // names. A runtime without the event goes on without it (logged); one that
  // has it but refuses the handler fails the start like the others.
  [[nodiscard]] HRESULT SetupDownloadHandler();

  // Each removes its handler when it goes: before the controller is closed.
  std::vector<EventRegistration> registrations_;
};

}  // namespace WebViewHost

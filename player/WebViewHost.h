#pragma once
// One embedded browser bound to one top-level window. Both main windows own
// one; what is particular to each lives in the four callbacks the owner sets
// before Initialize.
#include <windows.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/WebView2Interfaces.h"

namespace WebViewHost {

// One handler registered on a view; removing it is this object's job, so no
// handler (each holds its host) outlives the host that registered it.
class EventRegistration {
 public:
  using Remove = HRESULT (STDMETHODCALLTYPE ICoreWebView2::*)(EventRegistrationToken);
  EventRegistration(Microsoft::WRL::ComPtr<ICoreWebView2> view, Remove remove, EventRegistrationToken token)
      : view_(std::move(view)), remove_(remove), token_(token) {}
  ~EventRegistration() {
    if (view_) (view_.Get()->*remove_)(token_);
  }
  EventRegistration(EventRegistration&& other) noexcept
      : view_(std::move(other.view_)), remove_(other.remove_), token_(other.token_) {}
  EventRegistration& operator=(EventRegistration&&) = delete;
  EventRegistration(const EventRegistration&) = delete;
  EventRegistration& operator=(const EventRegistration&) = delete;

 private:
  Microsoft::WRL::ComPtr<ICoreWebView2> view_;
  Remove remove_;
  EventRegistrationToken token_;
};

class WebView {
 public:
  // Decides whether a navigation may go ahead; cancel starts false.
  std::function<void(const std::wstring& uri, bool& cancel)> onNavigationStarting;
  // The last step of the request filter.
  std::function<void(const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs* args)> onResourceRequested;
  // String messages posted by page scripts.
  std::function<void(const std::wstring& message)> onWebMessage;
  // Told once whether the browser came up.
  std::function<void(bool success)> onInitComplete;

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

  // Locks the browser down: no developer tools, context menus, status bar,
  // zoom or browser shortcut keys.
  void ApplySettings();

  // Sets the controller's bounds when there is one.
  void Resize(int width, int height);

 private:
  // Registers the five handlers and the request filter; the first failure
  // stops it and is returned.
  [[nodiscard]] HRESULT SetupEventHandlers();

  // Each removes its handler when it goes: before the controller is closed.
  std::vector<EventRegistration> registrations_;
};

}  // namespace WebViewHost

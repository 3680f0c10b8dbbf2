#pragma once
// What the runtime's COM objects stand on: one Chromium per environment
// (Engine) and one page target per controller (Page), driven over the
// DevTools protocol. Everything here but Engine::Start and Page::Open runs on
// the thread that created the environment, in the order the browser said it:
// the engine's events and answers are pumped there from its post window, so
// the player's handlers run on its own thread as with the real runtime.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "testbed/chromium-runtime/ChromiumBrowser.h"

namespace chromium_runtime {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// The switches a runtime start adds to the host's arguments, with every
// --enable-features and --disable-features merged into one of each (Chromium
// honours only the last of a repeated switch). Arguments are split the way
// Windows splits a command line.
std::vector<std::string> BrowserArguments(const std::wstring& hostArguments);

// A top-level navigation about to leave.
struct NavigationStart {
  std::string uri;
  bool userInitiated = false;
  bool redirected = false;
  std::uint64_t id = 0;
};

// A top-level navigation that committed and loaded, or failed.
struct NavigationEnd {
  std::uint64_t id = 0;
  bool success = true;
  int webErrorStatus = 0;  // COREWEBVIEW2_WEB_ERROR_STATUS
  int httpStatusCode = 0;  // the document's response; 0 when none came
};

// A process of the engine's that ended or stopped answering.
struct ProcessExit {
  int kind = 0;    // COREWEBVIEW2_PROCESS_FAILED_KIND
  int reason = 0;  // COREWEBVIEW2_PROCESS_FAILED_REASON
  int exitCode = 0;
};

// COREWEBVIEW2_WEB_ERROR_STATUS of one of Chromium's net errors ("net::ERR_CONNECTION_REFUSED").
int WebErrorStatusOf(std::string_view netError);

// A request the host filters asked to see, and what the host made of it.
struct ResourceRequest {
  std::string uri;
  std::string method;
  HeaderList headers;
  int context = 0;  // COREWEBVIEW2_WEB_RESOURCE_CONTEXT
};
struct ResourceResponse {
  int status = 200;
  std::string reason;
  HeaderList headers;
  std::string body;
};
struct ResourceDecision {
  std::optional<HeaderList> headers;  // the request's headers, when the host changed them
  std::optional<ResourceResponse> response;
};

// A page asks for a permission the engine would prompt for.
struct PermissionRequest {
  int kind = 0;     // COREWEBVIEW2_PERMISSION_KIND
  std::string uri;  // the requesting frame's origin, "https://host/"
  bool userInitiated = false;
};

// The host's side of a page, called on the owner's thread.
struct PageEvents {
  std::function<bool(const NavigationStart&)> navigationStarting;  // true: cancelled
  std::function<void(const std::string& json, bool isString, const std::string& source)> message;
  std::function<void(const std::string& uri, bool userInitiated)> newWindow;
  // Whether a filter of the host's asks for the request; then resource decides.
  std::function<bool(const std::string& uri, int context)> wantsResource;
  std::function<ResourceDecision(const ResourceRequest&)> resource;
  std::function<void(const std::vector<std::uint8_t>& image)> frame;  // an encoded screencast frame
  // After the first frame shown since a web document painted, once per such
  // document (not the blank page every target starts with, nor a page the
  // host made): a load after a crash or a retry shows as a new one.
  std::function<void(const std::string& uri)> contentShown;
  // COREWEBVIEW2_PERMISSION_STATE: 0 the engine's default, 1 allow, 2 deny.
  std::function<int(const PermissionRequest&)> permission;
  std::function<void(const NavigationEnd&)> navigationCompleted;
  // The page's renderer, or the whole browser (then the page is closed first),
  // or the renderer has stopped answering (again every few seconds while it does not).
  std::function<void(const ProcessExit&)> processFailed;
  // The renderer answered the watchdog more slowly than ever before on this page.
  std::function<void(std::chrono::milliseconds)> slowestAnswer;
};

class Page;

class Engine : public std::enable_shared_from_this<Engine> {
 public:
  // Starts Chromium (blocking; any thread). Throws StartError.
  static std::shared_ptr<Engine> Start(const ChromiumOptions& options);
  // Closes the browser.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // From here on the owner's thread only, except cdp() and userAgent().

  // Events and answers wake the window with this message; the window then
  // calls PumpAll. Also starts watching for pop-ups, and the window's timer
  // kWatchTimer, on which it calls WatchAll.
  void AttachTo(HWND postWindow, UINT pumpMessage);
  // Runs what the browser said, for every live engine.
  static void PumpAll();
  // Asks every live page's renderer whether it still answers.
  static void WatchAll();
  static constexpr UINT_PTR kWatchTimer = 0x4D57;
  static constexpr UINT kWatchIntervalMs = 500;

  [[nodiscard]] CdpClient& cdp() noexcept { return browser_.cdp(); }
  // Chromium's version ("156.0.7000.1") and its user agent as a window would send it.
  [[nodiscard]] const std::string& version() const noexcept { return version_; }
  [[nodiscard]] const std::string& userAgent() const noexcept { return userAgent_; }

  // Runs work at the next pump, after what the browser has said so far.
  void Defer(std::function<void()> work);

  void Register(const std::shared_ptr<Page>& page);
  void Unregister(const Page& page);

  // Whether the browser process has gone (its pipe closed without our asking).
  [[nodiscard]] bool gone() const noexcept { return gone_; }

 private:
  explicit Engine(const ChromiumOptions& options);
  void Pump();
  void Watch();
  void OnEvent(const CdpEvent& event);
  void OnDisconnected();

  std::wstring profileFolder_;
  ChromiumBrowser browser_;
  bool gone_ = false;
  std::string version_;
  std::string userAgent_;
  HWND postWindow_ = nullptr;
  UINT pumpMessage_ = 0;
  bool pumping_ = false;
  std::vector<std::function<void()>> deferred_;
  std::map<std::string, std::weak_ptr<Page>> pages_;  // by session
};

class Page : public std::enable_shared_from_this<Page> {
 public:
  // Opens a blank page target and prepares it (blocking; any thread; the
  // engine's owner thread must keep pumping meanwhile). Throws StartError.
  static std::shared_ptr<Page> Open(const std::shared_ptr<Engine>& engine);
  ~Page();
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  [[nodiscard]] const std::string& targetId() const noexcept { return targetId_; }
  [[nodiscard]] const std::string& sessionId() const noexcept { return sessionId_; }

  // From here on the owner's thread only.
  void SetEvents(PageEvents events) { events_ = std::make_shared<const PageEvents>(std::move(events)); }
  void OnEvent(const CdpEvent& event);

  // The address the host knows the page by: about:blank for a page it made.
  [[nodiscard]] std::string Source() const;
  void Navigate(const std::string& uri);
  void NavigateToString(const std::string& html);
  [[nodiscard]] bool CanGo(int step);
  void Go(int step);
  void Reload();
  void Stop();
  void AddScript(const std::string& source, std::function<void(HRESULT, const std::string& id)> done);
  void RemoveScript(const std::string& id);
  void ExecuteScript(const std::string& source, std::function<void(HRESULT, const std::string& json)> done);
  // Delivers a message to the page's chrome.webview listeners.
  void PostMessageJson(const std::string& json);

  // A mouse or keyboard message of the window the page is shown in.
  void Input(UINT message, WPARAM wParam, LPARAM lParam);

  void Resize(int width, int height);
  void SetVisible(bool visible);
  // Once the screencast has gone quiet: a capture of the page as it is now,
  // given to the frame event, unless one was taken since the last frame or
  // the last start of the screencast.
  void Settle();
  void SetBackground(int red, int green, int blue, int alpha);
  void SetScriptEnabled(bool enabled);
  void SetWebMessageEnabled(bool enabled) { webMessages_ = enabled; }
  void SetUserAgent(const std::string& userAgent);
  // Whether every request is intercepted (some filter exists) or only documents.
  void InterceptAllRequests(bool all);
  // Ends the target; later calls do nothing.
  void Close();
  [[nodiscard]] bool closed() const noexcept { return closed_; }

  // The renderer ended: the page stays, and the next navigation brings a new one.
  void OnCrashed(const nlohmann::json& params);
  // The watchdog's turn: asks the renderer for a trivial answer when no
  // question is open, and tells the host when the open one has waited too
  // long. answersSeen false: the owner's thread could not take answers
  // meanwhile (a host handler runs), so the open question's wait restarts.
  void Watch(bool answersSeen);
  // The browser ended: the page is closed, after the host was told.
  void OnBrowserGone(const ProcessExit& exit);

 private:
  // The top-level navigation the host was last told of and not yet of its end.
  struct Pending {
    std::uint64_t id = 0;
    std::string loaderId;  // the document's, which is its request's id in Network
    std::string uri;
    int status = 0;
    bool errorPage = false;  // what committed is Chromium's error page
  };

  // The watchdog's question to the renderer, not yet answered.
  struct Probe {
    std::uint64_t id = 0;
    std::chrono::steady_clock::time_point asked;
    std::optional<std::chrono::steady_clock::time_point> reported;  // the last time the host was told
  };

  Page(std::shared_ptr<Engine> engine, std::string targetId, std::string sessionId);
  void Send(const char* method, nlohmann::json params = nlohmann::json::object(),
            std::function<void(const CdpReply&)> done = nullptr);
  void StartNavigation(const std::string& uri, const std::string& shownAs);
  // Raises the navigation event for uri (shown to the host as shownAs) on a
  // later turn; when nobody cancelled it, begins it and runs go.
  void DeferNavigation(const std::string& uri, const std::string& shownAs,
                       std::function<void(Page& page, std::uint64_t id)> go);
  // A navigation the host let go; one still pending ends as cancelled.
  void Begin(std::uint64_t id, const std::string& loaderId, const std::string& uri);
  void Complete(bool success, int webErrorStatus);
  // Failed where it was going: Chromium's error page takes the address.
  void Fail(int webErrorStatus);
  void Cancelled(std::uint64_t id);
  void OnNavigateReply(std::uint64_t id, const CdpReply& reply);
  void OnNetworkEvent(const CdpEvent& event);
  void OnRequestPaused(const nlohmann::json& params, const PageEvents& events);
  void OnFrame(const nlohmann::json& params, const PageEvents& events);
  void OnBinding(const nlohmann::json& params, const PageEvents& events);
  void OnPermissionAsked(const nlohmann::json& params, const PageEvents& events);
  void Screencast();
  // Sets the viewport to the view's size, unless a capture is in flight.
  void ApplySize();
  // Before a navigation the host asked for: a script that keeps the
  // renderer from answering would also keep the new document from committing.
  void InterruptHungScript();
  // Sends the watchdog's question; the probe's times carry over when it is asked anew.
  void Ask(Probe probe);

  std::shared_ptr<Engine> engine_;
  std::string targetId_;
  std::string sessionId_;
  // Shared so that a handler that closes the page does not destroy itself.
  std::shared_ptr<const PageEvents> events_;
  bool closed_ = false;
  std::string source_ = "about:blank";
  std::string currentUrl_ = "about:blank";  // what Chromium shows, a page the host made by its data: address
  std::set<std::string> generatedUrls_;  // the data: addresses of the pages the host made (history may go back to them)
  std::uint64_t navigationId_ = 0;
  std::string requestedReason_;                         // why the page last asked to navigate
  std::map<std::string, std::uint64_t> navigationIds_;  // by Fetch request, for redirects
  std::map<int, std::string> contextFrames_;            // execution context -> frame
  std::map<int, std::string> contextOrigins_;           // execution context -> its origin
  std::string topOrigin_;                               // the main frame's, which delegated permissions are kept by
  bool webMessages_ = true;
  bool interceptAll_ = false;
  bool visible_ = true;
  int width_ = 0;
  int height_ = 0;
  bool casting_ = false;
  std::string contentLoader_;    // the latest web document's, until its first paint
  bool contentPainted_ = false;  // painted, and no frame shown since
  std::uint64_t changes_ = 0;    // screencast frames and starts so far
  std::uint64_t settled_ = 0;    // the count a capture was asked for at
  bool capturing_ = false;       // a capture is in flight
  bool sizeHeld_ = false;        // a new size waits for that capture's end
  int clickCount_ = 1;
  std::optional<Pending> pending_;
  std::optional<Probe> probe_;  // the watchdog's open question
  std::uint64_t probes_ = 0;
  bool rendererGone_ = false;  // crashed, until a navigation brings up a new one
  std::chrono::milliseconds slowestAnswer_{0};
};

}  // namespace chromium_runtime

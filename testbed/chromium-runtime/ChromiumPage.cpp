#include "testbed/chromium-runtime/ChromiumPage.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>

#include "common/Base64.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Text.h"

namespace chromium_runtime {
namespace {

using nlohmann::json;

// The page's way to the host. Only the top document gets chrome.webview, as
// with the real runtime, and the binding Chromium adds to every frame is
// answered only for the main frame. A string goes as "s" and its JSON, any
// other value as "j" and its JSON, so the host can tell them apart.
constexpr char kBinding[] = "__miravellHostPost";
constexpr char kWebViewScript[] = R"js((() => {
  if (window.top !== window) return;
  const events = new EventTarget();
  const webview = {
    postMessage(message) {
      const text = JSON.stringify(message);
      if (text === undefined) throw new TypeError('postMessage: the message cannot be sent as JSON');
      window.__miravellHostPost((typeof message === 'string' ? 's' : 'j') + text);
    },
    addEventListener: (...args) => events.addEventListener(...args),
    removeEventListener: (...args) => events.removeEventListener(...args),
  };
  // MessageEvent takes only a window or port as its source; the host's
  // messages come from chrome.webview, so the event is told so afterwards.
  Object.defineProperty(webview, '__deliver', {
    value: (data) => {
      const event = new MessageEvent('message', {data});
      Object.defineProperty(event, 'source', {value: webview});
      events.dispatchEvent(event);
    },
  });
  if (typeof window.chrome !== 'object' || window.chrome === null) window.chrome = {};
  window.chrome.webview = webview;
})();)js";

// Chromium tells nobody when a page asks for a permission: headless, it
// refuses at once whatever would have been a prompt. So every frame gets the
// request APIs wrapped before its own scripts run: a request the engine
// would prompt for (its state is "prompt") first asks the host over a
// binding of its own, the host's answer is applied to the origin with
// Browser.setPermission, and only then does the original API run and decide.
// A permission already granted or denied is not asked about again, as with
// the real runtime. The payload names permissions as kPermissions does.
constexpr char kPermissionBinding[] = "__miravellPermissionAsk";
constexpr char kPermissionScript[] = R"js((() => {
  const pending = new Map();
  let next = 0;
  Object.defineProperty(window, '__miravellPermissionAnswer', {
    value: (id) => {
      const done = pending.get(id);
      pending.delete(id);
      if (done) done();
    },
  });
  const descriptors = {'midi-sysex': {name: 'midi', sysex: true}};
  // A frame the permissions policy keeps from a feature is refused by the
  // engine without a prompt, so the host is not asked.
  const features = {'midi-sysex': 'midi', notifications: null};
  const policy = document.featurePolicy;
  const undecided = async (name) => {
    const feature = name in features ? features[name] : name;
    if (feature && policy && !policy.allowsFeature(feature)) return false;
    try {
      return (await navigator.permissions.query(descriptors[name] || {name})).state === 'prompt';
    } catch (e) {
      return false;  // a permission this engine does not know: it decides alone
    }
  };
  const ask = async (names) => {
    // Read before any wait: the activation is the request's, not the answer's.
    const user = !!(navigator.userActivation && navigator.userActivation.isActive);
    const open = [];
    for (const name of names) if (await undecided(name)) open.push(name);
    const post = window.__miravellPermissionAsk;
    if (open.length === 0 || typeof post !== 'function') return;
    const id = ++next;
    await new Promise((resolve) => {
      pending.set(id, resolve);
      post(JSON.stringify({id, names: open, user}));
    });
  };
  const wrap = (owner, key, names) => {
    const original = owner && owner[key];
    if (typeof original !== 'function') return;
    owner[key] = function (...args) {
      return ask(names(...args)).then(() => original.apply(this, args));
    };
  };
  if (window.MediaDevices) {
    wrap(MediaDevices.prototype, 'getUserMedia', (c) =>
      [...(c && c.audio ? ['microphone'] : []), ...(c && c.video ? ['camera'] : [])]);
  }
  if (window.Notification) wrap(Notification, 'requestPermission', () => ['notifications']);
  if (window.Clipboard) {
    wrap(Clipboard.prototype, 'read', () => ['clipboard-read']);
    wrap(Clipboard.prototype, 'readText', () => ['clipboard-read']);
  }
  if (window.Navigator) wrap(Navigator.prototype, 'requestMIDIAccess', (o) => (o && o.sysex ? ['midi-sysex'] : []));
  wrap(window, 'queryLocalFonts', () => ['local-fonts']);
  wrap(window, 'getScreenDetails', () => ['window-management']);
  if (window.Geolocation) {
    const geolocation = Geolocation.prototype;
    const current = geolocation.getCurrentPosition;
    const watch = geolocation.watchPosition;
    const clear = geolocation.clearWatch;
    geolocation.getCurrentPosition = function (...args) {
      ask(['geolocation']).then(() => current.apply(this, args));
    };
    // watchPosition answers with an id at once: ours, mapped to the
    // engine's once the host has answered.
    const watches = new Map();
    let nextWatch = 0;
    geolocation.watchPosition = function (...args) {
      const id = ++nextWatch;
      watches.set(id, null);
      ask(['geolocation']).then(() => {
        if (watches.has(id)) watches.set(id, watch.apply(this, args));
      });
      return id;
    };
    geolocation.clearWatch = function (id) {
      const engines = watches.get(id);
      watches.delete(id);
      if (engines !== null && engines !== undefined) clear.call(this, engines);
    };
  }
})();)js";

// The permissions the script above asks about: the runtime's kind and
// Browser.setPermission's descriptor.
struct PermissionName {
  const char* name;
  int kind;  // COREWEBVIEW2_PERMISSION_KIND
  const char* descriptor;
};
constexpr PermissionName kPermissions[] = {
    {"microphone", 1, R"({"name":"microphone"})"},         {"camera", 2, R"({"name":"camera"})"},
    {"geolocation", 3, R"({"name":"geolocation"})"},       {"notifications", 4, R"({"name":"notifications"})"},
    {"clipboard-read", 6, R"({"name":"clipboard-read"})"}, {"local-fonts", 10, R"({"name":"local-fonts"})"},
    {"midi-sysex", 11, R"({"name":"midi","sysex":true})"}, {"window-management", 12, R"({"name":"window-management"})"},
};

// Without these, a page's frames and its history would slip past the
// host: a cross-site frame would be a target of its own with its own
// requests and scripts, and a page restored from the back-forward cache
// sends no request, so no navigation event would be raised for it.
// PdfOopif: with the PDF viewer in a frame of its own, a headless page
// paints the viewer's empty background only; the older guest view paints the
// document.
constexpr const char* kDisabledFeatures[] = {"site-per-process", "IsolateOrigins", "BackForwardCache", "PdfOopif"};
constexpr const char* kOwnSwitches[] = {"--disable-site-isolation-trials"};

std::vector<std::string> SplitCommandLine(const std::wstring& text) {
  std::vector<std::string> out;
  if (text.find_first_not_of(L" \t") == std::wstring::npos) return out;
  int count = 0;
  // A program name first, so the host's first argument is split like the rest.
  const std::wstring line = L"chromium " + text;
  const UniqueLocal owner(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(line.c_str(), &count)));
  auto* const* args = static_cast<wchar_t* const*>(owner.get());
  for (int i = 1; args != nullptr && i < count; ++i) out.push_back(WideToUtf8(args[i]));
  return out;
}

void AppendList(std::string& list, std::string_view more) {
  if (more.empty()) return;
  if (!list.empty()) list += ',';
  list += more;
}

// COREWEBVIEW2_WEB_RESOURCE_CONTEXT of a Fetch resource type.
int ResourceContext(const std::string& type) {
  static const std::map<std::string, int> contexts = {
      {"Document", 1},   {"Stylesheet", 2}, {"Image", 3},           {"Media", 4},     {"Font", 5},
      {"Script", 6},     {"XHR", 7},        {"Fetch", 8},           {"TextTrack", 9}, {"EventSource", 10},
      {"WebSocket", 11}, {"Manifest", 12},  {"SignedExchange", 13}, {"Ping", 14},     {"CSPViolationReport", 15}};
  const auto found = contexts.find(type);
  return found == contexts.end() ? 16 : found->second;
}

HeaderList HeadersOf(const json& object) {
  HeaderList list;
  if (!object.is_object()) return list;
  for (const auto& [name, value] : object.items()) {
    list.emplace_back(name, value.is_string() ? value.get<std::string>() : value.dump());
  }
  return list;
}

json HeaderEntries(const HeaderList& headers) {
  json entries = json::array();
  for (const auto& [name, value] : headers) entries.push_back({{"name", name}, {"value", value}});
  return entries;
}

// Why the browser said no, for the log.
std::string Describe(const CdpReply& reply) {
  return std::to_string(static_cast<int>(reply.status)) + " " + reply.value.dump();
}

json Required(CdpClient& cdp, const char* method, const json& params, const std::string& session = {}) {
  CdpReply reply = cdp.Send(method, params, session);
  if (!reply.ok()) throw StartError(E_FAIL, std::string(method) + " failed: " + Describe(reply));
  return std::move(reply.value);
}

bool IsWebAddress(const std::string& uri) {
  const std::wstring scheme = ToLowerWide(Utf8ToWide(uri.substr(0, uri.find(':') + 1)));
  return scheme == L"http:" || scheme == L"https:";
}

// Input.dispatch*'s modifier bits: Alt 1, Ctrl 2, Meta 4, Shift 8.
int Modifiers() {
  const auto down = [](int key) { return ::GetKeyState(key) < 0; };
  return (down(VK_MENU) ? 1 : 0) | (down(VK_CONTROL) ? 2 : 0) | (down(VK_LWIN) || down(VK_RWIN) ? 4 : 0) |
         (down(VK_SHIFT) ? 8 : 0);
}

// The DOM name of a key: what it types with the keyboard's state now, or for
// the keys that type nothing their names; the page's scripts look at them.
std::string KeyName(WPARAM key, LPARAM lParam) {
  std::array<BYTE, 256> state{};
  std::array<wchar_t, 4> typed{};
  // Flag 4: the keyboard's state (a pending dead key) is left as it was.
  if (::GetKeyboardState(state.data()) &&
      ::ToUnicode(static_cast<UINT>(key), (static_cast<UINT>(lParam) >> 16) & 0xFF, state.data(), typed.data(),
                  static_cast<int>(typed.size()), 4) == 1 &&
      typed[0] > L' ') {
    return WideToUtf8(std::wstring(1, typed[0]));
  }
  static const std::map<WPARAM, const char*> names = {
      {VK_BACK, "Backspace"},  {VK_TAB, "Tab"},        {VK_RETURN, "Enter"},  {VK_ESCAPE, "Escape"},
      {VK_SPACE, " "},         {VK_PRIOR, "PageUp"},   {VK_NEXT, "PageDown"}, {VK_END, "End"},
      {VK_HOME, "Home"},       {VK_LEFT, "ArrowLeft"}, {VK_UP, "ArrowUp"},    {VK_RIGHT, "ArrowRight"},
      {VK_DOWN, "ArrowDown"},  {VK_INSERT, "Insert"},  {VK_DELETE, "Delete"}, {VK_SHIFT, "Shift"},
      {VK_CONTROL, "Control"}, {VK_MENU, "Alt"},       {VK_F5, "F5"},         {VK_F11, "F11"},
      {VK_F12, "F12"}};
  const auto found = names.find(key);
  return found != names.end() ? found->second : std::string();
}

// The live engines, for the pump message (owner's thread only).
std::vector<std::weak_ptr<Engine>>& LiveEngines() {
  static std::vector<std::weak_ptr<Engine>> engines;
  return engines;
}

// Browsers that ended on their own, by profile folder: the next start on the
// same profile waits for what is left of them (helpers still ending), or
// Chromium would find the profile in use and refuse to start.
struct EndedBrowsers {
  std::mutex mutex;
  std::map<std::wstring, UnixProcessId> byProfile;
};
EndedBrowsers& Ended() {
  static EndedBrowsers ended;
  return ended;
}

void WaitForEndedBrowser(const std::wstring& profileFolder) {
  std::optional<UnixProcessId> left;
  {
    const std::lock_guard lock(Ended().mutex);
    const auto found = Ended().byProfile.find(profileFolder);
    if (found == Ended().byProfile.end()) return;
    left = found->second;
    Ended().byProfile.erase(found);
  }
  if (WaitUntilGroupGone(*left, std::chrono::seconds(10))) return;
  failure_log::LogFailure("WaitUntilGroupGone(the ended browser)", ERROR_TIMEOUT, __FILE__, __LINE__);
  KillGroup(*left);
  if (!WaitUntilGroupGone(*left, std::chrono::seconds(5))) {
    failure_log::LogFailure("KillGroup(the ended browser)", ERROR_TIMEOUT, __FILE__, __LINE__);
  }
}

// The watchdog's question to a page's renderer is answered on its main
// thread, after whatever runs there. Healthy pages took 0.55 s at worst
// through the real-engine and runtime host tests on a busy two-core machine
// (load average near 4, PDF lessons and renderer restarts included);
// Chromium's own monitor of a page's input waits 15 s on desktops. Five
// seconds stays well clear of the first, and keeps a test of a hang short.
constexpr std::chrono::milliseconds kUnresponsiveAfter{5000};
// Told again this often while the renderer still gives no answer.
constexpr std::chrono::milliseconds kUnresponsiveRepeat{5000};
// The client's own deadline for the question, past which it is asked anew
// (the wait goes on): long enough never to matter otherwise.
constexpr std::chrono::minutes kProbeDeadline{10};
constexpr int kStillActive = 259;

// COREWEBVIEW2_PROCESS_FAILED_REASON of a renderer's end as Target.targetCrashed words it.
int CrashReason(const std::string& status) {
  if (status == "killed") return 2;                                         // TERMINATED
  if (status == "crashed" || status == "abnormal") return 3;                // CRASHED
  if (status == "failed to launch" || status == "launch failed") return 4;  // LAUNCH_FAILED
  if (status == "oom") return 5;                                            // OUT_OF_MEMORY
  return 0;                                                                 // UNEXPECTED
}

// How the browser ended, when it is still there to ask: a child nobody has
// reaped yet keeps its wait status in /proc (the field after the 51st).
ProcessExit BrowserExit(const UnixProcessId& process) {
  ProcessExit exit{0, 0, 0};  // BROWSER_PROCESS_EXITED, UNEXPECTED
  // The kernel closes a dying process's files before it makes it a zombie:
  // the pipe may close while the browser's threads are still being torn
  // down, and its wait status comes a moment later.
  constexpr int kZombieWaitMs = 1000;
  constexpr int kZombiePollMs = 5;
  std::optional<std::string> stat;
  std::size_t name = std::string::npos;
  for (int waited = 0;; waited += kZombiePollMs) {
    stat = ReadUnixFile("/proc/" + std::to_string(process.pid) + "/stat");
    if (!stat) return exit;
    name = stat->rfind(')');
    if (name == std::string::npos || name + 2 >= stat->size()) return exit;
    if ((*stat)[name + 2] == 'Z') break;
    if (waited >= kZombieWaitMs) return exit;
    ::Sleep(kZombiePollMs);
  }
  std::vector<std::string> fields;
  std::size_t at = name + 2;
  while (at < stat->size()) {
    const std::size_t end = stat->find(' ', at);
    fields.push_back(stat->substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  // fields[0] is field 3 (the state); the exit code is field 52.
  if (fields.size() < 50) return exit;
  const int status = std::atoi(fields[49].c_str());
  const int signal = status & 0x7F;
  if (signal != 0) {
    exit.reason = signal == 9 || signal == 15 ? 2 : 3;  // TERMINATED by a kill, else CRASHED
    exit.exitCode = signal;
  } else {
    exit.exitCode = (status >> 8) & 0xFF;
  }
  return exit;
}

}  // namespace

int WebErrorStatusOf(std::string_view netError) {
  if (netError.starts_with("net::")) netError.remove_prefix(5);
  static const std::map<std::string_view, int> known = {
      {"ERR_CERT_COMMON_NAME_INVALID", 1},
      {"ERR_CERT_DATE_INVALID", 2},
      {"ERR_BAD_SSL_CLIENT_AUTH_CERT", 3},
      {"ERR_SSL_CLIENT_AUTH_CERT_NEEDED", 3},
      {"ERR_CERT_REVOKED", 4},
      {"ERR_ADDRESS_UNREACHABLE", 6},
      {"ERR_INVALID_RESPONSE", 8},
      {"ERR_EMPTY_RESPONSE", 8},
      {"ERR_CONNECTION_CLOSED", 9},
      {"ERR_CONNECTION_ABORTED", 9},
      {"ERR_CONNECTION_RESET", 10},
      {"ERR_INTERNET_DISCONNECTED", 11},
      {"ERR_CONNECTION_REFUSED", 12},
      {"ERR_CONNECTION_FAILED", 12},
      {"ERR_NAME_NOT_RESOLVED", 13},
      {"ERR_NAME_RESOLUTION_FAILED", 13},
      {"ERR_ABORTED", 14},
      {"ERR_TOO_MANY_REDIRECTS", 15},
      {"ERR_UNSAFE_REDIRECT", 15},
      {"ERR_INVALID_REDIRECT", 15},
      {"ERR_INVALID_AUTH_CREDENTIALS", 17},
      {"ERR_PROXY_AUTH_REQUESTED", 18},
      {"ERR_PROXY_AUTH_UNSUPPORTED", 18},
  };
  if (const auto found = known.find(netError); found != known.end()) return found->second;
  if (netError.ends_with("TIMED_OUT")) return 7;    // TIMEOUT
  if (netError.starts_with("ERR_CERT_")) return 5;  // CERTIFICATE_IS_INVALID
  return 16;                                        // UNEXPECTED_ERROR
}

std::vector<std::string> BrowserArguments(const std::wstring& hostArguments) {
  std::string disabled;
  std::string enabled;
  for (const char* feature : kDisabledFeatures) AppendList(disabled, feature);
  std::vector<std::string> out(std::begin(kOwnSwitches), std::end(kOwnSwitches));
  for (std::string& argument : SplitCommandLine(hostArguments)) {
    if (argument.starts_with("--disable-features=")) {
      AppendList(disabled, std::string_view(argument).substr(19));
    } else if (argument.starts_with("--enable-features=")) {
      AppendList(enabled, std::string_view(argument).substr(18));
    } else {
      out.push_back(std::move(argument));
    }
  }
  out.push_back("--disable-features=" + disabled);
  if (!enabled.empty()) out.push_back("--enable-features=" + enabled);
  return out;
}

// ---------------------------------------------------------------- Engine

Engine::Engine(const ChromiumOptions& options) : profileFolder_(options.profileFolder), browser_(options) {
  std::string product = browser_.version().value("product", std::string());
  version_ = product.substr(product.find('/') == std::string::npos ? 0 : product.find('/') + 1);
  // A page must not learn it runs headless: some sites refuse such browsers.
  userAgent_ = browser_.version().value("userAgent", std::string());
  if (const std::size_t headless = userAgent_.find("HeadlessChrome/"); headless != std::string::npos) {
    userAgent_.erase(headless, 8);
  }
}

std::shared_ptr<Engine> Engine::Start(const ChromiumOptions& options) {
  WaitForEndedBrowser(options.profileFolder);
  return std::shared_ptr<Engine>(new Engine(options));
}

Engine::~Engine() = default;

void Engine::AttachTo(HWND postWindow, UINT pumpMessage) {
  postWindow_ = postWindow;
  pumpMessage_ = pumpMessage;
  auto& live = LiveEngines();
  std::erase_if(live, [](const std::weak_ptr<Engine>& engine) { return engine.expired(); });
  live.push_back(weak_from_this());
  cdp().SetEventHandler([this](const CdpEvent& event) { OnEvent(event); });
  cdp().SetDisconnectHandler([this] { OnDisconnected(); });
  cdp().SetWakeUp([postWindow, pumpMessage] { ::PostMessageW(postWindow, pumpMessage, 0, 0); });
  // Anything already queued would wait for a wake-up that has come and gone.
  ::PostMessageW(postWindow, pumpMessage, 0, 0);
  ::SetTimer(postWindow, kWatchTimer, kWatchIntervalMs, nullptr);
  // Pop-ups are found as new targets with one of ours as their opener.
  cdp().SendAsync("Target.setDiscoverTargets", {{"discover", true}}, {}, kDefaultCdpTimeout, [](const CdpReply& reply) {
    if (!reply.ok()) failure_log::LogFailure("Target.setDiscoverTargets", E_FAIL, __FILE__, __LINE__);
  });
}

void Engine::PumpAll() {
  const std::vector<std::weak_ptr<Engine>> engines = LiveEngines();  // a handler may start another
  for (const auto& weak : engines) {
    if (const std::shared_ptr<Engine> engine = weak.lock()) engine->Pump();
  }
}

void Engine::WatchAll() {
  const std::vector<std::weak_ptr<Engine>> engines = LiveEngines();  // a handler may start another
  for (const auto& weak : engines) {
    if (const std::shared_ptr<Engine> engine = weak.lock()) engine->Watch();
  }
}

void Engine::Watch() {
  if (gone_) return;
  std::vector<std::shared_ptr<Page>> pages;
  for (const auto& [session, weak] : pages_) {
    if (std::shared_ptr<Page> page = weak.lock()) pages.push_back(std::move(page));
  }
  // While a host handler runs from the pump, the answers wait in the queue
  // unseen: the renderer is not to blame for that.
  for (const auto& page : pages) page->Watch(!pumping_);
}

void Engine::Pump() {
  // A host handler that runs a modal loop would pump again from inside a
  // handler and run later events before the rest of this batch.
  if (pumping_) return;
  pumping_ = true;
  const ScopeExit done([this] { pumping_ = false; });
  cdp().Pump();
  std::vector<std::function<void()>> deferred;
  deferred.swap(deferred_);
  for (const auto& work : deferred) {
    try {
      work();
    } catch (...) {
      MIRAVELL_LOG_CAUGHT_EXCEPTION();
    }
  }
  if (!deferred_.empty() && postWindow_ != nullptr) {
    ::PostMessageW(postWindow_, pumpMessage_, 0, 0);
  } else if (::WaitForSingleObject(cdp().ReadyEvent(), 0) == WAIT_OBJECT_0 && postWindow_ != nullptr) {
    ::PostMessageW(postWindow_, pumpMessage_, 0, 0);
  }
}

void Engine::Defer(std::function<void()> work) {
  deferred_.push_back(std::move(work));
  if (postWindow_ != nullptr) ::PostMessageW(postWindow_, pumpMessage_, 0, 0);
}

// Only a browser that ends on its own comes here: one we close is destroyed
// with its client, and nothing is pumped after that.
void Engine::OnDisconnected() {
  if (gone_) return;
  gone_ = true;
  const ProcessExit exit = BrowserExit(browser_.process());
  {
    const std::lock_guard lock(Ended().mutex);
    Ended().byProfile[profileFolder_] = browser_.process();
  }
  std::vector<std::shared_ptr<Page>> pages;
  for (const auto& [session, weak] : pages_) {
    if (std::shared_ptr<Page> page = weak.lock()) pages.push_back(std::move(page));
  }
  for (const auto& page : pages) page->OnBrowserGone(exit);
}

void Engine::Register(const std::shared_ptr<Page>& page) { pages_[page->sessionId()] = page; }

void Engine::Unregister(const Page& page) { pages_.erase(page.sessionId()); }

void Engine::OnEvent(const CdpEvent& event) {
  if (event.sessionId.empty()) {
    if (event.method == "Target.targetCrashed") {
      const std::string target = event.params.value("targetId", std::string());
      for (const auto& [session, weak] : pages_) {
        const std::shared_ptr<Page> page = weak.lock();
        if (page && page->targetId() == target) return page->OnCrashed(event.params);
      }
      return;
    }
    if (event.method != "Target.targetCreated") return;
    const json& info = event.params.value("targetInfo", json::object());
    const std::string opener = info.value("openerId", std::string());
    if (opener.empty() || info.value("type", std::string()) != "page") return;
    for (const auto& [session, weak] : pages_) {
      const std::shared_ptr<Page> page = weak.lock();
      if (!page || page->targetId() != opener) continue;
      // One window only: the page learns of the pop-up through
      // NewWindowRequested and may show it in the same view.
      cdp().SendAsync("Target.closeTarget", {{"targetId", info.value("targetId", std::string())}}, {},
                      kDefaultCdpTimeout, [](const CdpReply&) {});
      return;
    }
    return;
  }
  const auto found = pages_.find(event.sessionId);
  const std::shared_ptr<Page> page = found != pages_.end() ? found->second.lock() : nullptr;
  if (page) {
    page->OnEvent(event);
  } else if (event.method == "Fetch.requestPaused") {
    // A request of a page nobody holds any more must not hang.
    cdp().SendAsync("Fetch.continueRequest", {{"requestId", event.params.value("requestId", std::string())}},
                    event.sessionId, kDefaultCdpTimeout, [](const CdpReply&) {});
  }
}

// ---------------------------------------------------------------- Page

Page::Page(std::shared_ptr<Engine> engine, std::string targetId, std::string sessionId)
    : engine_(std::move(engine)), targetId_(std::move(targetId)), sessionId_(std::move(sessionId)) {}

std::shared_ptr<Page> Page::Open(const std::shared_ptr<Engine>& engine) {
  CdpClient& cdp = engine->cdp();
  const std::string targetId =
      Required(cdp, "Target.createTarget", {{"url", "about:blank"}}).value("targetId", std::string());
  std::string sessionId;
  try {
    sessionId = Required(cdp, "Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}})
                    .value("sessionId", std::string());
    Required(cdp, "Page.enable", json::object(), sessionId);
    Required(cdp, "Page.setLifecycleEventsEnabled", {{"enabled", true}}, sessionId);
    Required(cdp, "Runtime.enable", json::object(), sessionId);
    // For the document's response and how its load failed; no body is kept.
    Required(cdp, "Network.enable", {{"maxTotalBufferSize", 1}, {"maxResourceBufferSize", 1}}, sessionId);
    Required(cdp, "Runtime.addBinding", {{"name", kBinding}}, sessionId);
    Required(cdp, "Page.addScriptToEvaluateOnNewDocument", {{"source", kWebViewScript}}, sessionId);
    Required(cdp, "Runtime.addBinding", {{"name", kPermissionBinding}}, sessionId);
    Required(cdp, "Page.addScriptToEvaluateOnNewDocument", {{"source", kPermissionScript}}, sessionId);
    Required(
        cdp, "Fetch.enable",
        {{"patterns", json::array({{{"urlPattern", "*"}, {"resourceType", "Document"}, {"requestStage", "Request"}}})}},
        sessionId);
    Required(cdp, "Emulation.setUserAgentOverride", {{"userAgent", engine->userAgent()}}, sessionId);
    // Headless pages never have the focus; the player's pages expect it.
    Required(cdp, "Emulation.setFocusEmulationEnabled", {{"enabled", true}}, sessionId);
  } catch (...) {
    (void)cdp.Send("Target.closeTarget", {{"targetId", targetId}});
    throw;
  }
  return std::shared_ptr<Page>(new Page(engine, targetId, sessionId));
}

Page::~Page() {
  try {
    Close();
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
  }
}

void Page::Send(const char* method, json params, std::function<void(const CdpReply&)> done) {
  if (closed_) return;
  const std::string name = method;
  engine_->cdp().SendAsync(
      method, params, sessionId_, kDefaultCdpTimeout, [name, done = std::move(done)](const CdpReply& reply) {
        if (!reply.ok() && reply.status != CdpStatus::kDisconnected) {
          failure_log::LogFailure((name + " " + Describe(reply)).c_str(), E_FAIL, __FILE__, __LINE__);
        }
        if (done) done(reply);
      });
}

void Page::Close() {
  if (closed_) return;
  engine_->cdp().SendAsync("Target.closeTarget", {{"targetId", targetId_}}, {}, kDefaultCdpTimeout,
                           [](const CdpReply&) {});
  closed_ = true;
  engine_->Unregister(*this);
  events_.reset();
}

std::string Page::Source() const { return source_; }

void Page::Navigate(const std::string& uri) {
  InterruptHungScript();
  if (IsWebAddress(uri)) {
    // The request is held at its start, where the navigation event is raised.
    requestedReason_.clear();
    Send("Page.navigate", {{"url", uri}}, [weak = weak_from_this()](const CdpReply& reply) {
      if (const std::shared_ptr<Page> page = weak.lock()) page->OnNavigateReply(0, reply);
    });
    return;
  }
  // No request leaves for these, so the event is raised here first.
  StartNavigation(uri, uri);
}

void Page::NavigateToString(const std::string& html) {
  // A document of its own (scripts added for new documents run before its
  // own), known to the host as about:blank, the address it gives the pages
  // it makes itself.
  const std::string address = "data:text/html;charset=utf-8;base64," + Base64Encode(html);
  generatedUrls_.insert(address);
  InterruptHungScript();
  StartNavigation(address, "about:blank");
}

void Page::StartNavigation(const std::string& uri, const std::string& shownAs) {
  DeferNavigation(uri, shownAs, [uri](Page& page, std::uint64_t id) {
    const std::weak_ptr<Page> weak = page.weak_from_this();
    page.Send("Page.navigate", {{"url", uri}}, [weak, id](const CdpReply& reply) {
      if (const std::shared_ptr<Page> again = weak.lock()) again->OnNavigateReply(id, reply);
    });
  });
}

// Raises the navigation event later, as the engine would, and goes only when
// nobody cancelled it.
void Page::DeferNavigation(const std::string& uri, const std::string& shownAs,
                           std::function<void(Page& page, std::uint64_t id)> go) {
  const std::weak_ptr<Page> weak = weak_from_this();
  const std::uint64_t id = ++navigationId_;
  engine_->Defer([weak, uri, shownAs, id, go = std::move(go)] {
    const std::shared_ptr<Page> page = weak.lock();
    if (!page || page->closed_) return;
    const auto events = page->events_;
    const bool cancel = events && events->navigationStarting && events->navigationStarting({shownAs, false, false, id});
    if (page->closed_) return;
    if (cancel) return page->Cancelled(id);
    page->Begin(id, {}, uri);
    go(*page, id);
  });
}

void Page::Begin(std::uint64_t id, const std::string& loaderId, const std::string& uri) {
  if (pending_ && pending_->id == id) {
    if (pending_->loaderId.empty()) pending_->loaderId = loaderId;
    return;
  }
  // Navigating away before the last one ended ends it, unsuccessfully.
  if (pending_) Complete(false, 14);  // OPERATION_CANCELED
  pending_ = Pending{id, loaderId, uri};
}

void Page::Fail(int webErrorStatus) {
  if (!pending_) return;
  if (webErrorStatus != 14) source_ = generatedUrls_.contains(pending_->uri) ? "about:blank" : pending_->uri;
  Complete(false, webErrorStatus);
}

void Page::Complete(bool success, int webErrorStatus) {
  if (!pending_) return;
  const NavigationEnd end{pending_->id, success, webErrorStatus, pending_->status};
  pending_.reset();
  const std::shared_ptr<const PageEvents> events = events_;
  if (events && events->navigationCompleted) events->navigationCompleted(end);
}

// A navigation the host cancelled ends at once, and the page stays as it was.
void Page::Cancelled(std::uint64_t id) {
  if (pending_ && pending_->id == id) pending_.reset();  // a redirect of the pending one
  const std::shared_ptr<const PageEvents> events = events_;
  if (events && events->navigationCompleted) events->navigationCompleted({id, false, 14, 0});
}

// Page.navigate answers with the net error of a navigation that failed
// before anything committed; id 0: the navigation is known by its loader.
void Page::OnNavigateReply(std::uint64_t id, const CdpReply& reply) {
  if (!reply.ok() || !pending_) return;
  const std::string error = reply.value.value("errorText", std::string());
  if (error.empty()) return;
  const std::string loader = reply.value.value("loaderId", std::string());
  if (id != 0 ? pending_->id != id : pending_->loaderId != loader) return;
  Fail(WebErrorStatusOf(error));
}

void Page::OnNetworkEvent(const CdpEvent& event) {
  const json& params = event.params;
  if (!pending_ || pending_->loaderId.empty() || params.value("requestId", std::string()) != pending_->loaderId) return;
  if (event.method == "Network.responseReceived") {
    const json& response = params.value("response", json::object());
    // Only an HTTP request has a status: a page the host made has none.
    if (IsWebAddress(response.value("url", std::string()))) pending_->status = response.value("status", 0);
  } else if (event.method == "Network.loadingFailed") {
    Fail(params.value("canceled", false) ? 14 : WebErrorStatusOf(params.value("errorText", std::string())));
  }
}

void Page::OnCrashed(const json& params) {
  if (closed_) return;
  // What was under way went with the renderer; the host reloads or navigates anew.
  pending_.reset();
  // Nothing is left to ask until a navigation commits in a new renderer.
  rendererGone_ = true;
  probe_.reset();
  contextFrames_.clear();
  contextOrigins_.clear();
  const ProcessExit exit{1, CrashReason(params.value("status", std::string())), params.value("errorCode", 0)};
  const std::shared_ptr<const PageEvents> events = events_;
  if (events && events->processFailed) events->processFailed(exit);
}

void Page::OnBrowserGone(const ProcessExit& exit) {
  if (closed_) return;
  const std::shared_ptr<const PageEvents> events = events_;
  // Closed before the host hears of it, so that whatever it calls meanwhile fails.
  closed_ = true;
  pending_.reset();
  engine_->Unregister(*this);
  events_.reset();
  if (events && events->processFailed) events->processFailed(exit);
}

bool Page::CanGo(int step) {
  if (closed_) return false;
  const CdpReply history = engine_->cdp().Send("Page.getNavigationHistory", json::object(), sessionId_);
  if (!history.ok()) return false;
  const int current = history.value.value("currentIndex", 0);
  const json& entries = history.value.value("entries", json::array());
  const int wanted = current + step;
  // The blank page every target starts with is no place to go back to.
  const int first = !entries.empty() && entries[0].value("url", std::string()) == "about:blank" ? 1 : 0;
  return wanted >= first && wanted < static_cast<int>(entries.size());
}

void Page::Go(int step) {
  if (!CanGo(step)) return;
  InterruptHungScript();
  const CdpReply history = engine_->cdp().Send("Page.getNavigationHistory", json::object(), sessionId_);
  if (!history.ok()) return;
  const json& entry = history.value["entries"][history.value.value("currentIndex", 0) + step];
  const std::string url = entry.value("url", std::string());
  const int entryId = entry.value("id", 0);
  if (IsWebAddress(url)) {
    Send("Page.navigateToHistoryEntry", {{"entryId", entryId}});
    return;
  }
  const std::string shownAs = generatedUrls_.contains(url) ? "about:blank" : url;
  DeferNavigation(url, shownAs, [entryId](Page& page, std::uint64_t) {
    page.Send("Page.navigateToHistoryEntry", {{"entryId", entryId}});
  });
}

void Page::Reload() {
  InterruptHungScript();
  if (IsWebAddress(currentUrl_)) {
    // The request is held at its start, where the navigation event is raised.
    Send("Page.reload");
    return;
  }
  // No request leaves for a page the host made, so the event is raised here.
  DeferNavigation(currentUrl_, source_, [](Page& page, std::uint64_t) { page.Send("Page.reload"); });
}

void Page::Stop() { Send("Page.stopLoading"); }

// Chromium commits a same-site navigation in the renderer the page has, whose
// main thread would have to finish the script first: the navigation would
// wait for ever. The real engine recovers when the host navigates away, as an
// embedder's view does by ending the stuck script before its own loads;
// Runtime.terminateExecution reaches the renderer off its main thread and
// ends the script at once.
void Page::InterruptHungScript() {
  if (probe_ && probe_->reported) Send("Runtime.terminateExecution");
}

void Page::Watch(bool answersSeen) {
  if (closed_ || rendererGone_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!probe_) return Ask(Probe{0, now, std::nullopt});
  if (!answersSeen) {
    probe_->asked = now;
    if (probe_->reported) probe_->reported = now;
    return;
  }
  if (now - probe_->asked < kUnresponsiveAfter) return;
  if (probe_->reported && now - *probe_->reported < kUnresponsiveRepeat) return;
  probe_->reported = now;
  const std::shared_ptr<Page> hold = shared_from_this();  // the host may close the page in its handler
  const std::shared_ptr<const PageEvents> events = events_;
  // RENDER_PROCESS_UNRESPONSIVE, UNRESPONSIVE, and the exit code of a process still running.
  if (events && events->processFailed) events->processFailed({2, 1, kStillActive});
}

// Any answer will do, an error included: only a renderer whose main thread is stuck gives none.
void Page::Ask(Probe probe) {
  probe.id = ++probes_;
  probe_ = probe;
  engine_->cdp().SendAsync("Runtime.evaluate", {{"expression", "0"}}, sessionId_, kProbeDeadline,
                           [weak = weak_from_this(), id = probe.id](const CdpReply& reply) {
                             const std::shared_ptr<Page> page = weak.lock();
                             if (!page || page->closed_ || !page->probe_ || page->probe_->id != id) return;
                             if (reply.status == CdpStatus::kTimedOut) return page->Ask(*page->probe_);
                             const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - page->probe_->asked);
                             page->probe_.reset();
                             if (waited <= page->slowestAnswer_) return;
                             page->slowestAnswer_ = waited;
                             const std::shared_ptr<const PageEvents> events = page->events_;
                             if (events && events->slowestAnswer) events->slowestAnswer(waited);
                           });
}

void Page::AddScript(const std::string& source, std::function<void(HRESULT, const std::string&)> done) {
  Send("Page.addScriptToEvaluateOnNewDocument", {{"source", source}}, [done](const CdpReply& reply) {
    if (done) done(reply.ok() ? S_OK : E_FAIL, reply.ok() ? reply.value.value("identifier", std::string()) : "");
  });
}

void Page::RemoveScript(const std::string& id) {
  Send("Page.removeScriptToEvaluateOnNewDocument", {{"identifier", id}});
}

void Page::ExecuteScript(const std::string& source, std::function<void(HRESULT, const std::string&)> done) {
  Send("Runtime.evaluate", {{"expression", source}, {"returnByValue", true}}, [done](const CdpReply& reply) {
    if (!done) return;
    if (!reply.ok()) return done(E_FAIL, "null");
    // A script that threw, or whose value JSON cannot carry, gives null.
    const json& result = reply.value.value("result", json::object());
    done(S_OK, reply.value.contains("exceptionDetails") || !result.contains("value") ? "null" : result["value"].dump());
  });
}

void Page::PostMessageJson(const std::string& messageJson) {
  if (json::parse(messageJson, nullptr, false).is_discarded()) return;
  Send("Runtime.evaluate",
       {{"expression",
         "window.chrome && window.chrome.webview && window.chrome.webview.__deliver(" + messageJson + ")"}});
}

void Page::Input(UINT message, WPARAM wParam, LPARAM lParam) {
  const int modifiers = Modifiers();
  if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
    POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    const int buttons =
        ((wParam & MK_LBUTTON) ? 1 : 0) | ((wParam & MK_RBUTTON) ? 2 : 0) | ((wParam & MK_MBUTTON) ? 4 : 0);
    json event = {{"x", at.x}, {"y", at.y}, {"modifiers", modifiers}, {"buttons", buttons}};
    const auto click = [&](const char* type, const char* button, int count) {
      clickCount_ = count;
      event["type"] = type;
      event["button"] = button;
      event["clickCount"] = count;
    };
    switch (message) {
      case WM_MOUSEMOVE:
        event["type"] = "mouseMoved";
        break;
      case WM_LBUTTONDOWN:
        click("mousePressed", "left", 1);
        break;
      case WM_LBUTTONDBLCLK:
        click("mousePressed", "left", 2);
        break;
      case WM_LBUTTONUP:
        click("mouseReleased", "left", clickCount_);
        break;
      case WM_RBUTTONDOWN:
      case WM_RBUTTONDBLCLK:
        click("mousePressed", "right", 1);
        break;
      case WM_RBUTTONUP:
        click("mouseReleased", "right", 1);
        break;
      case WM_MBUTTONDOWN:
      case WM_MBUTTONDBLCLK:
        click("mousePressed", "middle", 1);
        break;
      case WM_MBUTTONUP:
        click("mouseReleased", "middle", 1);
        break;
      case WM_MOUSEWHEEL:
      case WM_MOUSEHWHEEL: {
        // Wheel messages come in screen coordinates; a notch scrolls 100 pixels.
        HWND window = ::WindowFromPoint(at);
        if (window != nullptr) ::ScreenToClient(window, &at);
        const double notches = GET_WHEEL_DELTA_WPARAM(wParam) / static_cast<double>(WHEEL_DELTA);
        event = {{"type", "mouseWheel"},
                 {"x", at.x},
                 {"y", at.y},
                 {"modifiers", modifiers},
                 {"deltaX", message == WM_MOUSEHWHEEL ? notches * 100 : 0.0},
                 {"deltaY", message == WM_MOUSEWHEEL ? -notches * 100 : 0.0}};
        break;
      }
      default:
        return;
    }
    Send("Input.dispatchMouseEvent", std::move(event));
    return;
  }
  const int virtualKey = static_cast<int>(wParam);
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
      json event = {{"type", down ? "rawKeyDown" : "keyUp"},
                    {"modifiers", modifiers},
                    {"windowsVirtualKeyCode", virtualKey},
                    {"nativeVirtualKeyCode", virtualKey},
                    {"autoRepeat", down && (lParam & (1 << 30)) != 0},
                    {"isSystemKey", message == WM_SYSKEYDOWN || message == WM_SYSKEYUP}};
      if (const std::string key = KeyName(wParam, lParam); !key.empty()) event["key"] = key;
      Send("Input.dispatchKeyEvent", std::move(event));
      return;
    }
    case WM_CHAR:
    case WM_SYSCHAR: {
      // Typed text comes as characters after the key, as on Windows; the
      // control characters the keys above already stand for type nothing.
      const wchar_t typed = static_cast<wchar_t>(wParam);
      if (typed < L' ' && typed != L'\r') return;
      const std::string text = WideToUtf8(std::wstring(1, typed));
      Send("Input.dispatchKeyEvent", {{"type", "char"},
                                      {"modifiers", modifiers},
                                      {"text", text},
                                      {"unmodifiedText", text},
                                      {"key", text},
                                      {"windowsVirtualKeyCode", typed},
                                      {"isSystemKey", message == WM_SYSCHAR}});
      return;
    }
    default:
      return;
  }
}

void Page::Resize(int width, int height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  ApplySize();
}

// A capture puts the viewport back to the size it began at when it ends:
// Chromium would paint at the former size from then on, and every frame of
// the screencast would be of that size. A new size waits for the capture.
void Page::ApplySize() {
  if (width_ <= 0 || height_ <= 0) return;
  if (capturing_) {
    sizeHeld_ = true;
    return;
  }
  Send("Emulation.setDeviceMetricsOverride",
       {{"width", width_}, {"height", height_}, {"deviceScaleFactor", 1}, {"mobile", false}});
  Screencast();
}

void Page::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Screencast();
}

// Frames come only while the page shows, at the size of the view.
void Page::Screencast() {
  if (casting_) {
    Send("Page.stopScreencast");
    casting_ = false;
  }
  if (!visible_ || width_ <= 0 || height_ <= 0) return;
  Send("Page.startScreencast",
       {{"format", "jpeg"}, {"quality", 90}, {"maxWidth", width_}, {"maxHeight", height_}, {"everyNthFrame", 1}});
  casting_ = true;
  // The frame of the new size may come before the screencast starts again.
  ++changes_;
}

// Chromium drops the frames it makes while two wait for their
// acknowledgement, and a page that then stops changing sends none: the window
// would keep a frame from the middle of a fade, or of the old size, for good. A capture after the
// screencast has gone quiet shows where the page came to rest.
void Page::Settle() {
  if (closed_ || !visible_ || !casting_ || capturing_ || settled_ == changes_) return;
  settled_ = changes_;
  capturing_ = true;
  Send("Page.captureScreenshot", {{"format", "jpeg"}, {"quality", 90}},
       [weak = weak_from_this(), asked = changes_](const CdpReply& reply) {
         const std::shared_ptr<Page> page = weak.lock();
         if (!page) return;
         page->capturing_ = false;
         if (page->sizeHeld_ && !page->closed_) {
           // The capture is of the former size. Nothing may repaint at the
           // new one, so no frame of it would come: one is captured now.
           page->sizeHeld_ = false;
           page->ApplySize();
           page->Settle();
           return;
         }
         // A frame that came meanwhile is newer than the capture.
         if (!reply.ok() || page->changes_ != asked || page->closed_ || !page->visible_) return;
         const std::shared_ptr<const PageEvents> events = page->events_;
         if (events && events->frame) events->frame(Base64Decode(reply.value.value("data", std::string())));
       });
}

void Page::SetBackground(int red, int green, int blue, int alpha) {
  Send("Emulation.setDefaultBackgroundColorOverride",
       {{"color", {{"r", red}, {"g", green}, {"b", blue}, {"a", alpha / 255.0}}}});
}

void Page::SetScriptEnabled(bool enabled) { Send("Emulation.setScriptExecutionDisabled", {{"value", !enabled}}); }

void Page::SetUserAgent(const std::string& userAgent) {
  Send("Emulation.setUserAgentOverride", {{"userAgent", userAgent}});
}

void Page::InterceptAllRequests(bool all) {
  if (all == interceptAll_) return;
  interceptAll_ = all;
  json pattern = {{"urlPattern", "*"}, {"requestStage", "Request"}};
  if (!all) pattern["resourceType"] = "Document";
  Send("Fetch.enable", {{"patterns", json::array({pattern})}});
}

void Page::OnEvent(const CdpEvent& event) {
  if (closed_ || !events_) return;
  const std::shared_ptr<const PageEvents> events = events_;
  const json& params = event.params;
  if (event.method == "Fetch.requestPaused") {
    OnRequestPaused(params, *events);
  } else if (event.method == "Page.screencastFrame") {
    OnFrame(params, *events);
  } else if (event.method == "Runtime.bindingCalled") {
    OnBinding(params, *events);
  } else if (event.method == "Runtime.executionContextCreated") {
    const json& context = params.value("context", json::object());
    contextFrames_[context.value("id", 0)] = context.value("auxData", json::object()).value("frameId", std::string());
    contextOrigins_[context.value("id", 0)] = context.value("origin", std::string());
  } else if (event.method == "Runtime.executionContextDestroyed") {
    contextFrames_.erase(params.value("executionContextId", 0));
    contextOrigins_.erase(params.value("executionContextId", 0));
  } else if (event.method == "Runtime.executionContextsCleared") {
    contextFrames_.clear();
    contextOrigins_.clear();
  } else if (event.method.starts_with("Network.")) {
    OnNetworkEvent(event);
  } else if (event.method == "Page.frameNavigated") {
    const json& frame = params.value("frame", json::object());
    if (frame.contains("parentId")) return;
    rendererGone_ = false;
    topOrigin_ = frame.value("securityOrigin", std::string());
    const std::string loader = frame.value("loaderId", std::string());
    // A failed load commits Chromium's error page in the address's place;
    // the host still knows the page by the address it failed at.
    const std::string unreachable = frame.value("unreachableUrl", std::string());
    const std::string url = unreachable.empty()
                                ? frame.value("url", std::string()) + frame.value("urlFragment", std::string())
                                : unreachable;
    source_ = generatedUrls_.contains(url) ? "about:blank" : url;
    currentUrl_ = url;
    if (IsWebAddress(url) && unreachable.empty()) contentLoader_ = loader;
    if (pending_ && pending_->loaderId.empty()) pending_->loaderId = loader;
    if (pending_ && pending_->loaderId == loader && !unreachable.empty()) pending_->errorPage = true;
  } else if (event.method == "Page.lifecycleEvent") {
    const std::string name = params.value("name", std::string());
    const std::string loader = params.value("loaderId", std::string());
    if (params.value("frameId", std::string()) != targetId_) return;
    if (!contentLoader_.empty() && name == "firstPaint" && loader == contentLoader_) {
      contentPainted_ = true;
      contentLoader_.clear();
    }
    if (name == "load" && pending_ && pending_->loaderId == loader) {
      if (pending_->errorPage) {
        // No net error came (an empty error response shows Chromium's own page).
        Complete(false, pending_->status >= 400 ? 0 : 16);  // UNKNOWN, UNEXPECTED_ERROR
      } else {
        // The engine's word: a server's 4xx is a failure (whose error status
        // is UNKNOWN); a 5xx with a page of its own is not.
        Complete(pending_->status < 400 || pending_->status >= 500, 0);
      }
    }
  } else if (event.method == "Page.navigatedWithinDocument") {
    if (params.value("frameId", std::string()) == targetId_) source_ = params.value("url", source_);
  } else if (event.method == "Page.frameRequestedNavigation") {
    if (params.value("frameId", std::string()) == targetId_) requestedReason_ = params.value("reason", std::string());
  } else if (event.method == "Page.windowOpen") {
    if (events->newWindow) events->newWindow(params.value("url", std::string()), params.value("userGesture", false));
  } else if (event.method == "Page.javascriptDialogOpening") {
    // A headless page waits for ever on a dialog nobody answers.
    Send("Page.handleJavaScriptDialog", {{"accept", true}});
  }
}

void Page::OnRequestPaused(const json& params, const PageEvents& events) {
  const std::string requestId = params.value("requestId", std::string());
  const json& request = params.value("request", json::object());
  const std::string uri = request.value("url", std::string()) + request.value("urlFragment", std::string());
  const std::string type = params.value("resourceType", std::string());
  if (type == "Document" && params.value("frameId", std::string()) == targetId_) {
    const std::string redirectedFrom = params.value("redirectedRequestId", std::string());
    NavigationStart start{uri, false, !redirectedFrom.empty(), 0};
    const auto earlier = navigationIds_.find(redirectedFrom);
    start.id = earlier != navigationIds_.end() ? earlier->second : ++navigationId_;
    navigationIds_.erase(redirectedFrom);
    navigationIds_[requestId] = start.id;
    start.userInitiated = requestedReason_ == "anchorClick" || requestedReason_.starts_with("formSubmission");
    requestedReason_.clear();
    if (events.navigationStarting && events.navigationStarting(start)) {
      // Aborted, the navigation commits nothing: the page stays as it was.
      Send("Fetch.failRequest", {{"requestId", requestId}, {"errorReason", "Aborted"}});
      Cancelled(start.id);
      return;
    }
    if (closed_) return;
    // A navigation's request is known in Network by its loader's id.
    Begin(start.id, params.value("networkId", std::string()), uri);
  }
  const int context = ResourceContext(type);
  if (events.wantsResource && events.resource && events.wantsResource(uri, context)) {
    ResourceRequest asked{uri, request.value("method", std::string("GET")), HeadersOf(request["headers"]), context};
    const ResourceDecision decision = events.resource(asked);
    if (closed_) return;
    if (decision.response) {
      const ResourceResponse& response = *decision.response;
      json fulfil = {{"requestId", requestId},
                     {"responseCode", response.status},
                     {"responseHeaders", HeaderEntries(response.headers)},
                     {"body", Base64Encode(response.body)}};
      if (!response.reason.empty()) fulfil["responsePhrase"] = response.reason;
      Send("Fetch.fulfillRequest", std::move(fulfil));
      return;
    }
    if (decision.headers) {
      Send("Fetch.continueRequest", {{"requestId", requestId}, {"headers", HeaderEntries(*decision.headers)}});
      return;
    }
  }
  Send("Fetch.continueRequest", {{"requestId", requestId}});
}

void Page::OnFrame(const json& params, const PageEvents& events) {
  // Every frame is acknowledged, or Chromium sends no more.
  Send("Page.screencastFrameAck", {{"sessionId", params.value("sessionId", 0)}});
  // A capture makes Chromium paint once more at the size the view had before
  // its last resize, and that frame may come after the frames of the current
  // size: shown, the window would keep it, and it counts as no change.
  const json& metadata = params.value("metadata", json::object());
  if (std::lround(metadata.value("deviceWidth", 0.0)) != width_ ||
      std::lround(metadata.value("deviceHeight", 0.0)) != height_) {
    return;
  }
  ++changes_;
  if (!events.frame || !visible_) return;
  events.frame(Base64Decode(params.value("data", std::string())));
  if (contentPainted_ && !closed_) {
    contentPainted_ = false;
    if (events.contentShown) events.contentShown(source_);
  }
}

void Page::OnBinding(const json& params, const PageEvents& events) {
  if (params.value("name", std::string()) == kPermissionBinding) return OnPermissionAsked(params, events);
  if (params.value("name", std::string()) != kBinding || !webMessages_ || !events.message) return;
  const auto frame = contextFrames_.find(params.value("executionContextId", 0));
  if (frame == contextFrames_.end() || frame->second != targetId_) return;
  const std::string payload = params.value("payload", std::string());
  if (payload.size() < 2 || (payload[0] != 's' && payload[0] != 'j')) return;
  events.message(payload.substr(1), payload[0] == 's', source_);
}

void Page::OnPermissionAsked(const json& params, const PageEvents& events) {
  const int context = params.value("executionContextId", 0);
  const json asked = json::parse(params.value("payload", std::string()), nullptr, false);
  if (!asked.is_object() || !asked.contains("id") || !asked["id"].is_number_integer()) return;
  const std::string answer = "window.__miravellPermissionAnswer(" + std::to_string(asked["id"].get<long long>()) + ")";
  // The page waits for this whatever came of its request; a context gone
  // meanwhile needs no answer, so a failure is nobody's concern.
  const std::string session = sessionId_;
  const auto resume = [cdp = &engine_->cdp(), session, context, answer] {
    cdp->SendAsync("Runtime.evaluate", {{"expression", answer}, {"contextId", context}}, session, kDefaultCdpTimeout,
                   [](const CdpReply&) {});
  };
  // The origin is the browser's word for the context, never the page's.
  const auto origin = contextOrigins_.find(context);
  if (origin == contextOrigins_.end() || !IsWebAddress(origin->second) || topOrigin_.empty()) return resume();
  const std::string requester = origin->second + "/";
  const bool userInitiated = asked.value("user", false);
  // Each permission is a request of its own to the host, as with the real
  // runtime; the original API runs once all are applied.
  auto remaining = std::make_shared<int>(1);
  const auto oneDone = [remaining, resume] {
    if (--*remaining == 0) resume();
  };
  for (const json& name : asked.value("names", json::array())) {
    const auto known = std::find_if(std::begin(kPermissions), std::end(kPermissions), [&](const PermissionName& entry) {
      return name.is_string() && name.get<std::string>() == entry.name;
    });
    if (known == std::end(kPermissions)) continue;
    const int state = events.permission ? events.permission({known->kind, requester, userInitiated}) : 0;
    if (closed_) return;
    // Default leaves it to the engine, which in a headless browser refuses
    // what it would have prompted for, without remembering the refusal.
    const char* setting = state == 1 ? "granted" : state == 2 ? "denied" : "prompt";
    ++*remaining;
    // Chromium keeps a frame's delegated permissions by the top page's origin.
    engine_->cdp().SendAsync(
        "Browser.setPermission",
        {{"permission", json::parse(known->descriptor)}, {"setting", setting}, {"origin", topOrigin_}}, {},
        kDefaultCdpTimeout, [oneDone, name = std::string(known->name)](const CdpReply& reply) {
          if (!reply.ok() && reply.status != CdpStatus::kDisconnected) {
            failure_log::LogFailure(("Browser.setPermission " + name + " " + Describe(reply)).c_str(), E_FAIL, __FILE__,
                                    __LINE__);
          }
          oneDone();
        });
  }
  oneDone();
}

}  // namespace chromium_runtime

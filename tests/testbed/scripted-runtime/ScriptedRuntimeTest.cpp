// The scripted runtime installs where a loader looks, completes its calls
// later on the caller's thread, answers the slots the player uses, raises
// events into the player's handlers and logs what happened.
#include <windows.h>
#include <objbase.h>
#include <eventtoken.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

using Slot = void (*)();

// Calls slot `slot` of a COM object by its position in the vtable.
template <class... A>
HRESULT Call(void* object, int slot, A... args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, A...);
  return reinterpret_cast<Fn>((*static_cast<Slot**>(object))[slot])(object, args...);
}

void Release(void* object) {
  if (object == nullptr) return;
  using Fn = ULONG(STDMETHODCALLTYPE*)(void*);
  reinterpret_cast<Fn>((*static_cast<Slot**>(object))[2])(object);
}

void AddRef(void* object) {
  using Fn = ULONG(STDMETHODCALLTYPE*)(void*);
  reinterpret_cast<Fn>((*static_cast<Slot**>(object))[1])(object);
}

// A completion or event handler as the player would pass one: IUnknown + Invoke.
struct Handler {
  const Slot* vtbl;
  ULONG refs = 1;
  std::function<void(void*, void*)> onInvoke;
};

HRESULT STDMETHODCALLTYPE HandlerQueryInterface(void* self, REFIID, void** out) {
  static_cast<Handler*>(self)->refs++;
  *out = self;
  return S_OK;
}
ULONG STDMETHODCALLTYPE HandlerAddRef(void* self) { return ++static_cast<Handler*>(self)->refs; }
ULONG STDMETHODCALLTYPE HandlerRelease(void* self) {
  Handler* handler = static_cast<Handler*>(self);
  const ULONG left = --handler->refs;
  if (left == 0) delete handler;
  return left;
}
HRESULT STDMETHODCALLTYPE HandlerInvoke(void* self, void* first, void* second) {
  static_cast<Handler*>(self)->onInvoke(first, second);
  return S_OK;
}

const Slot kHandlerTable[] = {reinterpret_cast<Slot>(&HandlerQueryInterface), reinterpret_cast<Slot>(&HandlerAddRef),
                              reinterpret_cast<Slot>(&HandlerRelease), reinterpret_cast<Slot>(&HandlerInvoke)};

Handler* MakeHandler(std::function<void(void*, void*)> onInvoke) {
  return new Handler{kHandlerTable, 1, std::move(onInvoke)};
}

// FARPROC goes through the generic function type so the cast to the real one is allowed.
template <class Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<Slot>(GetProcAddress(module, name)));
}

HRESULT AsResult(void* value) { return static_cast<HRESULT>(reinterpret_cast<std::intptr_t>(value)); }

// Pumps the thread's messages until done() or five seconds have passed.
bool PumpUntil(const std::function<bool()>& done) {
  const ULONGLONG end = GetTickCount64() + 5000;
  while (!done() && GetTickCount64() < end) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (!done()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  return done();
}

// What a creation's completion handler was given; `created` holds a reference of its own.
struct Completion {
  HRESULT result = E_PENDING;
  void* created = nullptr;
  bool done = false;
  bool doneBeforePumping = true;
};

// Starts a creation with a handler that records its completion, and pumps until it comes.
Completion Await(const std::function<HRESULT(void* handler)>& start) {
  Completion completion;
  Handler* handler = MakeHandler([&](void* result, void* created) {
    completion.result = AsResult(result);
    if (created != nullptr) AddRef(created);
    completion.created = created;
    completion.done = true;
  });
  EXPECT_EQ(start(handler), S_OK);
  Release(handler);
  completion.doneBeforePumping = completion.done;
  EXPECT_TRUE(PumpUntil([&] { return completion.done; }));
  return completion;
}

// Asks the environment for a controller (slot 3); null when none came.
void* CreateController(void* environment) {
  const Completion made =
      Await([&](void* handler) { return Call(environment, 3, static_cast<HWND>(nullptr), handler); });
  EXPECT_EQ(made.result, S_OK);
  return made.created;
}

DWORD RunAndWait(const std::wstring& commandLine) {
  std::wstring mutableLine = commandLine;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    // Once seen on the first run of a fresh prefix: say why, next time.
    ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
    return 0xFFFFFFFF;
  }
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0) << "still running after 60 s";
  DWORD code = 0xFFFFFFFF;
  EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code)) << "GetExitCodeProcess failed with " << GetLastError();
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

std::wstring ReadRegistry(const wchar_t* key, const wchar_t* value) {
  wchar_t buffer[1024];
  DWORD bytes = sizeof buffer;
  // The machine's registration, in the 32-bit view the real updater writes.
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY, nullptr, buffer, &bytes) !=
      ERROR_SUCCESS) {
    return {};
  }
  return buffer;
}

std::string ReadText(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

std::wstring TakeString(LPWSTR text) {
  std::wstring copy = text != nullptr ? text : L"";
  CoTaskMemFree(text);
  return copy;
}

constexpr wchar_t kClientState[] =
    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr wchar_t kClients[] = L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr GUID kIidController2 = {0xc979903e, 0xd4ca, 0x4228, {0x92, 0xeb, 0x47, 0xee, 0x3f, 0xa9, 0x6e, 0xab}};
constexpr GUID kIidController4 = {0x97d418d5, 0xa426, 0x4e49, {0xa1, 0x51, 0xe1, 0xa1, 0x0f, 0x32, 0x7d, 0x9e}};
constexpr GUID kIidView22 = {0xdb75dfc7, 0xa857, 0x4632, {0xa3, 0x98, 0x69, 0x69, 0xdd, 0xe2, 0x6c, 0x0a}};
constexpr GUID kIidNavigationCompletedArgs2 = {
    0xfdf8b738, 0xee1e, 0x4db2, {0xa3, 0x29, 0x8d, 0x7d, 0x7b, 0x74, 0xd7, 0x92}};
constexpr GUID kIidProcessFailedArgs2 = {0x4dab9422, 0x46fa, 0x4c3e, {0xa5, 0xd2, 0x41, 0xd2, 0x07, 0x1d, 0x36, 0x80}};

// The program tests run on the runtime installed at its default place; a
// test that changes the registration puts back what it found, even when an
// assertion ends it early.
class DefaultRuntimeRestorer {
 public:
  DefaultRuntimeRestorer() : wasInstalled_(!ReadRegistry(kClientState, L"EBWebView").empty()) {}
  ~DefaultRuntimeRestorer() {
    const std::wstring installer = testing_support::BuildProgram(L"install_scripted_runtime.exe");
    RunAndWait(L"\"" + installer + (wasInstalled_ ? L"\"" : L"\" --uninstall"));
  }

 private:
  bool wasInstalled_;
};

using CreateEnvironment = HRESULT(STDMETHODCALLTYPE*)(BOOL, int, PCWSTR, IUnknown*, void*);

constexpr wchar_t kVersion[] = L"129.0.2792.45";

// The runtime reads its script once, so the suite shares one install; each
// test gets a new environment, so a browser one test ends stays ended there.
class LoadedScriptedRuntime : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    base_ = std::wstring(temp) + L"miravell-runtime-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(base_.c_str(), nullptr);
    restorer_ = std::make_unique<DefaultRuntimeRestorer>();
    installed_ = RunAndWait(InstallerLine(L"")) == 0;
    std::ofstream(Path(L"script.json").c_str())
        << R"({"environment_results": ["0x8007139F"], "offer_controller4": false,)"
        << R"( "navigation_failures": {"https://lesson.example/down": {"web_error_status": 12}}})";
    std::ofstream(Path(L"commands.txt").c_str()).flush();
    SetEnvironmentVariableW(L"MIRAVELL_RUNTIME_SCRIPT", Path(L"script.json").c_str());
    SetEnvironmentVariableW(L"MIRAVELL_RUNTIME_LOG", Path(L"runtime.log").c_str());
    SetEnvironmentVariableW(L"MIRAVELL_RUNTIME_COMMANDS", Path(L"commands.txt").c_str());
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    runtime_ = LoadLibraryW(DllPath().c_str());
    if (runtime_ == nullptr) return;
    create_ = Export<CreateEnvironment>(runtime_, "CreateWebViewEnvironmentWithOptionsInternal");
    // The scripted failure is the first creation's.
    firstStart_ = StartEnvironment();
  }

  static void TearDownTestSuite() {
    if (runtime_ != nullptr) FreeLibrary(runtime_);
    CoUninitialize();
    EXPECT_EQ(RunAndWait(InstallerLine(L" --uninstall")), 0u);
    EXPECT_EQ(ReadRegistry(kClientState, L"EBWebView"), L"");
    EXPECT_EQ(ReadRegistry(kClients, L"pv"), L"");
    EXPECT_EQ(GetFileAttributesW(DllPath().c_str()), INVALID_FILE_ATTRIBUTES);
    restorer_.reset();
    for (const wchar_t* name : {L"script.json", L"runtime.log", L"commands.txt"}) DeleteFileW(Path(name).c_str());
    RemoveDirectoryW(base_.c_str());
  }

  void SetUp() override {
    ASSERT_TRUE(installed_);
    ASSERT_NE(runtime_, nullptr);
    const Completion started = StartEnvironment();
    ASSERT_EQ(started.result, S_OK);
    environment_ = started.created;
    controller_ = CreateController(environment_);
    ASSERT_NE(controller_, nullptr);
    ASSERT_EQ(Call(controller_, 25, &view_), S_OK);
  }

  void TearDown() override {
    // Close, which a browser that exited still allows.
    if (controller_ != nullptr) {
      EXPECT_EQ(Call(controller_, 24), S_OK);
    }
    Release(view_);
    Release(controller_);
    Release(environment_);
  }

  static Completion StartEnvironment() {
    return Await([](void* handler) { return create_(TRUE, 0, base_.c_str(), nullptr, handler); });
  }

  // Registers a handler through the view's add_ slot.
  void AddViewHandler(int slot, std::function<void(void*, void*)> onInvoke) const {
    EventRegistrationToken token{};
    Handler* handler = MakeHandler(std::move(onInvoke));
    EXPECT_EQ(Call(view_, slot, static_cast<void*>(handler), &token), S_OK);
    Release(handler);
  }

  // Raises an event through the runtime's test export ScriptedRuntime_Raise<event>.
  template <class... A>
  static HRESULT Raise(const std::string& event, A... args) {
    const auto raise = Export<HRESULT (*)(A...)>(runtime_, ("ScriptedRuntime_Raise" + event).c_str());
    if (raise == nullptr) ADD_FAILURE() << event << " is not exported";
    return raise != nullptr ? raise(args...) : E_NOTIMPL;
  }

  static std::wstring Path(const wchar_t* name) { return base_ + L"\\" + name; }
  static std::wstring DllPath() {
    return base_ + L"\\Application\\" + kVersion + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
  }
  static std::wstring InstallerLine(const wchar_t* extra) {
    return L"\"" + testing_support::BuildProgram(L"install_scripted_runtime.exe") + L"\"" + extra + L" --folder \"" +
           base_ + L"\\Application\" --version " + kVersion;
  }
  static bool LogHas(const std::string& line) { return ReadText(Path(L"runtime.log")).find(line) != std::string::npos; }

  static inline std::wstring base_;
  static inline std::unique_ptr<DefaultRuntimeRestorer> restorer_;
  static inline bool installed_ = false;
  static inline HMODULE runtime_ = nullptr;
  static inline CreateEnvironment create_ = nullptr;
  static inline Completion firstStart_;
  void* environment_ = nullptr;
  void* controller_ = nullptr;
  void* view_ = nullptr;
};

TEST_F(LoadedScriptedRuntime, InstallsWhereTheLoaderLooksAndCompletesOnlyWhilePumped) {
  EXPECT_EQ(ReadRegistry(kClientState, L"EBWebView"), base_ + L"\\Application\\" + kVersion);
  EXPECT_EQ(ReadRegistry(kClients, L"pv"), kVersion);
  // The first creation fails as scripted; none completes before messages are pumped.
  EXPECT_FALSE(firstStart_.doneBeforePumping);
  EXPECT_EQ(firstStart_.result, static_cast<HRESULT>(0x8007139F));
  EXPECT_EQ(firstStart_.created, nullptr);
  LPWSTR version = nullptr;
  EXPECT_EQ(Call(environment_, 5, &version), S_OK);
  EXPECT_EQ(TakeString(version), kVersion);
}

TEST_F(LoadedScriptedRuntime, AnswersTheSlotsThePlayerUsesAndLogsThem) {
  void* typed = nullptr;
  EXPECT_EQ(Call(controller_, 0, &kIidController2, &typed), S_OK);
  Release(typed);
  typed = nullptr;
  EXPECT_EQ(Call(controller_, 0, &kIidController4, &typed), E_NOINTERFACE);
  EXPECT_EQ(Call(controller_, 6, RECT{0, 0, 800, 600}), S_OK);
  RECT bounds{};
  EXPECT_EQ(Call(controller_, 5, &bounds), S_OK);
  EXPECT_EQ(bounds.right, 800);
  EXPECT_EQ(bounds.bottom, 600);
  EXPECT_EQ(Call(view_, 0, &kIidView22, &typed), S_OK);
  Release(typed);
  void* settings = nullptr;
  ASSERT_EQ(Call(view_, 3, &settings), S_OK);
  EXPECT_EQ(Call(settings, 12, FALSE), S_OK);
  BOOL devTools = TRUE;
  EXPECT_EQ(Call(settings, 11, &devTools), S_OK);
  EXPECT_EQ(devTools, FALSE);
  Release(settings);
  EXPECT_EQ(Call(view_, 123, L"*", 0, 0xFFFFFFFFu), S_OK);
  EXPECT_EQ(Call(view_, 30), E_NOTIMPL);  // CapturePreview: not used by the player
  for (const char* line :
       {R"({"object":"settings","call":"put_AreDevToolsEnabled","args":[0]})",
        R"({"object":"view","call":"AddWebResourceRequestedFilterWithRequestSourceKinds","args":["*",0,4294967295]})",
        R"({"object":"view","call":"unknown_slot","args":[30]})",
        R"({"object":"controller","call":"put_Bounds","args":[0,0,800,600]})"}) {
    EXPECT_TRUE(LogHas(line)) << line;
  }
}

TEST_F(LoadedScriptedRuntime, RaisesEventsIntoTheHandlersDirectlyAndFromTheCommandFile) {
  // The handler cancels navigations to one host, as the player's policy would.
  AddViewHandler(7, [](void*, void* args) {
    LPWSTR uri = nullptr;
    Call(args, 3, &uri);
    if (TakeString(uri).find(L"blocked.example") != std::wstring::npos) Call(args, 8, TRUE);
  });
  int cancel = -1;
  EXPECT_EQ(Raise("NavigationStarting", L"https://blocked.example/page", &cancel), S_OK);
  EXPECT_EQ(cancel, 1);
  EXPECT_EQ(Raise("NavigationStarting", L"https://lesson.example/page", &cancel), S_OK);
  EXPECT_EQ(cancel, 0);
  EXPECT_TRUE(LogHas(R"("call":"put_Cancel","args":[1])"));

  // The same event through the command file, picked up by the runtime's timer.
  std::ofstream(Path(L"commands.txt").c_str(), std::ios::app)
      << R"({"raise":"navigation","uri":"https://blocked.example/cmd"})"
      << "\n";
  EXPECT_TRUE(PumpUntil([] {
    return LogHas(R"({"object":"outcome","call":"navigation","args":["https://blocked.example/cmd"],"cancel":true})");
  }));

  std::wstring message = L"unset";
  AddViewHandler(34, [&](void*, void* args) {
    LPWSTR text = nullptr;
    const HRESULT hr = Call(args, 5, &text);
    message = SUCCEEDED(hr) ? TakeString(text) : L"<none>";
  });
  EXPECT_EQ(Raise("WebMessage", L"\"pageLoaded\"", 1), S_OK);
  EXPECT_EQ(message, L"pageLoaded");
  EXPECT_EQ(Raise("WebMessage", L"{\"a\":1}", 0), S_OK);
  EXPECT_EQ(message, L"<none>");

  // The request handler adds a header and answers with a response made by the environment.
  AddViewHandler(55, [this](void*, void* args) {
    void* request = nullptr;
    void* headers = nullptr;
    void* response = nullptr;
    Call(args, 3, &request);
    Call(request, 9, &headers);
    Call(headers, 6, L"X-Lesson", L"7");
    Call(environment_, 4, static_cast<IStream*>(nullptr), 403, L"Forbidden", L"Content-Type: text/plain", &response);
    Call(args, 5, response);
    Release(response);
    Release(headers);
    Release(request);
  });
  wchar_t outcome[2048] = {};
  EXPECT_EQ(Raise("ResourceRequest", L"https://cdn.example/a.js", L"{\"Accept\":\"*/*\"}", outcome, 2048), S_OK);
  const std::wstring outcomeText = outcome;
  EXPECT_NE(outcomeText.find(L"\"X-Lesson\":\"7\""), std::wstring::npos) << outcomeText;
  EXPECT_NE(outcomeText.find(L"\"status\":403"), std::wstring::npos) << outcomeText;
}

// Navigations end later, as the script says (success, web error status, HTTP
// status); a reload fails again where the page failed.
TEST_F(LoadedScriptedRuntime, NavigationsEndLaterAsScripted) {
  std::vector<std::array<int, 3>> ends;  // success, web error status, HTTP status
  AddViewHandler(15, [&](void*, void* args) {
    std::array<int, 3> end{FALSE, -1, -1};
    void* args2 = nullptr;
    Call(args, 3, &end[0]);
    Call(args, 4, &end[1]);
    if (SUCCEEDED(Call(args, 0, &kIidNavigationCompletedArgs2, &args2))) Call(args2, 6, &end[2]);
    Release(args2);
    ends.push_back(end);
  });
  EXPECT_EQ(Call(view_, 5, L"https://lesson.example/"), S_OK);
  EXPECT_EQ(Call(view_, 5, L"https://lesson.example/down/1"), S_OK);
  EXPECT_EQ(Call(view_, 31), S_OK);
  EXPECT_TRUE(ends.empty());
  ASSERT_TRUE(PumpUntil([&] { return ends.size() == 3; }));
  EXPECT_EQ(ends, (std::vector<std::array<int, 3>>{{TRUE, 0, 200}, {FALSE, 12, 0}, {FALSE, 12, 0}}));
}

// The browser process exits: the view hears it, its objects refuse all but
// Close, and a new environment on the same folder is a new browser.
TEST_F(LoadedScriptedRuntime, AfterTheBrowserExitsItsObjectsRefuseAndANewEnvironmentWorks) {
  std::array<int, 2> failed{-1, -1};  // kind, reason
  AddViewHandler(25, [&](void*, void* args) {
    void* args2 = nullptr;
    Call(args, 3, &failed[0]);
    if (SUCCEEDED(Call(args, 0, &kIidProcessFailedArgs2, &args2))) Call(args2, 4, &failed[1]);
    Release(args2);
  });
  ASSERT_EQ(Raise("ProcessFailed", 0, 3, 0), S_OK);
  EXPECT_EQ(failed, (std::array<int, 2>{0, 3}));
  const HRESULT gone = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  EXPECT_EQ(Call(view_, 5, L"https://lesson.example/"), gone);
  EXPECT_EQ(Call(controller_, 6, RECT{0, 0, 10, 10}), gone);
  Handler* handler = MakeHandler([](void*, void*) { ADD_FAILURE() << "the dead environment made a controller"; });
  EXPECT_EQ(Call(environment_, 3, static_cast<HWND>(nullptr), static_cast<void*>(handler)), gone);
  Release(handler);

  const Completion next = StartEnvironment();
  ASSERT_EQ(next.result, S_OK);
  void* controller = CreateController(next.created);
  ASSERT_NE(controller, nullptr);
  EXPECT_EQ(Call(controller, 6, RECT{0, 0, 10, 10}), S_OK);
  EXPECT_EQ(Call(controller, 24), S_OK);
  Release(controller);
  Release(next.created);
}

// The player's install flow runs the bootstrapper, downloaded alone under a name of its
// own, and looks in the machine's default place; the plain installer alone has no DLL.
TEST(ScriptedRuntime, BootstrapperAloneInstallsTheDllItCarriesIntoTheDefaultFolder) {
  const std::wstring installer = testing_support::BuildProgram(L"install_scripted_runtime.exe");
  const DefaultRuntimeRestorer restorer;
  ASSERT_EQ(RunAndWait(L"\"" + installer + L"\" --uninstall"), 0u);

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring alone = std::wstring(temp) + L"miravell-bootstrapper-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(alone.c_str(), nullptr);
  const std::wstring downloaded = alone + L"\\WebView2Installer.exe";
  const std::wstring lonelyInstaller = alone + L"\\install_scripted_runtime.exe";
  ASSERT_TRUE(
      CopyFileW(testing_support::BuildProgram(L"MicrosoftEdgeWebview2Setup.exe").c_str(), downloaded.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(installer.c_str(), lonelyInstaller.c_str(), FALSE));

  EXPECT_EQ(RunAndWait(L"\"" + lonelyInstaller + L"\""), 2u);
  EXPECT_EQ(ReadRegistry(kClientState, L"EBWebView"), L"");

  ASSERT_EQ(RunAndWait(L"\"" + downloaded + L"\" /silent /install"), 0u);
  wchar_t programs[MAX_PATH];
  GetEnvironmentVariableW(L"ProgramFiles(x86)", programs, MAX_PATH);
  const std::wstring versionFolder = std::wstring(programs) + L"\\Microsoft\\EdgeWebView\\Application\\" + kVersion;
  EXPECT_EQ(ReadRegistry(kClientState, L"EBWebView"), versionFolder);
  EXPECT_EQ(ReadRegistry(kClients, L"pv"), kVersion);
  const auto installed =
      testing_support::ReadFileBytes(versionFolder + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll");
  EXPECT_FALSE(installed.empty());
  EXPECT_TRUE(installed == testing_support::ReadFileBytes(testing_support::BuildProgram(L"EmbeddedBrowserWebView.dll")))
      << "the carried DLL is the one this build made";

  DeleteFileW(downloaded.c_str());
  DeleteFileW(lonelyInstaller.c_str());
  RemoveDirectoryW(alone.c_str());
}

}  // namespace

// Our loader against an engine registered in the Wine prefix's registry, with
// the test DLL as the engine's client DLL.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include <aclapi.h>
#include <sddl.h>

#include "common/Handles.h"
#include "common/Text.h"
#include "runtime/BrowserLoader.h"
#include "runtime/CallbackHandler.h"
#include "runtime/EnvironmentOptions.h"
#include "tests/runtime/FakeRuntime.h"
#include "tests/runtime/FakeSdkLoader.h"
#include "tests/support/TestSupport.h"

namespace {

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// A folder holding a copy of loader_probe.exe and, when given, a build DLL
// under the name WebView2Loader.dll; returns the probe's path.
std::wstring ProbeFolder(const std::wstring& name, const wchar_t* dllAsSdkLoader) {
  const std::wstring folder = fake_runtime::ScratchFolder() + name;
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring probe = folder + L"\\loader_probe.exe";
  EXPECT_TRUE(::CopyFileW(testing_support::BuildProgram(L"loader_probe.exe").c_str(), probe.c_str(), FALSE));
  if (dllAsSdkLoader != nullptr) {
    EXPECT_TRUE(::CopyFileW(testing_support::BuildProgram(dllAsSdkLoader).c_str(),
                            (folder + L"\\WebView2Loader.dll").c_str(), FALSE));
  }
  return probe;
}

// Runs the probe and returns the name=value lines it wrote.
std::map<std::string, std::string> RunProbe(const std::wstring& probe, const wchar_t* sources) {
  const std::wstring report = probe + L".txt";
  std::wstring commandLine = L"\"" + probe + L"\" \"" + report + L"\" " + sources;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    ADD_FAILURE() << "cannot start the probe";
    return {};
  }
  UniqueHandle thread(started.hThread);
  UniqueHandle process(started.hProcess);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
  std::map<std::string, std::string> values;
  std::ifstream lines(report.c_str());
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

// A version folder laid out like an installed engine's, with the build DLL
// named as its client DLL.
std::wstring PlaceEngine(const std::wstring& versionFolder, const wchar_t* dll) {
  std::error_code error;
  std::filesystem::create_directories(versionFolder + L"\\EBWebView\\x64", error);
  EXPECT_FALSE(error) << WideToUtf8(versionFolder);
  const std::wstring target = versionFolder + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
  if (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
    EXPECT_TRUE(::CopyFileW(testing_support::BuildProgram(dll).c_str(), target.c_str(), FALSE));
  }
  return versionFolder;
}

bool MarkerLeft(const std::wstring& versionFolder) {
  const std::wstring marker = versionFolder + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll.loaded";
  return ::GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Lets everyone write to the folder; false when the file system cannot say so.
bool LetEveryoneWrite(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return false;
  }
  UniqueLocal owned(descriptor);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  std::wstring name = folder;
  if (::SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                              nullptr) != ERROR_SUCCESS) {
    return false;
  }
  PACL now = nullptr;
  PSECURITY_DESCRIPTOR read = nullptr;
  if (::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &now, nullptr,
                              &read) != ERROR_SUCCESS) {
    return false;
  }
  UniqueLocal readOwned(read);
  for (DWORD i = 0; now != nullptr && i < now->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(now, i, &entry) || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if (::IsWellKnownSid(&allowed->SidStart, WinWorldSid) && (allowed->Mask & FILE_ADD_FILE) != 0) return true;
  }
  return false;
}

class BrowserLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The search of an unelevated process, unless a test says otherwise (Wine
    // runs every process elevated).
    runtime::OverrideEngineSources(runtime::EngineSources::Anywhere);
    saved_ = std::make_unique<fake_runtime::SavedRegistration>();
    fake_runtime::Unregister();
  }
  void TearDown() override {
    saved_.reset();
    runtime::OverrideEngineSources(std::nullopt);
  }

  // Creates an environment and returns the code the handler was given.
  HRESULT Create(PCWSTR folder, PCWSTR userData, HRESULT* call) {
    HRESULT reported = S_OK;
    auto options = runtime::EnvironmentOptions::Create();
    auto handler = runtime::MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
        [&reported](HRESULT code, ICoreWebView2Environment*) { reported = code; });
    options_ = options.Get();
    handler_ = handler.Get();
    *call = CreateCoreWebView2EnvironmentWithOptions(folder, userData, options.Get(), handler.Get());
    return reported;
  }

  void* options_ = nullptr;
  void* handler_ = nullptr;
  std::unique_ptr<fake_runtime::SavedRegistration> saved_;
};

// Unelevated, the engine is the fixed one the variable names, or else the
// caller's folder, or else the one registered for the user unless the updater
// marks it removed; finding its version and starting it take the same one.
TEST_F(BrowserLoaderTest, FindsTheEngineTheVariableTheCallerOrTheRegistrationNames) {
  const std::wstring files = fake_runtime::InstallFiles();
  const std::wstring gone = fake_runtime::ScratchFolder() + L"1.2.3.4";  // no files there
  const wchar_t* const kFixed = L"129.0.2792.45";                        // the client DLL's file version
  const struct {
    const char* name;
    std::wstring registered;          // empty: nothing
    const wchar_t* installedVersion;  // the updater's; null: none
    std::wstring variable;            // empty: unset
    const wchar_t* caller;
    const wchar_t* version;  // null: no engine
    int runtimeType;         // how the client DLL is told where it came from
  } cases[] = {
      {"nothing registered", L"", nullptr, L"", nullptr, nullptr, 0},
      {"registered for the user", files, nullptr, L"", nullptr, fake_runtime::kVersion, 0},
      {"registered with a trailing backslash", files + L"\\", nullptr, L"", nullptr, fake_runtime::kVersion, 0},
      {"registered, but its files are gone", gone, nullptr, L"", nullptr, nullptr, 0},
      {"files there, but the updater marks the engine as removed", files, L"0.0.0.0", L"", nullptr, nullptr, 0},
      {"files there, and the updater's version", files, fake_runtime::kVersion, L"", nullptr, fake_runtime::kVersion,
       0},
      {"the variable wins over the caller's folder and the registry", gone, nullptr, files, L"C:\\not\\this\\one",
       kFixed, 1},
      {"without the variable, the caller's folder", gone, nullptr, L"", files.c_str(), kFixed, 1},
      {"without the variable, a caller's folder with no engine", gone, nullptr, L"", L"C:\\not\\this\\one", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_runtime::Unregister();
    if (!c.registered.empty()) fake_runtime::Register(c.registered);
    if (c.installedVersion != nullptr) fake_runtime::RegisterInstalledVersion(c.installedVersion);
    if (!c.variable.empty()) ::SetEnvironmentVariableW(fake_runtime::kFolderVariable, c.variable.c_str());

    LPWSTR text = reinterpret_cast<LPWSTR>(1);  // nulled when there is no engine
    const HRESULT found = GetAvailableCoreWebView2BrowserVersionString(c.caller, &text);
    UniqueCoTaskMem<wchar_t> version(found == S_OK ? text : nullptr);
    const auto* before = fake_runtime::LastCallRecord();
    const int calls = before != nullptr ? before->calls : 0;
    HRESULT call = E_UNEXPECTED;
    const HRESULT reported = Create(c.caller, L"C:\\users\\me\\WebView2Data", &call);
    if (c.version == nullptr) {
      EXPECT_EQ(found, kNotFound);
      EXPECT_EQ(text, nullptr);
      EXPECT_EQ(call, kNotFound);
      continue;
    }
    ASSERT_EQ(found, S_OK);
    EXPECT_STREQ(version.get(), c.version);
    EXPECT_EQ(call, S_OK);
    EXPECT_EQ(reported, E_FAIL);  // what the test DLL answers
    const auto* last = fake_runtime::LastCallRecord();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->calls, calls + 1);
    EXPECT_EQ(last->first, TRUE);
    EXPECT_EQ(last->runtimeType, c.runtimeType);
    EXPECT_STREQ(last->userDataFolder, L"C:\\users\\me\\WebView2Data");
    EXPECT_EQ(static_cast<void*>(last->options), options_);
    EXPECT_EQ(last->handler, handler_);
    EXPECT_EQ(last->invokeResult, S_OK);
  }
}

// Elevated, the engine comes from the machine's registration only, and only
// from a program folder no one but administrators can change: what the
// user's own settings name (the variable, the user's registration) is never
// loaded, and a machine registration that leads anywhere else is no engine.
TEST_F(BrowserLoaderTest, ElevatedTakesOnlyAProtectedMachineWideEngine) {
  if (fake_runtime::BedHasNoAdministrator()) GTEST_SKIP() << fake_runtime::kNoBedAdministrator;
  const std::wstring programs = EnvironmentText(L"ProgramFiles(x86)");
  ASSERT_GT(programs.size(), 3u);
  const std::wstring tag = std::to_wstring(::GetCurrentProcessId());
  const std::wstring scratch = fake_runtime::ScratchFolder();
  const std::wstring ours = programs + L"\\Miravell loader test " + tag;
  const std::wstring machine = PlaceEngine(ours + L"\\7.7.7.7", L"fake_browser_client.dll");
  const std::wstring variable = PlaceEngine(scratch + L"planted-variable", L"planted_engine.dll");
  const std::wstring user = PlaceEngine(scratch + L"planted-user\\8.8.8.8", L"planted_engine.dll");
  const std::wstring outside = PlaceEngine(scratch + L"planted-machine\\5.5.5.5", L"planted_engine.dll");
  const std::wstring lookalike = PlaceEngine(programs + L" Evil " + tag + L"\\6.6.6.6", L"planted_engine.dll");
  ASSERT_EQ(::towlower(outside[0]), ::towlower(programs[0])) << "the scratch folder is on the program folder's drive";
  const std::wstring climbing = programs + L"\\..\\" + outside.substr(3);
  const std::wstring writable = PlaceEngine(ours + L"\\4.4.4.4", L"planted_engine.dll");
  ASSERT_TRUE(LetEveryoneWrite(writable + L"\\EBWebView")) << "Wine keeps the Unix mode bits as the access list";

  using runtime::EngineSources;
  const struct {
    const char* name;
    EngineSources sources;
    const wchar_t* variable;
    const wchar_t* user;
    const wchar_t* machine;
    const wchar_t* version;  // null: no engine
  } cases[] = {
      {"unelevated, the variable wins as before", EngineSources::Anywhere, variable.c_str(), user.c_str(),
       machine.c_str(), L"129.0.2792.45"},
      {"the machine's engine, whatever the user set", EngineSources::MachineOnly, variable.c_str(), user.c_str(),
       machine.c_str(), L"7.7.7.7"},
      {"an engine of the user's only is missing", EngineSources::MachineOnly, variable.c_str(), user.c_str(), nullptr,
       nullptr},
      {"machine registration outside the program folders", EngineSources::MachineOnly, nullptr, nullptr,
       outside.c_str(), nullptr},
      {"machine registration in a folder named like the program folder", EngineSources::MachineOnly, nullptr, nullptr,
       lookalike.c_str(), nullptr},
      {"machine registration climbing out of the program folder", EngineSources::MachineOnly, nullptr, nullptr,
       climbing.c_str(), nullptr},
      {"machine registration in a folder everyone may write to", EngineSources::MachineOnly, nullptr, nullptr,
       writable.c_str(), nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_runtime::Unregister();
    runtime::OverrideEngineSources(c.sources);
    if (c.variable != nullptr) ::SetEnvironmentVariableW(fake_runtime::kFolderVariable, c.variable);
    if (c.user != nullptr) fake_runtime::Register(c.user);
    if (c.machine != nullptr) fake_runtime::RegisterForMachine(c.machine);

    UniqueCoTaskMem<wchar_t> version;
    const HRESULT found = GetAvailableCoreWebView2BrowserVersionString(nullptr, version.put());
    if (c.version == nullptr) {
      EXPECT_EQ(found, kNotFound);
    } else {
      ASSERT_EQ(found, S_OK);
      EXPECT_STREQ(version.get(), c.version);
    }
    // Starting is the one step that loads a DLL; the unelevated search would
    // load the planted one, so it only looks.
    if (c.sources == EngineSources::MachineOnly) {
      HRESULT call = E_UNEXPECTED;
      const HRESULT reported = Create(nullptr, L"C:\\profile", &call);
      EXPECT_EQ(call, c.version == nullptr ? kNotFound : S_OK);
      if (c.version != nullptr) {
        EXPECT_EQ(reported, E_FAIL) << "what the engine's test DLL answers";
      }
    }
  }
  for (const std::wstring& planted : {variable, user, outside, lookalike, writable}) {
    EXPECT_FALSE(MarkerLeft(planted)) << WideToUtf8(planted);
  }

  std::error_code ignored;
  std::filesystem::remove_all(programs + L" Evil " + tag, ignored);
  std::filesystem::remove_all(writable, ignored);
}

// The player runs elevated, often from a downloads folder: a DLL named like
// the SDK's loader beside it is anyone's code and is never loaded, whether it
// has the loader's entry points or not. Our own loader finds the engine the
// variable names, as it does with nothing beside it.
TEST_F(BrowserLoaderTest, ADllBesideTheExecutableIsNeverLoaded) {
  fake_runtime::Register(fake_runtime::InstallFiles());
  ASSERT_TRUE(::SetEnvironmentVariableW(fake_runtime::kFolderVariable, fake_runtime::InstallFiles().c_str()));

  const struct {
    const wchar_t* folder;
    const wchar_t* planted;
  } cases[] = {{L"beside", L"fake_sdk_loader.dll"}, {L"alone", nullptr}, {L"stranger", L"fake_browser_client.dll"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.folder));
    auto seen = RunProbe(ProbeFolder(c.folder, c.planted), L"anywhere");
    EXPECT_EQ(seen["beside_loaded"], "0");
    EXPECT_EQ(seen["version_hr"], "0x00000000");
    EXPECT_EQ(seen["version"], "129.0.2792.45");
    EXPECT_EQ(seen["create_hr"], "0x00000000");
    EXPECT_EQ(seen["reported"], "0x80004005") << "what the engine's test DLL answers";
  }

  std::error_code ignored;
  for (const auto& c : cases) std::filesystem::remove_all(fake_runtime::ScratchFolder() + c.folder, ignored);
}

}  // namespace

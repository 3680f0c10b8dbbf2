// Our loader against an engine registered in the Wine prefix's registry, with
// the test DLL as the engine's client DLL.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/Handles.h"
#include "runtime/BrowserLoader.h"
#include "runtime/CallbackHandler.h"
#include "runtime/EnvironmentOptions.h"
#include "tests/runtime/FakeRuntime.h"

namespace {

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

class BrowserLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (fake_runtime::MachineRuntimeRegistered()) GTEST_SKIP() << "an engine is registered for the machine";
    saved_ = std::make_unique<fake_runtime::SavedRegistration>();
    fake_runtime::Unregister();
  }
  void TearDown() override { saved_.reset(); }

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

TEST_F(BrowserLoaderTest, FindsTheVersionOfTheEngineRegisteredForTheUser) {
  fake_runtime::Register(fake_runtime::InstallFiles());
  UniqueCoTaskMem<wchar_t> version;
  ASSERT_EQ(GetAvailableCoreWebView2BrowserVersionString(nullptr, version.put()), S_OK);
  ASSERT_NE(version.get(), nullptr);
  EXPECT_STREQ(version.get(), fake_runtime::kVersion);

  // A trailing backslash on the registered folder changes nothing.
  fake_runtime::Register(fake_runtime::InstallFiles() + L"\\");
  ASSERT_EQ(GetAvailableCoreWebView2BrowserVersionString(nullptr, version.put()), S_OK);
  EXPECT_STREQ(version.get(), fake_runtime::kVersion);
}

TEST_F(BrowserLoaderTest, ReportsFileNotFoundWithoutAnEngine) {
  LPWSTR version = reinterpret_cast<LPWSTR>(1);
  EXPECT_EQ(GetAvailableCoreWebView2BrowserVersionString(nullptr, &version), kNotFound);
  EXPECT_EQ(version, nullptr);
  HRESULT call = S_OK;
  Create(nullptr, L"C:\\profile", &call);
  EXPECT_EQ(call, kNotFound);

  // Registered, but its files are gone.
  fake_runtime::Register(fake_runtime::ScratchFolder() + L"1.2.3.4");
  EXPECT_EQ(GetAvailableCoreWebView2BrowserVersionString(nullptr, &version), kNotFound);

  // Files there, but the updater marks the engine as removed.
  fake_runtime::Register(fake_runtime::InstallFiles());
  fake_runtime::RegisterInstalledVersion(L"0.0.0.0");
  EXPECT_EQ(GetAvailableCoreWebView2BrowserVersionString(nullptr, &version), kNotFound);
  fake_runtime::RegisterInstalledVersion(fake_runtime::kVersion);
  UniqueCoTaskMem<wchar_t> found;
  EXPECT_EQ(GetAvailableCoreWebView2BrowserVersionString(nullptr, found.put()), S_OK);
}

TEST_F(BrowserLoaderTest, StartsTheInstalledEngineThroughItsClientDll) {
  fake_runtime::Register(fake_runtime::InstallFiles());
  HRESULT call = E_UNEXPECTED;
  const HRESULT reported = Create(nullptr, L"C:\\users\\me\\WebView2Data", &call);
  EXPECT_EQ(call, S_OK);
  EXPECT_EQ(reported, E_FAIL);  // what the test DLL answers

  const auto* last = fake_runtime::LastCallRecord();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->first, TRUE);
  EXPECT_EQ(last->runtimeType, 0);
  EXPECT_STREQ(last->userDataFolder, L"C:\\users\\me\\WebView2Data");
  EXPECT_EQ(static_cast<void*>(last->options), options_);
  EXPECT_EQ(last->handler, handler_);
  EXPECT_EQ(last->invokeResult, S_OK);
}

TEST_F(BrowserLoaderTest, TheFolderVariableNamesAFixedEngineAndWinsOverTheRegistry) {
  fake_runtime::Register(fake_runtime::ScratchFolder() + L"9.9.9.9");  // no files there
  ASSERT_TRUE(::SetEnvironmentVariableW(fake_runtime::kFolderVariable, fake_runtime::InstallFiles().c_str()));

  UniqueCoTaskMem<wchar_t> version;
  ASSERT_EQ(GetAvailableCoreWebView2BrowserVersionString(nullptr, version.put()), S_OK);
  EXPECT_STREQ(version.get(), L"129.0.2792.45");  // the client DLL's file version

  HRESULT call = E_UNEXPECTED;
  Create(L"C:\\not\\this\\one", nullptr, &call);
  EXPECT_EQ(call, S_OK);
  const auto* last = fake_runtime::LastCallRecord();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->runtimeType, 1);
  EXPECT_STREQ(last->userDataFolder, L"");

  // Without the variable, the caller's folder is the fixed engine.
  ::SetEnvironmentVariableW(fake_runtime::kFolderVariable, nullptr);
  EXPECT_EQ(GetAvailableCoreWebView2BrowserVersionString(L"C:\\not\\this\\one", version.put()), kNotFound);
  EXPECT_EQ(GetAvailableCoreWebView2BrowserVersionString(fake_runtime::InstallFiles().c_str(), version.put()), S_OK);
}

}  // namespace

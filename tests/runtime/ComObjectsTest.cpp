// The COM objects the program hands to the engine: handlers made from lambdas
// and the environment options.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/Handles.h"
#include "runtime/CallbackHandler.h"
#include "runtime/EnvironmentOptions.h"

using Microsoft::WRL::ComPtr;

namespace {

// Counts its own destructions, to tell when a handler freed its lambda.
struct Tracker {
  int* destroyed;
  explicit Tracker(int* counter) : destroyed(counter) {}
  Tracker(const Tracker& other) : destroyed(other.destroyed) {}
  ~Tracker() { ++*destroyed; }
};

TEST(CallbackHandlerTest, LivesExactlyAsLongAsItsReferences) {
  int destroyed = 0;
  int before = 0;
  {
    Tracker tracker(&destroyed);
    auto handler = runtime::MakeHandler<ICoreWebView2ExecuteScriptCompletedHandler>([tracker](HRESULT, LPCWSTR) {});
    before = destroyed;
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->AddRef(), 2u);
    EXPECT_EQ(handler->Release(), 1u);

    ComPtr<ICoreWebView2ExecuteScriptCompletedHandler> held = handler;
    handler.Reset();
    EXPECT_EQ(destroyed, before);  // still held
    held.Reset();
    EXPECT_EQ(destroyed, before + 1);
  }
}

TEST(CallbackHandlerTest, AnswersIUnknownAndItsOwnInterfaceOnly) {
  auto handler = runtime::MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
      [](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs*) { return S_OK; });
  ASSERT_TRUE(handler);

  ComPtr<IUnknown> unknown;
  EXPECT_EQ(handler.As(&unknown), S_OK);
  EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(handler.Get()));
  ComPtr<ICoreWebView2NavigationStartingEventHandler> same;
  EXPECT_EQ(unknown.As(&same), S_OK);
  EXPECT_EQ(same.Get(), handler.Get());

  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(handler->QueryInterface(__uuidof(ICoreWebView2WebMessageReceivedEventHandler), &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(handler->QueryInterface(__uuidof(IUnknown), nullptr), E_POINTER);

  // Two references taken above and dropped with their ComPtrs: one left.
  unknown.Reset();
  same.Reset();
  EXPECT_EQ(handler->AddRef(), 2u);
  handler->Release();
}

TEST(CallbackHandlerTest, InvokePassesArgumentsAndContainsExceptions) {
  std::wstring text;
  auto handler = runtime::MakeHandler<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>(
      [&text](HRESULT code, LPCWSTR id) -> HRESULT {
        if (FAILED(code)) throw std::runtime_error("failed");
        text = id;
        return S_FALSE;
      });
  ASSERT_TRUE(handler);
  EXPECT_EQ(handler->Invoke(S_OK, L"script-1"), S_FALSE);
  EXPECT_EQ(text, L"script-1");
  EXPECT_EQ(handler->Invoke(E_FAIL, L"x"), E_FAIL);
}

std::wstring Take(HRESULT (STDMETHODCALLTYPE ICoreWebView2EnvironmentOptions::*getter)(LPWSTR*),
                  ICoreWebView2EnvironmentOptions* options, bool* isNull) {
  UniqueCoTaskMem<wchar_t> value;
  EXPECT_EQ((options->*getter)(value.put()), S_OK);
  *isNull = value.get() == nullptr;
  return *isNull ? std::wstring() : std::wstring(value.get());
}

TEST(EnvironmentOptionsTest, StartsWithTheBuildsEngineVersionAndNothingElse) {
  auto options = runtime::EnvironmentOptions::Create();
  ASSERT_TRUE(options);
  bool isNull = false;
  EXPECT_EQ(Take(&ICoreWebView2EnvironmentOptions::get_TargetCompatibleBrowserVersion, options.Get(), &isNull),
            L"129.0.2792.45");
  EXPECT_FALSE(isNull);
  Take(&ICoreWebView2EnvironmentOptions::get_AdditionalBrowserArguments, options.Get(), &isNull);
  EXPECT_TRUE(isNull);
  Take(&ICoreWebView2EnvironmentOptions::get_Language, options.Get(), &isNull);
  EXPECT_TRUE(isNull);
  BOOL allow = TRUE;
  EXPECT_EQ(options->get_AllowSingleSignOnUsingOSPrimaryAccount(&allow), S_OK);
  EXPECT_EQ(allow, FALSE);
}

TEST(EnvironmentOptionsTest, KeepsCopiesOfWhatItIsGiven) {
  auto options = runtime::EnvironmentOptions::Create();
  ASSERT_TRUE(options);
  std::wstring arguments = L"--one --two";
  EXPECT_EQ(options->put_AdditionalBrowserArguments(arguments.c_str()), S_OK);
  arguments[0] = L'X';
  EXPECT_EQ(options->put_Language(L"ar"), S_OK);
  EXPECT_EQ(options->put_AllowSingleSignOnUsingOSPrimaryAccount(TRUE), S_OK);

  bool isNull = true;
  EXPECT_EQ(Take(&ICoreWebView2EnvironmentOptions::get_AdditionalBrowserArguments, options.Get(), &isNull),
            L"--one --two");
  EXPECT_EQ(Take(&ICoreWebView2EnvironmentOptions::get_Language, options.Get(), &isNull), L"ar");
  BOOL allow = FALSE;
  EXPECT_EQ(options->get_AllowSingleSignOnUsingOSPrimaryAccount(&allow), S_OK);
  EXPECT_EQ(allow, TRUE);

  // Each get is a fresh copy the caller owns.
  UniqueCoTaskMem<wchar_t> first;
  UniqueCoTaskMem<wchar_t> second;
  EXPECT_EQ(options->get_Language(first.put()), S_OK);
  EXPECT_EQ(options->get_Language(second.put()), S_OK);
  EXPECT_NE(first.get(), second.get());

  EXPECT_EQ(options->put_Language(nullptr), S_OK);
  Take(&ICoreWebView2EnvironmentOptions::get_Language, options.Get(), &isNull);
  EXPECT_TRUE(isNull);
  EXPECT_EQ(options->get_Language(nullptr), E_POINTER);
}

TEST(EnvironmentOptionsTest, AnswersOnlyTheFirstOptionsInterface) {
  auto options = runtime::EnvironmentOptions::Create();
  ASSERT_TRUE(options);
  ComPtr<ICoreWebView2EnvironmentOptions> asOptions;
  EXPECT_EQ(options.As(&asOptions), S_OK);
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(options.As(&unknown), S_OK);

  // ICoreWebView2EnvironmentOptions2, which the engine asks for and copes without.
  const IID options2 = {0xff85c98a, 0x1ba7, 0x4a6b, {0x90, 0xc8, 0x2b, 0x75, 0x2c, 0x89, 0xe9, 0xe2}};
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(options->QueryInterface(options2, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);

  asOptions.Reset();
  unknown.Reset();
  EXPECT_EQ(options->AddRef(), 2u);
  EXPECT_EQ(options->Release(), 1u);
}

}  // namespace

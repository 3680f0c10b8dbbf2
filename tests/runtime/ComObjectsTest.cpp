// The COM objects the program hands to the engine: handlers made from lambdas
// and the environment options.
#include <gtest/gtest.h>

#include <optional>
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

// Both kinds of object answer IUnknown and their own interface, as one
// object, and nothing else; every reference taken on the way is given back,
// leaving the caller's one.
template <typename Interface>
void ExpectAnswersOnlyItsOwnInterface(const ComPtr<Interface>& object, const IID& other) {
  ASSERT_TRUE(object);
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(object.As(&unknown), S_OK);
  EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(object.Get()));
  ComPtr<Interface> same;
  EXPECT_EQ(unknown.As(&same), S_OK);
  EXPECT_EQ(same.Get(), object.Get());

  void* answer = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(other, &answer), E_NOINTERFACE);
  EXPECT_EQ(answer, nullptr);
  EXPECT_EQ(object->QueryInterface(__uuidof(IUnknown), nullptr), E_POINTER);

  unknown.Reset();
  same.Reset();
  EXPECT_EQ(object->AddRef(), 2u);
  EXPECT_EQ(object->Release(), 1u);
}

TEST(CallbackHandlerTest, AnswersItsOwnInterfaceOnlyAndLivesExactlyAsLongAsItsReferences) {
  int destroyed = 0;
  Tracker tracker(&destroyed);
  auto handler = runtime::MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
      [tracker](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs*) { return S_OK; });
  ExpectAnswersOnlyItsOwnInterface(handler, __uuidof(ICoreWebView2WebMessageReceivedEventHandler));

  const int before = destroyed;
  ComPtr<ICoreWebView2NavigationStartingEventHandler> held = handler;
  handler.Reset();
  EXPECT_EQ(destroyed, before);  // still held
  held.Reset();
  EXPECT_EQ(destroyed, before + 1);
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

using Options = ICoreWebView2EnvironmentOptions;

// A getter's answer: the text, or nullopt for a null pointer.
std::optional<std::wstring> Take(HRESULT (STDMETHODCALLTYPE Options::*getter)(LPWSTR*), Options* options) {
  UniqueCoTaskMem<wchar_t> value;
  EXPECT_EQ((options->*getter)(value.put()), S_OK);
  return value.get() == nullptr ? std::nullopt : std::optional<std::wstring>(value.get());
}

TEST(EnvironmentOptionsTest, KeepCopiesOfWhatTheyAreGivenAndStartWithTheBuildsEngineVersionOnly) {
  ComPtr<Options> options = runtime::EnvironmentOptions::Create();
  // ICoreWebView2EnvironmentOptions2, which the engine asks for and copes without.
  ExpectAnswersOnlyItsOwnInterface(options,
                                   {0xff85c98a, 0x1ba7, 0x4a6b, {0x90, 0xc8, 0x2b, 0x75, 0x2c, 0x89, 0xe9, 0xe2}});

  const struct {
    const char* name;
    HRESULT (STDMETHODCALLTYPE Options::*get)(LPWSTR*);
    HRESULT (STDMETHODCALLTYPE Options::*put)(LPCWSTR);
    std::optional<std::wstring> initial;
  } cases[] = {
      {"browser arguments", &Options::get_AdditionalBrowserArguments, &Options::put_AdditionalBrowserArguments, {}},
      {"language", &Options::get_Language, &Options::put_Language, {}},
      {"engine version", &Options::get_TargetCompatibleBrowserVersion, &Options::put_TargetCompatibleBrowserVersion,
       L"129.0.2792.45"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Take(c.get, options.Get()), c.initial);
    std::wstring given = L"--one --two";
    EXPECT_EQ((options.Get()->*c.put)(given.c_str()), S_OK);
    given[0] = L'X';
    EXPECT_EQ(Take(c.get, options.Get()), L"--one --two");

    // Each get is a fresh copy the caller owns.
    UniqueCoTaskMem<wchar_t> first;
    UniqueCoTaskMem<wchar_t> second;
    EXPECT_EQ((options.Get()->*c.get)(first.put()), S_OK);
    EXPECT_EQ((options.Get()->*c.get)(second.put()), S_OK);
    EXPECT_NE(first.get(), second.get());

    EXPECT_EQ((options.Get()->*c.put)(nullptr), S_OK);
    EXPECT_EQ(Take(c.get, options.Get()), std::nullopt);
    EXPECT_EQ((options.Get()->*c.get)(nullptr), E_POINTER);
  }

  BOOL allow = TRUE;
  EXPECT_EQ(options->get_AllowSingleSignOnUsingOSPrimaryAccount(&allow), S_OK);
  EXPECT_EQ(allow, FALSE);
  EXPECT_EQ(options->put_AllowSingleSignOnUsingOSPrimaryAccount(TRUE), S_OK);
  EXPECT_EQ(options->get_AllowSingleSignOnUsingOSPrimaryAccount(&allow), S_OK);
  EXPECT_EQ(allow, TRUE);
}

}  // namespace

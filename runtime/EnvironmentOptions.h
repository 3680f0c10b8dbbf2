#pragma once
// The environment options object handed to the engine when it starts. The
// engine reads from it the engine version the program was built against, and
// the browser arguments and language the program wants.
#include <wrl/client.h>

#include <atomic>
#include <optional>
#include <string>

#include "runtime/WebView2Interfaces.h"

namespace runtime {

// The engine version the declarations of this program were written against.
inline constexpr wchar_t kTargetBrowserVersion[] = L"129.0.2792.45";

class EnvironmentOptions final : public ICoreWebView2EnvironmentOptions {
 public:
  // A new object with the defaults (reference count 1, owned by the result).
  [[nodiscard]] static Microsoft::WRL::ComPtr<EnvironmentOptions> Create();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR value) override;
  HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR value) override;
  HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) override;
  HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR value) override;
  HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) override;
  HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) override;

 private:
  EnvironmentOptions();
  ~EnvironmentOptions();

  std::atomic<ULONG> references_{1};
  std::optional<std::wstring> additionalBrowserArguments_;
  std::optional<std::wstring> language_;
  std::optional<std::wstring> targetCompatibleBrowserVersion_;
  BOOL allowSingleSignOn_ = FALSE;
};

}  // namespace runtime

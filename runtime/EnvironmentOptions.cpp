#include "runtime/EnvironmentOptions.h"

#include <cstring>
#include <new>

namespace runtime {
namespace {

// The engine frees what a getter returns with CoTaskMemFree; an unset value
// is a null pointer, not an empty text.
HRESULT CopyOut(const std::optional<std::wstring>& value, LPWSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!value) return S_OK;
  const size_t bytes = (value->size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, value->c_str(), bytes);
  *out = copy;
  return S_OK;
}

HRESULT CopyIn(LPCWSTR value, std::optional<std::wstring>& into) {
  try {
    if (value == nullptr) {
      into.reset();
    } else {
      into = std::wstring(value);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace

EnvironmentOptions::EnvironmentOptions() : targetCompatibleBrowserVersion_(kTargetBrowserVersion) {}

EnvironmentOptions::~EnvironmentOptions() = default;

Microsoft::WRL::ComPtr<EnvironmentOptions> EnvironmentOptions::Create() {
  EnvironmentOptions* created = new (std::nothrow) EnvironmentOptions();
  if (created == nullptr) return nullptr;
  // Not Attach: mingw's takes a reference of its own, MSVC's does not.
  Microsoft::WRL::ComPtr<EnvironmentOptions> result(created);
  created->Release();
  return result;
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (::IsEqualIID(iid, __uuidof(IUnknown)) || ::IsEqualIID(iid, __uuidof(ICoreWebView2EnvironmentOptions))) {
    *object = static_cast<ICoreWebView2EnvironmentOptions*>(this);
    AddRef();
    return S_OK;
  }
  // The later options interfaces (2..8) are optional; the engine copes.
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE EnvironmentOptions::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE EnvironmentOptions::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_AdditionalBrowserArguments(LPWSTR* value) {
  return CopyOut(additionalBrowserArguments_, value);
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_AdditionalBrowserArguments(LPCWSTR value) {
  return CopyIn(value, additionalBrowserArguments_);
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_Language(LPWSTR* value) { return CopyOut(language_, value); }

HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_Language(LPCWSTR value) { return CopyIn(value, language_); }

HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_TargetCompatibleBrowserVersion(LPWSTR* value) {
  return CopyOut(targetCompatibleBrowserVersion_, value);
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_TargetCompatibleBrowserVersion(LPCWSTR value) {
  return CopyIn(value, targetCompatibleBrowserVersion_);
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) {
  if (allow == nullptr) return E_POINTER;
  *allow = allowSingleSignOn_;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EnvironmentOptions::put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) {
  allowSingleSignOn_ = allow;
  return S_OK;
}

}  // namespace runtime

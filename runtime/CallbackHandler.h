#pragma once
// mingw's WRL has no Callback: this turns a lambda into the COM handler object
// the browser engine expects for every completion and event. The engine keeps
// its own references (until it has called Invoke, or until remove_*), so the
// object lives by its reference count alone.
#include <windows.h>
// After windows.h, which these build on.
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "common/FailureLog.h"

namespace runtime {

// The IUnknown of a heap object that implements one interface and lives by
// its reference count alone (one at creation, held by its creator). Derived
// names itself, so the last Release deletes the right type without a virtual
// destructor in the vtable the other side reads.
template <typename Derived, typename Interface>
class ComObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (::IsEqualIID(iid, __uuidof(IUnknown)) || ::IsEqualIID(iid, __uuidof(Interface))) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }

  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }

 protected:
  ComObject() = default;
  ~ComObject() = default;

 private:
  std::atomic<ULONG> references_{1};
};

namespace callback_detail {

template <typename Interface, typename Method>
struct InvokeOf;

// Taken apart from the interface's own Invoke, so every handler interface gets
// its exact parameter list without restating it.
template <typename Interface, typename Owner, typename... Args>
struct InvokeOf<Interface, HRESULT (STDMETHODCALLTYPE Owner::*)(Args...)> {
  template <typename F>
  class Handler final : public ComObject<Handler<F>, Interface> {
   public:
    explicit Handler(F function) : function_(std::move(function)) {}

    // Exceptions must not reach the engine: any escaping one becomes E_FAIL.
    HRESULT STDMETHODCALLTYPE Invoke(Args... args) override {
      try {
        if constexpr (std::is_void_v<std::invoke_result_t<F&, Args...>>) {
          function_(args...);
          return S_OK;
        } else {
          return function_(args...);
        }
      } catch (...) {
        MIRAVELL_LOG_CAUGHT_EXCEPTION();
        return E_FAIL;
      }
    }

   private:
    friend class ComObject<Handler<F>, Interface>;
    ~Handler() = default;

    F function_;
  };
};

}  // namespace callback_detail

// A new handler implementing Interface whose Invoke calls function with the
// same arguments. The lambda may return HRESULT or nothing (then S_OK). Null
// when memory runs out.
template <typename Interface, typename F>
[[nodiscard]] Microsoft::WRL::ComPtr<Interface> MakeHandler(F&& function) {
  using Handler =
      typename callback_detail::InvokeOf<Interface, decltype(&Interface::Invoke)>::template Handler<std::decay_t<F>>;
  Interface* created = new (std::nothrow) Handler(std::forward<F>(function));
  if (created == nullptr) return nullptr;
  // mingw's ComPtr::Attach takes a reference of its own (MSVC's does not), so
  // the pointer takes one through its constructor and the creation's is dropped.
  Microsoft::WRL::ComPtr<Interface> result(created);
  created->Release();
  return result;
}

}  // namespace runtime

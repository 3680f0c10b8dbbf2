#include "identity/DeviceIdentity.h"

#include <windows.h>
#include <oleauto.h>
#include <wbemidl.h>
#include <wrl/client.h>

#include <mutex>

#include "common/Base64.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Text.h"

namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kUnknownModel[] = L"Unknown";

// Room the registry values get; longer values count as unreadable.
constexpr DWORD kRegistryBufferBytes = 512;

// Wrapped, as in common/Handles.h: the address of an imported function is not
// a constant every compiler takes as a template argument.
inline void FreeBstr(BSTR text) noexcept { ::SysFreeString(text); }
using UniqueBstr = UniqueResource<NullInvalidTraits<BSTR, FreeBstr>>;

UniqueBstr MakeBstr(const std::wstring& text) {
  return UniqueBstr(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

// A VARIANT that is cleared when it goes.
class VariantValue {
 public:
  VariantValue() noexcept { ::VariantInit(&value_); }
  ~VariantValue() { ::VariantClear(&value_); }
  VariantValue(const VariantValue&) = delete;
  VariantValue& operator=(const VariantValue&) = delete;
  [[nodiscard]] VARIANT* get() noexcept { return &value_; }
  [[nodiscard]] const VARIANT& value() const noexcept { return value_; }

 private:
  VARIANT value_;
};

std::optional<std::wstring> NonEmpty(std::wstring text) {
  if (text.empty()) return std::nullopt;
  return text;
}

// Always the 64-bit view: the machine GUID exists only there, and a 32-bit
// build would otherwise be redirected away from it.
std::optional<std::wstring> ReadMachineText(config::Id path, config::Id name) {
  UniqueRegKey key;
  if (MIRAVELL_LOG_IF_WIN32_ERROR(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, config::Wide(path).c_str(), 0,
                                                  KEY_READ | KEY_WOW64_64KEY, key.put())) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  wchar_t buffer[kRegistryBufferBytes / sizeof(wchar_t)] = {};
  DWORD size = sizeof(buffer);
  // RegGetValueW terminates the text, which a plain value query does not promise.
  if (MIRAVELL_LOG_IF_WIN32_ERROR(::RegGetValueW(key.get(), nullptr, config::Wide(name).c_str(), RRF_RT_REG_SZ, nullptr,
                                                 buffer, &size)) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return NonEmpty(buffer);
}

std::wstring EncodeText(const std::wstring& text) { return WidenBytes(Base64Encode(WideToUtf8(text))); }

DeviceIdentity ComputeDeviceIdentity() {
  DeviceIdentity identity;
  std::optional<std::wstring> machineId = ReadWmiMachineId();
  if (!machineId) machineId = ReadRegistryMachineId();
  if (machineId) identity.machineKey = EncodeText(*machineId);
  identity.machineModel = EncodeText(ReadRegistryMachineModel().value_or(kUnknownModel));
  return identity;
}

std::once_flag g_identityOnce;
DeviceIdentity g_identity;

}  // namespace

std::optional<std::wstring> ReadWmiMachineId() {
  // The thread may already be in a single-threaded apartment (the user
  // interface thread is); WMI works from there too, so a refusal here does
  // not stop the attempt.
  const ComInitScope com(COINIT_MULTITHREADED);

  ComPtr<IWbemLocator> locator;
  MIRAVELL_RETURN_VALUE_IF_FAILED(std::nullopt,
                                  ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                                     reinterpret_cast<void**>(locator.GetAddressOf())));
  const UniqueBstr nameSpace = MakeBstr(config::Wide(config::Id::WmiNamespace));
  ComPtr<IWbemServices> services;
  if (!nameSpace || FAILED(MIRAVELL_LOG_IF_FAILED(locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0,
                                                                         nullptr, nullptr, services.GetAddressOf())))) {
    return std::nullopt;
  }
  MIRAVELL_RETURN_VALUE_IF_FAILED(
      std::nullopt, ::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                        RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE));
  const UniqueBstr language = MakeBstr(config::Wide(config::Id::WmiLanguage));
  const UniqueBstr query = MakeBstr(config::Wide(config::Id::WmiQuery));
  ComPtr<IEnumWbemClassObject> results;
  if (!language || !query ||
      FAILED(MIRAVELL_LOG_IF_FAILED(services->ExecQuery(language.get(), query.get(),
                                                        WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                                        results.GetAddressOf())))) {
    return std::nullopt;
  }
  ComPtr<IWbemClassObject> first;
  ULONG returned = 0;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(
          results->Next(static_cast<LONG>(WBEM_INFINITE), 1, first.GetAddressOf(), &returned))) ||
      returned == 0 || !first) {
    return std::nullopt;
  }
  VariantValue property;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(
          first->Get(config::Wide(config::Id::WmiProperty).c_str(), 0, property.get(), nullptr, nullptr))) ||
      property.value().vt != VT_BSTR || property.value().bstrVal == nullptr) {
    return std::nullopt;
  }
  return NonEmpty(std::wstring(property.value().bstrVal, ::SysStringLen(property.value().bstrVal)));
}

std::optional<std::wstring> ReadRegistryMachineId() {
  return ReadMachineText(config::Id::MachineKeyRegPath, config::Id::MachineKeyRegValue);
}

std::optional<std::wstring> ReadRegistryMachineModel() {
  if (auto model = ReadMachineText(config::Id::ModelRegPath, config::Id::ModelRegValue1)) return model;
  return ReadMachineText(config::Id::ModelRegPath, config::Id::ModelRegValue2);
}

void LoadDeviceIdentity() {
  std::call_once(g_identityOnce, [] { g_identity = ComputeDeviceIdentity(); });
}

const DeviceIdentity& GetDeviceIdentity() {
  LoadDeviceIdentity();
  return g_identity;
}

std::wstring GetMachineKey() { return GetDeviceIdentity().machineKey; }

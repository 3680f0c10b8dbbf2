#pragma once
// Who this machine is, as far as the service and support staff need to know:
// the machine key (Base64 of the SMBIOS product UUID, else of the Windows
// installation's machine GUID) and the machine model (Base64 of the model
// text, "Unknown" when there is none). Computed once per process.
#include <optional>
#include <string>

struct DeviceIdentity {
  // Base64 of the UTF-8 machine id; empty when no source could be read.
  std::wstring machineKey;
  // Base64 of the UTF-8 model text; never empty.
  std::wstring machineModel;
};

// Computes both values once per process; concurrent first callers wait for
// the one computation. Later calls return at once.
void LoadDeviceIdentity();

// The identity, computing it on first use. Read-only afterwards, so any
// thread may read it.
[[nodiscard]] const DeviceIdentity& GetDeviceIdentity();

// A copy of the machine key, computing the identity on first use.
[[nodiscard]] std::wstring GetMachineKey();

// The sources, each read afresh (for the one-time computation and for tests
// that compare against it).

// The configured WMI property of the first object the configured query
// returns, when it is a non-empty string.
[[nodiscard]] std::optional<std::wstring> ReadWmiMachineId();

// The machine GUID of the Windows installation (64-bit registry view), when
// present and not empty.
[[nodiscard]] std::optional<std::wstring> ReadRegistryMachineId();

// The machine model from the registry (the product name, else the board's),
// when present and not empty.
[[nodiscard]] std::optional<std::wstring> ReadRegistryMachineModel();

#pragma once
// A browser engine laid out on disk and registered for the current user the
// way the engine's updater does it, with the test DLL as its client DLL.
#include <windows.h>
// After windows.h, which it builds on.
#include <unknwn.h>

#include <optional>
#include <string>

#include "common/Config.h"

namespace fake_runtime {

inline constexpr wchar_t kVersion[] = L"129.0.2792.45";
inline constexpr wchar_t kClientStateKey[] =
    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr wchar_t kClientsKey[] =
    L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr wchar_t kFolderVariable[] = L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";

// What the test DLL saw on its last call.
struct LastCall {
  int calls;
  BOOL first;
  int runtimeType;
  wchar_t userDataFolder[MAX_PATH];
  IUnknown* options;
  void* handler;
  HRESULT invokeResult;
};

// A scratch folder of this process under the temporary folder, ending in "\".
std::wstring ScratchFolder();

// The engine's version folder (created with the client DLL inside).
std::wstring InstallFiles();

// Registers folder as the engine's location for the current user.
void Register(const std::wstring& folder);

// Registers folder as the engine's location for the machine.
void RegisterForMachine(const std::wstring& folder);

// Writes the updater's installed-version value for the current user.
void RegisterInstalledVersion(const std::wstring& version);

// Removes both keys, the user's and the machine's, and the override variable.
void Unregister();

// The user's and the machine's registration as found, put back when the
// object goes, so a prefix prepared with an engine keeps it after these tests.
class SavedRegistration {
 public:
  SavedRegistration();
  ~SavedRegistration();
  SavedRegistration(const SavedRegistration&) = delete;
  SavedRegistration& operator=(const SavedRegistration&) = delete;

 private:
  std::optional<std::wstring> folder_;
  std::optional<std::wstring> installedVersion_;
  std::optional<std::wstring> machineFolder_;
  std::optional<std::wstring> machineInstalledVersion_;
};

// The test DLL's record, once the loader has loaded it; null before.
const LastCall* LastCallRecord();

// Under Wine every file is owned by the prefix's one account, with no access
// list of its own. Only the local profile counts that account as an
// administrator, so only there can a folder pass the checks an elevated
// process makes before it trusts one; the production profile's cases that
// need such a folder skip.
inline bool BedHasNoAdministrator() { return config::Wide(config::Id::BedAdministratorSid).empty(); }
inline constexpr char kNoBedAdministrator[] = "no folder under Wine is administrators-only in the production profile";

}  // namespace fake_runtime

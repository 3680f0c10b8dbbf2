// Puts the scripted browser runtime on the machine the way the real runtime's
// installer leaves it: the client DLL under a version folder in the program
// folder, and the two machine-wide registry values a loader reads (or, with
// --user, under the user's profile and the user's registry). Built twice:
// as the installer the tests call, which copies the DLL from beside itself,
// and under the bootstrapper's file name with the DLL inside it as a
// resource, so the player's own install flow can download this one file and
// run it from the temporary folder.
//
//   [--uninstall] [--user] [--version V] [--folder DIR] [--client DLL] [--browser-args SWITCHES]
//
// On Windows the files would inherit the program folder's access list (the
// system and administrators only). Wine keeps no access lists: every file is
// its one account's, which the local profile counts as an administrator.
//
// --client places another client DLL (the Chromium-backed runtime) instead
// of the one this program carries or finds beside itself. --browser-args
// leaves switches beside it for that DLL to start its browser with (the
// test bed's trust and host mapping); an install without them removes any
// an earlier install left.
//
// Arguments starting with '/' (the bootstrapper's own switches) are ignored.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/Handles.h"
#include "testbed/scripted-runtime/EmbeddedClient.h"

namespace {

constexpr wchar_t kClientStateKey[] =
    L"Software\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr wchar_t kClientsKey[] = L"Software\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr wchar_t kDefaultVersion[] = L"129.0.2792.45";
constexpr wchar_t kDllName[] = L"EmbeddedBrowserWebView.dll";
// Read by testbed/chromium-runtime (ChromiumBrowser.h, kArgumentsFileName).
constexpr wchar_t kArgumentsFileName[] = L"browser-arguments.txt";

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) return {};
  return std::wstring(buffer, length);
}

std::filesystem::path OwnFolder() {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  return std::filesystem::path(std::wstring(buffer, length)).parent_path();
}

// Where the registration goes: the machine's 32-bit view, as the real
// updater writes it, or the user's.
struct Scope {
  HKEY root;
  REGSAM view;
};
Scope scope{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};

bool SetString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& value) {
  UniqueRegKey key;
  if (RegCreateKeyExW(scope.root, keyPath, 0, nullptr, 0, KEY_SET_VALUE | scope.view, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
         ERROR_SUCCESS;
}

// The DLL this program carries, or none (the installer built without it).
bool EmbeddedClient(const void*& bytes, DWORD& size) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(SCRIPTED_RUNTIME_CLIENT_RESOURCE), RT_RCDATA);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(nullptr, found);  // a module's resource: nothing to free
  size = SizeofResource(nullptr, found);
  bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  return bytes != nullptr && size != 0;
}

bool WriteWhole(const std::filesystem::path& path, const void* bytes, DWORD size) {
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes, size, &written, nullptr) && written == size;
}

// A DLL named on the command line wins; then the carried one: the
// bootstrapper runs alone from a download folder.
bool PlaceClient(const std::filesystem::path& target, const std::filesystem::path& named) {
  const void* bytes = nullptr;
  DWORD size = 0;
  if (named.empty() && EmbeddedClient(bytes, size)) {
    if (WriteWhole(target, bytes, size)) return true;
    fwprintf(stderr, L"cannot write %ls\n", target.c_str());
    return false;
  }
  const std::filesystem::path source = named.empty() ? OwnFolder() / kDllName : named;
  // Over an earlier install too: mingw's copy_file refuses to overwrite a
  // file even when told to.
  if (CopyFileW(source.c_str(), target.c_str(), FALSE)) return true;
  fwprintf(stderr, L"cannot copy %ls (error %lu)\n", source.c_str(), GetLastError());
  return false;
}

bool PlaceArguments(const std::filesystem::path& folder, const std::wstring& arguments) {
  const std::filesystem::path file = folder / kArgumentsFileName;
  if (arguments.empty()) {
    return DeleteFileW(file.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, arguments.c_str(), static_cast<int>(arguments.size()), nullptr, 0,
                                       nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, arguments.c_str(), static_cast<int>(arguments.size()), utf8.data(), size, nullptr,
                      nullptr);
  if (WriteWhole(file, utf8.data(), static_cast<DWORD>(utf8.size()))) return true;
  fwprintf(stderr, L"cannot write %ls\n", file.c_str());
  return false;
}

bool DeleteKey(const wchar_t* keyPath) {
  UniqueRegKey key;
  LSTATUS status = RegOpenKeyExW(scope.root, keyPath, 0, DELETE | KEY_ALL_ACCESS | scope.view, key.put());
  if (status == ERROR_FILE_NOT_FOUND) return true;
  if (status != ERROR_SUCCESS) return false;
  status = RegDeleteTreeW(key.get(), nullptr);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
  key.reset();
  const LSTATUS removed = RegDeleteKeyExW(scope.root, keyPath, scope.view, 0);
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

std::filesystem::path KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, &raw))) {
    CoTaskMemFree(raw);
    return {};
  }
  std::filesystem::path path(raw);
  CoTaskMemFree(raw);
  return path;
}

int Install(const std::filesystem::path& folder, const std::wstring& version, const std::filesystem::path& client,
            const std::wstring& browserArguments) {
  const std::filesystem::path versionFolder = folder / version;
  const std::filesystem::path dllFolder = versionFolder / L"EBWebView" / L"x64";
  std::error_code error;
  std::filesystem::create_directories(dllFolder, error);
  if (error) {
    fwprintf(stderr, L"cannot create %ls\n", dllFolder.c_str());
    return 2;
  }
  if (!PlaceClient(dllFolder / kDllName, client) || !PlaceArguments(dllFolder, browserArguments)) return 2;
  if (!SetString(kClientStateKey, L"EBWebView", versionFolder.wstring()) || !SetString(kClientsKey, L"pv", version)) {
    fwprintf(stderr, L"cannot write the registry\n");
    return 3;
  }
  wprintf(L"installed %ls\n", versionFolder.c_str());
  return 0;
}

int Uninstall(const std::filesystem::path& folder, const std::wstring& version) {
  std::error_code error;
  std::filesystem::remove_all(folder / version, error);
  const bool keysGone = DeleteKey(kClientStateKey) && DeleteKey(kClientsKey);
  if (error || !keysGone) {
    fwprintf(stderr, L"uninstall incomplete\n");
    return 4;
  }
  wprintf(L"uninstalled %ls\n", (folder / version).c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    bool uninstall = false;
    std::wstring version = kDefaultVersion;
    std::filesystem::path folder;
    std::filesystem::path client;
    std::wstring browserArguments;
    for (int i = 1; i < argc; ++i) {
      const std::wstring arg = argv[i];
      if (arg == L"--uninstall") {
        uninstall = true;
      } else if (arg == L"--user") {
        scope = {HKEY_CURRENT_USER, 0};
      } else if (arg == L"--version" && i + 1 < argc) {
        version = argv[++i];
      } else if (arg == L"--folder" && i + 1 < argc) {
        folder = argv[++i];
      } else if (arg == L"--client" && i + 1 < argc) {
        client = argv[++i];
      } else if (arg == L"--browser-args" && i + 1 < argc) {
        browserArguments = argv[++i];
      } else if (!arg.empty() && arg[0] == L'/') {
        continue;
      } else {
        fwprintf(
            stderr,
            L"usage: [--uninstall] [--user] [--version V] [--folder DIR] [--client DLL] [--browser-args SWITCHES]\n");
        return 1;
      }
    }
    if (folder.empty() && scope.root == HKEY_LOCAL_MACHINE) {
      const std::filesystem::path programs = KnownFolder(FOLDERID_ProgramFilesX86);
      if (programs.empty()) {
        fwprintf(stderr, L"no program folder\n");
        return 1;
      }
      folder = programs / L"Microsoft" / L"EdgeWebView" / L"Application";
    } else if (folder.empty()) {
      const std::wstring localAppData = EnvironmentValue(L"LOCALAPPDATA");
      if (localAppData.empty()) {
        fwprintf(stderr, L"LOCALAPPDATA is not set\n");
        return 1;
      }
      folder = std::filesystem::path(localAppData) / L"Microsoft" / L"EdgeWebView" / L"Application";
    }
    return uninstall ? Uninstall(folder, version) : Install(folder, version, client, browserArguments);
  } catch (...) {
    return 5;
  }
}

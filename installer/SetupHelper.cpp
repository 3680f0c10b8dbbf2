// MiravellSetupHelper.exe: what the MSI package does on the machine beyond
// copying files and writing values, which Windows Installer itself cannot do
// safely. The package runs it from the installed folder, by full path, as the
// system account (the user's own data excepted), in one of these modes:
//
//   protect-data      the machine's data folder, administrators-only
//   close-player      asks a running player to close, then ends it
//   purge-data        removes the machine's data folder
//   purge-user-data   removes the running user's data folder
//   forget-scheme     removes the running user's registration of the
//                     scheme, when it starts this installed player
//
// Exit codes: 0 done, 1 failed (the package stops and rolls back), 2 usage.
// The rules are those of the NSIS installer (installer/Miravell.nsi): the
// two packages must leave a machine alike.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/WindowClasses.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "runtime/ProtectedFolder.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The product's folder name under the machine's and the user's data folders.
constexpr wchar_t kProduct[] = MIRAVELL_SETUP_PRODUCT;
constexpr wchar_t kScheme[] = MIRAVELL_SETUP_SCHEME;

// Every window a running player may show: the splash (app/Splash.cpp) and the
// alert countdown (alerts/AlertWindow.cpp) besides the two main windows.
constexpr const wchar_t* kPlayerClasses[] = {kPlayerWindowClass, kInitWindowClass, kAlertWindowClass,
                                             kSplashWindowClass};

// Administrators and the system own and control it; users may read. The
// player refuses the folder unless it looks like this (app/Paths.cpp).
constexpr wchar_t kDataFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// For the install log's reader with a debugger, like the player's own log.
void Say(const std::wstring& text) {
  ::OutputDebugStringA(("MiravellSetupHelper: " + WideToUtf8(text) + "\n").c_str());
}

std::optional<std::wstring> KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &raw);
  UniqueCoTaskMem<wchar_t> owned(raw);
  if (FAILED(result) || raw == nullptr) return std::nullopt;
  return std::wstring(raw);
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring OwnFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return Folder(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

// A name is a link when either the directory entry or the object opened
// without following says so: Wine shows a Unix link as a reparse point in
// the entry, yet opens what it leads to.
bool IsLink(DWORD entryAttributes, HANDLE opened) {
  if ((entryAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(opened, &information)) return true;
  return (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens a name itself, never what a link leads to, and keeps it from being
// renamed or replaced while the handle is held (no FILE_SHARE_DELETE).
UniqueHandle OpenItself(const std::wstring& path, DWORD access) {
  return UniqueHandle(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

// Removes a link as a link. Where the system cannot (Wine), it stays: what it
// leads to is never touched.
bool RemoveLink(const std::wstring& path) {
  if (::RemoveDirectoryW(path.c_str()) || ::DeleteFileW(path.c_str())) return true;
  Say(L"left a link that could not be removed as a link: " + path);
  return false;
}

// --- protect-data ---------------------------------------------------------------

// Every user may create folders in the machine's data folder, so whatever
// is there already is not trusted: a link goes (as a link), and a real
// folder is taken over with the entries below, which replace the inherited
// ones on everything inside it.
int ProtectData() {
  const auto common = KnownFolder(FOLDERID_ProgramData);
  if (!common) return kExitFailed;
  const std::wstring folder = *common + L"\\" + kProduct;

  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      !RemoveLink(folder)) {
    // The player refuses a link and keeps its data in the user's folder:
    // the install need not fail for it.
    return kExitDone;
  }

  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kDataFolderSddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return kExitFailed;
  }
  UniqueLocal owned(descriptor);
  SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
  if (::CreateDirectoryW(folder.c_str(), &security)) {
    Say(L"created " + folder);
    return kExitDone;
  }
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return kExitFailed;

  // Changed only when what was opened is a real folder.
  UniqueHandle handle = OpenItself(folder, WRITE_DAC | WRITE_OWNER | READ_CONTROL);
  if (!handle) return kExitFailed;
  const DWORD entry = ::GetFileAttributesW(folder.c_str());
  BY_HANDLE_FILE_INFORMATION information{};
  if (IsLink(entry, handle.get()) || !::GetFileInformationByHandle(handle.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    Say(L"not a real folder, left for the player to refuse: " + folder);
    return kExitDone;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return kExitFailed;
  }
  // Inheritable entries reach what is inside.
  const DWORD status =
      ::SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        owner, nullptr, dacl, nullptr);
  if (status != ERROR_SUCCESS || !runtime::OnlyAdministratorsMayChange(handle.get())) {
    Say(L"could not take over " + folder);
    return kExitFailed;
  }
  Say(L"took over " + folder);
  return kExitDone;
}

// --- purge ----------------------------------------------------------------------

// Empties and removes a real folder whose handle (held without delete
// sharing) keeps its path from being redirected, then each folder inside
// the same way; links inside go as links. The path to every name is a chain
// of held folders, so a link swapped in on the way cannot lead the removal
// elsewhere. Returns whether everything went.
bool RemoveHeldFolder(const std::wstring& path, HANDLE folder) {
  bool complete = true;
  // Listed through the held handle itself, not by its path again.
  std::vector<std::byte> buffer(64 * 1024);
  for (auto kind = FileFullDirectoryRestartInfo;
       ::GetFileInformationByHandleEx(folder, kind, buffer.data(), static_cast<DWORD>(buffer.size()));
       kind = FileFullDirectoryInfo) {
    for (std::size_t offset = 0;;) {
      const auto* found = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + offset);
      const std::wstring name(found->FileName, found->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        const std::wstring child = path + L"\\" + name;
        UniqueHandle handle = OpenItself(child, DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES);
        if (!handle) {
          // A link to a folder the system will not open is still a link.
          complete = ((found->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && RemoveLink(child)) && complete;
        } else if (IsLink(found->FileAttributes, handle.get())) {
          handle.reset();
          complete = RemoveLink(child) && complete;
        } else if ((found->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          complete = RemoveHeldFolder(child, handle.get()) && complete;
        } else {
          // Read-only files go too: they are the player's, not the user's.
          FILE_BASIC_INFO basic{};
          basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
          ::SetFileInformationByHandle(handle.get(), FileBasicInfo, &basic, sizeof(basic));
          FILE_DISPOSITION_INFO disposition{TRUE};
          complete =
              ::SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition, sizeof(disposition)) &&
              complete;
        }
      }
      if (found->NextEntryOffset == 0) break;
      offset += found->NextEntryOffset;
    }
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return ::SetFileInformationByHandle(folder, FileDispositionInfo, &disposition, sizeof(disposition)) && complete;
}

int Purge(REFKNOWNFOLDERID root) {
  const auto parent = KnownFolder(root);
  if (!parent) return kExitFailed;
  const std::wstring folder = *parent + L"\\" + kProduct;
  const DWORD entry = ::GetFileAttributesW(folder.c_str());
  if (entry == INVALID_FILE_ATTRIBUTES) {
    Say(L"nothing to remove at " + folder);
    return kExitDone;
  }
  UniqueHandle handle = OpenItself(folder, DELETE | FILE_LIST_DIRECTORY);
  if (!handle) return (entry & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && RemoveLink(folder) ? kExitDone : kExitFailed;
  if (IsLink(entry, handle.get())) {
    handle.reset();
    RemoveLink(folder);
    return kExitDone;
  }
  if ((entry & FILE_ATTRIBUTE_DIRECTORY) == 0) return kExitFailed;
  const bool removed = RemoveHeldFolder(folder, handle.get());
  Say((removed ? L"removed " : L"could not remove all of ") + folder);
  // Whatever stays is the player's data, never the program: the uninstall
  // goes on and leaves it.
  return kExitDone;
}

// --- close-player ---------------------------------------------------------------

HWND FindPlayerWindow() {
  for (const wchar_t* name : kPlayerClasses) {
    if (HWND window = ::FindWindowW(name, nullptr)) return window;
  }
  return nullptr;
}

// Windows refuses to open a running image for writing.
bool ExeIsFree(const std::wstring& exe) {
  UniqueHandle file(::CreateFileW(exe.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file.valid() || ::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND;
}

// Ends every process running this installed exe, and only those: another
// copy of the program elsewhere is not this package's.
void EndProcessesOf(const std::wstring& exe) {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::CompareStringOrdinal(entry.szExeFile, -1, L"Miravell.exe", -1, TRUE) != CSTR_EQUAL) continue;
    UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    if (!process) continue;
    std::vector<wchar_t> image(32768);
    DWORD size = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) continue;
    if (::CompareStringOrdinal(image.data(), static_cast<int>(size), exe.c_str(), static_cast<int>(exe.size()), TRUE) !=
        CSTR_EQUAL) {
      continue;
    }
    Say(L"ending the running player, process " + std::to_wstring(entry.th32ProcessID));
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
}

// Asks a running player to close (its windows answer WM_CLOSE the way they
// answer the close button) and gives it the grace the NSIS installer gives:
// up to 5 s of asking, then 15 s to let go of its file. A deployment runs
// unattended, so a player that stays is then ended. Fails only when the file
// stays in use, which would need a restart to replace.
int ClosePlayer() {
  const std::wstring exe = OwnFolder() + L"\\Miravell.exe";
  for (int asked = 0; asked < 20; ++asked) {
    HWND window = FindPlayerWindow();
    if (window == nullptr) break;
    if (asked == 0) Say(L"asking the running player to close");
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    ::Sleep(250);
  }
  // A closed player takes a moment to leave: it shuts its browser down first.
  for (int waited = 0; waited < 60 && !ExeIsFree(exe); ++waited) ::Sleep(250);
  if (ExeIsFree(exe)) return kExitDone;
  EndProcessesOf(exe);
  for (int waited = 0; waited < 20 && !ExeIsFree(exe); ++waited) ::Sleep(250);
  return ExeIsFree(exe) ? kExitDone : kExitFailed;
}

// --- forget-scheme --------------------------------------------------------------

// The player registers the scheme for its user at every start
// (app/ProtocolRegistration.cpp). Only a registration that still starts this
// installed player goes: another copy of the program may have taken the
// scheme over since.
int ForgetScheme() {
  const std::wstring root = std::wstring(L"Software\\Classes\\") + kScheme;
  const std::wstring mine = L"\"" + OwnFolder() + L"\\Miravell.exe\" \"%1\"";
  std::vector<wchar_t> command(1024);
  DWORD size = static_cast<DWORD>(command.size() * sizeof(wchar_t));
  const LSTATUS read = ::RegGetValueW(HKEY_CURRENT_USER, (root + L"\\shell\\open\\command").c_str(), nullptr,
                                      RRF_RT_REG_SZ, nullptr, command.data(), &size);
  // A key without a command starts nothing and goes too.
  if (read != ERROR_FILE_NOT_FOUND &&
      (read != ERROR_SUCCESS ||
       ::CompareStringOrdinal(command.data(), -1, mine.c_str(), static_cast<int>(mine.size()), TRUE) != CSTR_EQUAL)) {
    return kExitDone;
  }
  const LSTATUS removed = ::RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? kExitDone : kExitFailed;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  UniqueLocal owned(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(::GetCommandLineW(), &count)));
  if (!owned || count != 2) return kExitUsage;
  const std::wstring mode = reinterpret_cast<wchar_t**>(owned.get())[1];
  if (mode == L"protect-data") return ProtectData();
  if (mode == L"close-player") return ClosePlayer();
  if (mode == L"purge-data") return Purge(FOLDERID_ProgramData);
  if (mode == L"purge-user-data") return Purge(FOLDERID_LocalAppData);
  if (mode == L"forget-scheme") return ForgetScheme();
  return kExitUsage;
}

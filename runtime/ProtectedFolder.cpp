#include "runtime/ProtectedFolder.h"

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <vector>

#include "common/Config.h"
#include "common/FailureLog.h"

namespace runtime {
namespace {

// Rights that let their holder change an object or, for a folder, what it
// holds: a standard user with any of them could put their own code there.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | DELETE |
                                      WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The installer service that owns the system's own files.
constexpr wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The system, administrators, and the installer service. A user's own SID is
// not among them even when that user is an administrator: it stays in their
// unelevated token, so code running without elevation has its rights.
bool TrustedSid(PSID sid) {
  if (sid == nullptr || !::IsValidSid(sid)) return false;
  if (::IsWellKnownSid(sid, WinLocalSystemSid) || ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return true;
  for (const std::wstring& text : {std::wstring(kTrustedInstaller), config::Wide(config::Id::BedAdministratorSid)}) {
    PSID trusted = nullptr;
    if (text.empty() || !::ConvertStringSidToSidW(text.c_str(), &trusted)) continue;
    UniqueLocal owned(trusted);
    if (::EqualSid(sid, trusted)) return true;
  }
  return false;
}

std::optional<std::wstring> FullPath(const std::wstring& path) {
  DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return std::nullopt;
  std::wstring full(needed, L'\0');
  DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return std::nullopt;
  full.resize(length);
  // Short (8.3) names become long ones, so the comparison sees one spelling.
  needed = ::GetLongPathNameW(full.c_str(), nullptr, 0);
  if (needed != 0) {
    std::wstring longer(needed, L'\0');
    length = ::GetLongPathNameW(full.c_str(), longer.data(), needed);
    if (length != 0 && length < needed) {
      longer.resize(length);
      full = longer;
    }
  }
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  return full;
}

std::optional<std::wstring> KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR raw = nullptr;
  const HRESULT result = ::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &raw);
  UniqueCoTaskMem<wchar_t> owned(raw);
  if (FAILED(result) || raw == nullptr) return std::nullopt;
  return FullPath(raw);
}

// Whether path is root or lies below it, on whole components.
bool Under(const std::wstring& path, const std::wstring& root) {
  if (root.size() < 3 || path.size() <= root.size() || path[root.size()] != L'\\') return false;
  return ::CompareStringOrdinal(path.c_str(), static_cast<int>(root.size()), root.c_str(),
                                static_cast<int>(root.size()), TRUE) == CSTR_EQUAL;
}

UniqueHandle OpenForCheck(const std::wstring& path, bool followLinks) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return UniqueHandle(::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    flags, nullptr));
}

std::wstring RandomName() {
  GUID guid{};
  if (FAILED(::CoCreateGuid(&guid))) return {};
  wchar_t text[40] = {};
  if (::StringFromGUID2(guid, text, 40) == 0) return {};
  return std::wstring(L"MiravellSetup-") + std::wstring(text + 1, 36);
}

}  // namespace

bool OnlyAdministratorsMayChange(HANDLE object) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  UniqueLocal owned(descriptor);
  // The owner may always rewrite the access list.
  if (!TrustedSid(owner)) return false;
  // No list at all lets everyone do everything.
  if (dacl == nullptr) return false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!::GetAce(dacl, i, &entry)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        // Both lay out the mask and the trustee alike.
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kChangeRights) != 0 && !TrustedSid(&allowed->SidStart)) return false;
        break;
      }
      case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
      case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
      case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
        // Not used on files; any change they allow is taken as anyone's.
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if ((allowed->Mask & kChangeRights) != 0) return false;
        break;
      }
      default:
        // Denials and audits grant nothing.
        break;
    }
  }
  return true;
}

std::optional<std::wstring> MachineProtectedFile(const std::wstring& path) {
  const auto full = FullPath(path);
  // Only a local drive path: a share or device path is not this machine's to vouch for.
  if (!full || full->size() < 4 || (*full)[1] != L':' || (*full)[2] != L'\\') return std::nullopt;

  std::optional<std::wstring> root;
  for (REFKNOWNFOLDERID id : {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_Windows}) {
    const auto candidate = KnownFolder(id);
    if (candidate && Under(*full, *candidate)) {
      root = candidate;
      break;
    }
  }
  if (!root) return std::nullopt;

  // The root is the system's and is taken as it resolves; below it every
  // component must be itself, not a link to somewhere else.
  {
    UniqueHandle handle = OpenForCheck(*root, true);
    if (!handle || !OnlyAdministratorsMayChange(handle.get())) return std::nullopt;
  }
  size_t position = root->size();
  while (position < full->size()) {
    const size_t next = full->find(L'\\', position + 1);
    const bool last = next == std::wstring::npos;
    const std::wstring current = full->substr(0, last ? full->size() : next);
    UniqueHandle handle = OpenForCheck(current, false);
    if (!handle) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle.get(), &information)) return std::nullopt;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return std::nullopt;
    const bool directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (directory == last) return std::nullopt;
    if (!OnlyAdministratorsMayChange(handle.get())) return std::nullopt;
    position = last ? full->size() : next;
  }
  return full;
}

std::optional<PrivateFolder> CreatePrivateFolder(const std::wstring& parent) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Owned by administrators; the system and administrators only; nothing
  // inherited from a parent others may write to.
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr))) {
    return std::nullopt;
  }
  UniqueLocal owned(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  // A name someone made first is theirs: another name is tried instead.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::wstring name = RandomName();
    if (name.empty()) return std::nullopt;
    PrivateFolder folder{parent + L"\\" + name, {}};
    if (!::CreateDirectoryW(folder.path.c_str(), &attributes)) {
      if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
      MIRAVELL_LOG_LAST_ERROR_IF(true);
      return std::nullopt;
    }
    // Held without sharing deletion: while it is open, no one can rename the
    // folder or put something else in its place.
    folder.handle.reset(::CreateFileW(folder.path.c_str(),
                                      READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!folder.handle || !::GetFileInformationByHandle(folder.handle.get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !OnlyAdministratorsMayChange(folder.handle.get())) {
      folder.handle.reset();
      MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::RemoveDirectoryW(folder.path.c_str()));
      return std::nullopt;
    }
    return folder;
  }
  return std::nullopt;
}

std::optional<std::wstring> FinalPath(HANDLE object) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetFinalPathNameByHandleW(object, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::nullopt;
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      // "\\?\C:\..." is the plain "C:\..." the shell expects.
      if (path.size() > 6 && path.compare(0, 4, L"\\\\?\\") == 0 && path[5] == L':') path.erase(0, 4);
      return path;
    }
    buffer.resize(length + 1);
  }
}

}  // namespace runtime

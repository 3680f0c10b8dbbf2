#include "app/Paths.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Log.h"
#include "common/Text.h"

namespace {

std::wstring KnownFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  MIRAVELL_RETURN_VALUE_IF_FAILED({}, ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path));
  return path;
}

std::wstring TempPath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH, path);
  return std::wstring(path, length <= MAX_PATH ? length : 0);
}

// Whether a file can be created in the folder; the probe deletes itself.
// CREATE_NEW with the reparse flag never opens an existing file or link
// under the probe's name, so a planted link cannot aim the write elsewhere.
bool CanWriteInto(const std::wstring& folder) {
  std::wstring probe = folder + L"\\";
  try {
    probe += config::Wide(config::Id::ProbeFileName);
  }
  MIRAVELL_CATCH_RETURN(false)
  const auto open = [&probe] {
    return UniqueHandle(
        ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  };
  UniqueHandle file = open();
  if (!file.valid() && ::GetLastError() == ERROR_FILE_EXISTS) {
    // Left over from a start that was killed, or planted: removing the name
    // removes a link itself, never what it points at.
    if (::DeleteFileW(probe.c_str()) || ::RemoveDirectoryW(probe.c_str())) file = open();
  }
  MIRAVELL_LOG_LAST_ERROR_IF(!file.valid());
  return file.valid();
}

// Administrators and the system own and control the folder and everything
// made in it; users may read; nothing is inherited from the parent, whose
// entries let every user create folders and files.
constexpr wchar_t kProtectedFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

bool IsReparsePoint(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The two principals known by their SID text, read once per check rather than
// once per access entry.
class KnownPrincipals {
 public:
  KnownPrincipals() {
    // NT SERVICE\TrustedInstaller, the owner of the system's own folders.
    installer_ = Parse(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464");
    // The test bed's one account, which owns every file there; empty (and so
    // never matched) in the build that ships.
    bedAdministrator_ = Parse(config::Wide(config::Id::BedAdministratorSid));
  }

  FolderPrincipal Classify(PSID sid) const {
    if (sid == nullptr || !::IsValidSid(sid)) return FolderPrincipal::Other;
    if (::IsWellKnownSid(sid, WinLocalSystemSid)) return FolderPrincipal::System;
    if (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return FolderPrincipal::Administrators;
    if (installer_ && ::EqualSid(sid, installer_.get())) return FolderPrincipal::TrustedInstaller;
    if (bedAdministrator_ && ::EqualSid(sid, bedAdministrator_.get())) return FolderPrincipal::Administrators;
    return FolderPrincipal::Other;
  }

 private:
  static UniqueLocal Parse(const std::wstring& text) {
    PSID sid = nullptr;
    if (text.empty() || !::ConvertStringSidToSidW(text.c_str(), &sid)) return UniqueLocal();
    return UniqueLocal(sid);
  }

  UniqueLocal installer_;
  UniqueLocal bedAdministrator_;
};

// Reads the folder's owner and DACL without following a reparse point.
bool ReadFolderSecurity(const std::wstring& folder, FolderSecurity& security) {
  security = {};
  security.reparsePoint = IsReparsePoint(folder);
  if (security.reparsePoint) return true;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status =
      ::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) {
    ::SetLastError(status);
    MIRAVELL_LOG_LAST_ERROR_IF(true);
    return false;
  }
  const UniqueLocal held(descriptor);
  const KnownPrincipals known;
  security.owner = known.Classify(owner);
  security.hasDacl = dacl != nullptr;
  if (dacl == nullptr) return true;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* raw = nullptr;
    if (!::GetAce(dacl, index, &raw)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    FolderAccessEntry entry;
    switch (header->AceType) {
      case ACCESS_ALLOWED_ACE_TYPE:
      case ACCESS_DENIED_ACE_TYPE: {
        // Both kinds share one layout: header, mask, then the SID.
        const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
        entry.allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        entry.mask = ace->Mask;
        entry.who = known.Classify(const_cast<DWORD*>(&ace->SidStart));
        break;
      }
      default:
        // Kinds this check does not read could grant anything.
        entry.mask = GENERIC_ALL;
        break;
    }
    security.entries.push_back(entry);
  }
  return true;
}

// Creates the folder administrators-only; an existing one is left as it is,
// for the check to judge.
void CreateProtectedFolder(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kProtectedFolderSddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    MIRAVELL_LOG_LAST_ERROR_IF(true);
    return;
  }
  const UniqueLocal held(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  MIRAVELL_LOG_LAST_ERROR_IF(!::CreateDirectoryW(folder.c_str(), &attributes) &&
                             ::GetLastError() != ERROR_ALREADY_EXISTS);
}

// The all-users folder, when its owner and entries keep it to administrators
// and a profile inside it would not be reached through a link; else why not.
const char* AllUsersFolderRefusal(const std::wstring& folder) {
  CreateProtectedFolder(folder);
  FolderSecurity security;
  if (!ReadFolderSecurity(folder, security)) return "its security could not be read";
  if (const char* refusal = DataFolderRefusal(security)) return refusal;
  if (IsReparsePoint(folder + L"\\WebView2Data")) return "its WebView2Data is a reparse point";
  if (!CanWriteInto(folder)) return "the write probe failed";
  return nullptr;
}

}  // namespace

const char* DataFolderRefusal(const FolderSecurity& security) {
  if (security.reparsePoint) return "it is a reparse point";
  const auto administrative = [](FolderPrincipal who) { return who != FolderPrincipal::Other; };
  if (security.owner != FolderPrincipal::System && security.owner != FolderPrincipal::Administrators) {
    return "its owner is not SYSTEM or Administrators";
  }
  if (!security.hasDacl) return "it has no DACL";
  constexpr unsigned long kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                     WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (const FolderAccessEntry& entry : security.entries) {
    if (entry.allow && !administrative(entry.who) && (entry.mask & kChanges) != 0) {
      return "a non-administrator may write to it";
    }
  }
  return nullptr;
}

std::wstring GetExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

std::wstring GetAppDataFolder(bool elevated, const std::wstring& productName) {
  std::wstring folder;
  if (elevated) {
    const std::wstring common = KnownFolder(CSIDL_COMMON_APPDATA);
    if (!common.empty()) {
      folder = common + L"\\" + productName;
      if (const char* refusal = AllUsersFolderRefusal(folder)) {
        LogLine(std::string("Data folder: not using ") + WideToUtf8(folder) + " because " + refusal);
        folder.clear();
      } else {
        return folder;
      }
    }
  }
  if (folder.empty()) {
    const std::wstring local = KnownFolder(CSIDL_LOCAL_APPDATA);
    if (!local.empty()) folder = local + L"\\" + productName;
  }
  if (folder.empty()) folder = TempPath() + productName;  // the temp path ends with a separator

  // An existing folder is fine.
  MIRAVELL_LOG_LAST_ERROR_IF(!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS);
  if (CanWriteInto(folder)) return folder;

  folder = TempPath() + productName;
  MIRAVELL_LOG_LAST_ERROR_IF(!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS);
  return folder;
}

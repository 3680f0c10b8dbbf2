#pragma once
// Where the program is and where it keeps its data.
#include <string>
#include <vector>

// Full path of the running executable (read with a 260-character buffer).
std::wstring GetExecutablePath();

// The writable data folder: the all-users application data folder when
// elevated, else the user's local one, else the temporary folder, each
// followed by the product name. The folder exists when this returns; when a
// write probe inside it fails, the temporary folder's is used instead. The
// all-users folder is made administrators-only when this creates it, and is
// passed over for the user's own (with a log line) when anyone else could
// have planted or could change it.
std::wstring GetAppDataFolder(bool elevated, const std::wstring& productName);

// Who an owner or an access entry names, as far as the data folder cares.
enum class FolderPrincipal { System, Administrators, TrustedInstaller, Other };

struct FolderAccessEntry {
  FolderPrincipal who = FolderPrincipal::Other;
  bool allow = true;
  unsigned long mask = 0;
};

// What the all-users data folder's attributes and security descriptor say.
struct FolderSecurity {
  bool reparsePoint = false;
  FolderPrincipal owner = FolderPrincipal::Other;
  bool hasDacl = true;  // a missing (null) DACL lets everyone in
  std::vector<FolderAccessEntry> entries;
};

// Why the elevated process must not keep its browser profile in a folder so
// described, or nullptr when only administrators and the system control it.
const char* DataFolderRefusal(const FolderSecurity& security);

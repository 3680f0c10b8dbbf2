#pragma once
// What an elevated process may trust on disk: files and folders no one but
// the system and administrators can change. Code or data that a standard
// user can write (their own profile, the temporary folder, a folder they
// created) is theirs, and whatever an elevated process takes from there runs
// with its rights.
#include <windows.h>

#include <optional>
#include <string>

#include "common/Handles.h"

namespace runtime {

// Whether the object's owner and every entry of its access list that grants
// a change (writing, appending, creating children, deleting, taking over the
// access list or the ownership) belong to the system or administrators. Entries
// that only pass on to children are not this object's. The handle needs
// READ_CONTROL.
[[nodiscard]] bool OnlyAdministratorsMayChange(HANDLE object);

// A file whose full path lies under one of the machine's program folders (or
// the system's folder), where every folder from that root down and the file
// itself can be changed by administrators only, and none below the root is
// a link or junction. Returns the checked full path, nullopt otherwise. The
// comparison is on whole path components of the resolved path, so
// "C:\Program Files Evil" is not under "C:\Program Files".
[[nodiscard]] std::optional<std::wstring> MachineProtectedFile(const std::wstring& path);

// Creates a new folder with a unique name in parent, owned by administrators,
// whose access list gives the system and administrators full control and no
// one else anything, and does not inherit from parent. Returns its path and
// an open handle that keeps it from being renamed or deleted while held (and
// can list it, and delete it once empty).
struct PrivateFolder {
  std::wstring path;
  UniqueHandle handle;
};
[[nodiscard]] std::optional<PrivateFolder> CreatePrivateFolder(const std::wstring& parent);

// The path the handle's object has now, as the system resolves it (without
// the "\\?\" prefix when the path has a drive letter).
[[nodiscard]] std::optional<std::wstring> FinalPath(HANDLE object);

}  // namespace runtime

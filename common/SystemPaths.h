#pragma once
// Full paths of the system's own programs. We run elevated from folders
// anyone may write to, so a system program is never looked for by name.
#include <string>

// The system directory (System32) followed by "\" and the file name; the
// name alone when the directory cannot be read, which CreateProcessW then
// refuses rather than searching for it.
std::wstring SystemFilePath(const std::wstring& fileName);

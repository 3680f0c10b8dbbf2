#pragma once
// Where the program is and where it keeps its data.
#include <string>

// Full path of the running executable (read with a 260-character buffer).
std::wstring GetExecutablePath();

// The writable data folder: the all-users application data folder when
// elevated, else the user's local one, else the temporary folder, each
// followed by the product name. The folder exists when this returns; when a
// write probe inside it fails, the temporary folder's is used instead.
std::wstring GetAppDataFolder(bool elevated, const std::wstring& productName);

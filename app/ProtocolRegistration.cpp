#include "app/ProtocolRegistration.h"

#include <windows.h>
#include <shellapi.h>

#include "app/Paths.h"
#include "common/AppState.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Text.h"

namespace {

// The scheme name itself comes from the application record.
std::wstring RootKeyPath() { return L"Software\\Classes\\" + GetAppState().scheme; }
constexpr wchar_t kProtocolDescription[] = L"Quella Desktop Player";
constexpr wchar_t kSchemePrefix[] = L"miravell:";  // the link test of the command line

UniqueRegKey CreateKey(HKEY hive, const std::wstring& path) {
  UniqueRegKey key;
  if (MIRAVELL_LOG_IF_WIN32_ERROR(::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                                    nullptr, key.put(), nullptr)) != ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

// REG_SZ with its terminating zero counted: (characters + 1) * 2 bytes.
void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  MIRAVELL_LOG_IF_WIN32_ERROR(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

}  // namespace

void RegisterUrlProtocol() { RegisterUrlProtocolFor(GetExecutablePath()); }

void RegisterUrlProtocolFor(const std::wstring& executablePath) {
  const std::wstring root = RootKeyPath();
  {
    UniqueRegKey key = CreateKey(HKEY_CURRENT_USER, root);
    if (!key) key = CreateKey(HKEY_LOCAL_MACHINE, root);
    if (!key) return;
    SetString(key.get(), nullptr, kProtocolDescription);
    SetString(key.get(), L"URL Protocol", L"");
  }
  // The icon and the command always go to the current user, even when the
  // root key had to fall back to the machine.
  if (UniqueRegKey icon = CreateKey(HKEY_CURRENT_USER, root + L"\\DefaultIcon")) {
    SetString(icon.get(), nullptr, executablePath + L",1");
  }
  if (UniqueRegKey command = CreateKey(HKEY_CURRENT_USER, root + L"\\shell\\open\\command")) {
    SetString(command.get(), nullptr, L"\"" + executablePath + L"\" \"%1\"");
  }
}

LinkArgument ReadLinkArgument(const std::wstring& winMainCommandLine) {
  const wchar_t* process = ::GetCommandLineW();
  return ReadLinkArgumentFrom(process != nullptr ? process : L"", winMainCommandLine);
}

LinkArgument ReadLinkArgumentFrom(const std::wstring& processCommandLine, const std::wstring& winMainCommandLine) {
  LinkArgument result;
  int count = 0;
  // CommandLineToArgvW treats an empty text as "the program's own path".
  UniqueLocal argv(reinterpret_cast<HLOCAL>(::CommandLineToArgvW(processCommandLine.c_str(), &count)));
  if (argv && count > 1) result.link = reinterpret_cast<wchar_t**>(argv.get())[1];

  // An empty first argument: the link may still be somewhere in the text
  // (letter case significant here).
  if (result.link.empty() && winMainCommandLine.find(kSchemePrefix) != std::wstring::npos) {
    result.link = winMainCommandLine;
  }

  result.hasSchemeArgs = ToLowerWide(result.link).find(kSchemePrefix) != std::wstring::npos;
  return result;
}

#include "app/UpdateFlow.h"

#include <windows.h>

#include <stdexcept>

#include "common/AppState.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Log.h"
#include "common/Seams.h"
#include "common/Text.h"
#include "net/ServiceApi.h"
#include "net/ServiceHosts.h"

namespace {

constexpr double kUnreadableVersion = 3.0;
constexpr wchar_t kRequiredText[] =
    L"A mandatory update is available. You must download the new version to continue.\n"
    L"تحديث إجباري متاح. يجب عليك تحميل الإصدار الجديد للمتابعة.";
constexpr wchar_t kRequiredTitle[] = L"Miravell - Update Required";
constexpr wchar_t kOptionalText[] =
    L"A new version of the app is available. Would you like to update now?\n"
    L"يوجد تحديث جديد للتطبيق. هل ترغب في التحديث الآن؟";
constexpr wchar_t kOptionalTitle[] = L"Miravell - Update Available";

[[noreturn]] void OpenDownloadAndEnd(const std::wstring& address) {
  // The student's browser, and the installer it downloads, must not inherit
  // our elevation.
  seams::OpenForUserSeam(address);
  seams::EndProcess(0);
}

}  // namespace

double CurrentVersionNumber(const std::wstring& versionText) {
  try {
    return std::stod(WideToUtf8(versionText));
  }
  MIRAVELL_CATCH_RETURN(kUnreadableVersion)
}

std::wstring DownloadAddress(const std::wstring& serviceLink) {
  // Handed to the shell's "open": a path or a file: address would be run,
  // and the student trusts whatever this sends them to as the new version.
  // Only an https address on the service's own hosts is taken as it is.
  if (IsServiceAddress(serviceLink)) return serviceLink;
  return config::Wide(config::Id::FallbackDownloadUrl);
}

bool RunUpdateCheck(const std::wstring& domain, bool firstRun) {
  if (firstRun) LogLine("Step 7B: Checking app version...");
  const VersionInfo info = CheckForUpdate(CurrentVersionNumber(GetAppState().version), domain);
  if (firstRun) LogLine(std::string("Step 7B: Version check done. hasUpdate=") + (info.hasUpdate ? "1" : "0"));
  return HandleUpdateAnswer(info);
}

bool HandleUpdateAnswer(const VersionInfo& info) {
  if (!info.hasUpdate) return false;
  const std::wstring address = DownloadAddress(info.link);
  if (info.isRequired) {
    const int answer = seams::ShowMessageBox(nullptr, kRequiredText, kRequiredTitle,
                                             MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST);
    if (answer == IDOK) OpenDownloadAndEnd(address);
    seams::EndProcess(0);
  }
  const int answer = seams::ShowMessageBox(nullptr, kOptionalText, kOptionalTitle,
                                           MB_YESNO | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST);
  if (answer == IDYES) OpenDownloadAndEnd(address);
  return true;
}

#include "app/LinkErrors.h"

#include <windows.h>

#include "alerts/AlertWindow.h"
#include "identity/DiagnosticCode.h"
#include "common/Seams.h"
#include "common/Text.h"

namespace {

constexpr char kServerPrefix[] = "server:";
constexpr wchar_t kServerTitle[] = L"Miravell - خطأ";
constexpr wchar_t kAlertTitle[] = L"Link Error - خطأ في الرابط";
constexpr wchar_t kAlertMessage[] =
    L"Failed to process the content link.\nIf the problem persists, send the diagnostic code below to support.";
constexpr wchar_t kAlertArabic[] =
    L"فشل في معالجة رابط المحتوى.\nإذا استمرت المشكلة، يرجى إرسال الكود التشخيصي أدناه للدعم الفني.";

}  // namespace

int ReportLinkFailure(const std::string& reason) {
  if (reason.size() >= 7 && reason.compare(0, 7, kServerPrefix) == 0) {
    seams::ShowMessageBox(nullptr, Utf8ToWide(reason.substr(7)), kServerTitle,
                          MB_OK | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST | MB_RIGHT | MB_RTLREADING);
    return 1;
  }
  ShowAlertAndExit(kAlertTitle, kAlertMessage, kAlertArabic, BuildErrorDiagnosticCode(reason));
}

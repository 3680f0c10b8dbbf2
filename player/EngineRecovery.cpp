#include "player/EngineRecovery.h"

#include <algorithm>

#include "common/Html.h"
#include "common/PageFill.h"
#include "player/PageFiles.h"

const wchar_t kEngineGaveUpTitle[] = L"Miravell - خطأ";
const wchar_t kEngineGaveUpText[] =
    L"The lesson could not be shown: the browser engine stopped working several times.\n"
    L"Choose Retry to try again, or Cancel to close the player.\n\n"
    L"تعذّر عرض الدرس: توقف محرك المتصفح عن العمل عدة مرات.\n"
    L"اختر إعادة المحاولة للمحاولة مرة أخرى، أو إلغاء لإغلاق البرنامج.";

Recovery RecoveryFor(COREWEBVIEW2_PROCESS_FAILED_KIND kind) noexcept {
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
      return Recovery::Recreate;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
    // A lesson in a frame of the player's own page has a renderer of its
    // own: when it goes, the lesson is gone as surely as with the page's.
    case COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED:
      return Recovery::Reload;
    default:
      return Recovery::LogOnly;
  }
}

Recovery RecoveryPolicy::Decide(COREWEBVIEW2_PROCESS_FAILED_KIND kind, std::uint64_t nowMs) {
  const Recovery action = RecoveryFor(kind);
  if (action == Recovery::LogOnly) return action;
  // Still the failure handled a moment ago: nothing more to do, unless this
  // part of it needs more than was done (the browser went after its page).
  if (!failures_.empty() && !navigatedSinceFailure_ && nowMs - failures_.back() < kJoinMs && lastAction_) {
    if (action == Recovery::Recreate && *lastAction_ == Recovery::Reload) {
      lastAction_ = Recovery::Recreate;
      return Recovery::Recreate;
    }
    return Recovery::Ignore;
  }
  while (!failures_.empty() && nowMs - failures_.front() >= kWindowMs) failures_.pop_front();
  failures_.push_back(nowMs);
  lastAction_ = action;
  navigatedSinceFailure_ = false;
  return static_cast<int>(failures_.size()) >= kMaxFailures ? Recovery::GiveUp : action;
}

void RecoveryPolicy::Forget() noexcept {
  failures_.clear();
  lastAction_.reset();
  navigatedSinceFailure_ = true;
}

namespace {

const char* KindName(COREWEBVIEW2_PROCESS_FAILED_KIND kind) noexcept {
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
      return "browser process exited";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
      return "render process exited";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
      return "render process unresponsive";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED:
      return "frame render process exited";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_UTILITY_PROCESS_EXITED:
      return "utility process exited";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_SANDBOX_HELPER_PROCESS_EXITED:
      return "sandbox helper process exited";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED:
      return "GPU process exited";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_PLUGIN_PROCESS_EXITED:
      return "plugin process exited";
    case COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_BROKER_PROCESS_EXITED:
      return "plugin broker process exited";
    default:
      return "unknown process exited";
  }
}

const char* ReasonName(COREWEBVIEW2_PROCESS_FAILED_REASON reason) noexcept {
  switch (reason) {
    case COREWEBVIEW2_PROCESS_FAILED_REASON_UNRESPONSIVE:
      return "unresponsive";
    case COREWEBVIEW2_PROCESS_FAILED_REASON_TERMINATED:
      return "terminated";
    case COREWEBVIEW2_PROCESS_FAILED_REASON_CRASHED:
      return "crashed";
    case COREWEBVIEW2_PROCESS_FAILED_REASON_LAUNCH_FAILED:
      return "launch failed";
    case COREWEBVIEW2_PROCESS_FAILED_REASON_OUT_OF_MEMORY:
      return "out of memory";
    case COREWEBVIEW2_PROCESS_FAILED_REASON_PROFILE_DELETED:
      return "profile deleted";
    default:
      return "unexpected";
  }
}

const char* ActionText(Recovery action) noexcept {
  switch (action) {
    case Recovery::Reload:
      return "reloading the page";
    case Recovery::Recreate:
      return "starting the engine again";
    case Recovery::LogOnly:
      return "the engine restarts it";
    case Recovery::Ignore:
      return "already being handled";
    default:
      return "too many failures, asking the student";
  }
}

struct FailureWords {
  const wchar_t* english;
  const wchar_t* arabic;
  const char* name;
};

FailureWords WordsFor(LoadFailure failure) noexcept {
  switch (failure) {
    case LoadFailure::NoNetwork:
      return {L"This computer is not connected to the internet. Check the connection, then try again.",
              L"هذا الجهاز غير متصل بالإنترنت. تحقق من الاتصال ثم أعد المحاولة.", "no network"};
    case LoadFailure::HostNotFound:
      return {L"The server could not be found. Check the internet connection, then try again.",
              L"تعذّر العثور على الخادم. تحقق من اتصال الإنترنت ثم أعد المحاولة.", "host not found"};
    case LoadFailure::Unreachable:
      return {L"The server could not be reached. Try again in a moment.",
              L"تعذّر الوصول إلى الخادم. أعد المحاولة بعد قليل.", "server unreachable"};
    case LoadFailure::Timeout:
      return {L"The server took too long to answer. Try again in a moment.",
              L"استغرق الخادم وقتاً طويلاً للرد. أعد المحاولة بعد قليل.", "timed out"};
    case LoadFailure::NotSecure:
      return {L"A secure connection to the server could not be made.", L"تعذّر إنشاء اتصال آمن بالخادم.",
              "connection not secure"};
    default:
      return {L"The server had a problem. Try again in a moment.", L"حدثت مشكلة في الخادم. أعد المحاولة بعد قليل.",
              "server error"};
  }
}

}  // namespace

std::string DescribeEngineFailure(COREWEBVIEW2_PROCESS_FAILED_KIND kind, COREWEBVIEW2_PROCESS_FAILED_REASON reason,
                                  int exitCode, Recovery action, int recentFailures) {
  std::string line = std::string("Engine: ") + KindName(kind) + " (" + ReasonName(reason) + ", exit code " +
                     std::to_string(exitCode) + "); " + ActionText(action);
  if (action == Recovery::Reload || action == Recovery::Recreate || action == Recovery::GiveUp) {
    line += " (failure " + std::to_string(recentFailures) + " of " + std::to_string(RecoveryPolicy::kMaxFailures) +
            " within a minute)";
  }
  return line;
}

std::optional<LoadFailure> ClassifyLoad(bool success, COREWEBVIEW2_WEB_ERROR_STATUS status, int httpStatus) noexcept {
  // A gateway's answers, and the request filter's for a lesson host it
  // could not reach to check.
  if (httpStatus == 502 || httpStatus == 503 || httpStatus == 504) return LoadFailure::Unreachable;
  if (httpStatus >= 500 && httpStatus <= 599) return LoadFailure::ServerError;
  if (success) return std::nullopt;
  switch (status) {
    case COREWEBVIEW2_WEB_ERROR_STATUS_DISCONNECTED:
      return LoadFailure::NoNetwork;
    case COREWEBVIEW2_WEB_ERROR_STATUS_HOST_NAME_NOT_RESOLVED:
      return LoadFailure::HostNotFound;
    case COREWEBVIEW2_WEB_ERROR_STATUS_SERVER_UNREACHABLE:
    case COREWEBVIEW2_WEB_ERROR_STATUS_CANNOT_CONNECT:
    case COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_ABORTED:
    case COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_RESET:
      return LoadFailure::Unreachable;
    case COREWEBVIEW2_WEB_ERROR_STATUS_TIMEOUT:
      return LoadFailure::Timeout;
    case COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_COMMON_NAME_IS_INCORRECT:
    case COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_EXPIRED:
    case COREWEBVIEW2_WEB_ERROR_STATUS_CLIENT_CERTIFICATE_CONTAINS_ERRORS:
    case COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_REVOKED:
    case COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_IS_INVALID:
      return LoadFailure::NotSecure;
    case COREWEBVIEW2_WEB_ERROR_STATUS_ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return LoadFailure::ServerError;
    default:
      // Cancelled or replaced navigations, the site's own error pages,
      // sign-in prompts: the engine's own handling stays.
      return std::nullopt;
  }
}

const char* LoadFailureName(LoadFailure failure) noexcept { return WordsFor(failure).name; }

std::wstring LoadFailedPage(const std::wstring& productName, LoadFailure failure, bool lesson) {
  const FailureWords words = WordsFor(failure);
  return FillPage(pages::kLoadFailedPage,
                  {{L"PRODUCT_NAME", EscapeForHtml(productName)},
                   {L"TITLE_EN", lesson ? L"The lesson could not be loaded" : L"The page could not be loaded"},
                   {L"TITLE_AR", lesson ? L"تعذّر تحميل الدرس" : L"تعذّر تحميل الصفحة"},
                   {L"REASON_EN", words.english},
                   {L"REASON_AR", words.arabic},
                   {L"RETRY_MESSAGE", kRetryLoadMessage}});
}

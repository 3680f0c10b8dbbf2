#pragma once
// What a window does when its browser engine fails: which failures it
// recovers from and how, when it stops trying, what the step log says, and
// the page it shows instead of a lesson that could not be loaded. Plain
// rules, apart from the browser, so they can be tested without one.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "runtime/WebView2Interfaces.h"

// Posted to the window whose engine failed, so that recovery runs from the
// window's own message loop and never inside the engine's event handler:
// wParam the COREWEBVIEW2_PROCESS_FAILED_KIND, lParam the reason.
inline constexpr UINT kEngineFailedMessage = WM_APP + 0x31;

// The message the load-failed page's Retry button posts.
inline constexpr wchar_t kRetryLoadMessage[] = L"miravellRetryLoad";

enum class Recovery {
  Reload,    // a renderer is gone or hung: load the content again
  Recreate,  // the browser process is gone: a new environment and controller
  LogOnly,   // the engine restarts the process itself (GPU, utility...)
  Ignore,    // part of a failure already being handled
  GiveUp,    // too many failures in a short time: ask the student
};

// Counts failures per window. Events that arrive together (a browser's exit
// takes its renderers with it) make one failure, handled once, by the
// strongest action among them: an event joins the last failure when it
// comes within kJoinMs of it and before the recovery's own navigation began.
class RecoveryPolicy {
 public:
  static constexpr int kMaxFailures = 3;
  static constexpr std::uint64_t kWindowMs = 60'000;
  static constexpr std::uint64_t kJoinMs = 2'000;

  Recovery Decide(COREWEBVIEW2_PROCESS_FAILED_KIND kind, std::uint64_t nowMs);
  // A top-level navigation began: a failure from now on is a new one.
  void NoteNavigation() noexcept { navigatedSinceFailure_ = true; }
  // After the student chose to try again: the count starts afresh.
  void Forget() noexcept;
  // Failures counted within the last minute, as of the last decision.
  [[nodiscard]] int recentFailures() const noexcept { return static_cast<int>(failures_.size()); }

 private:
  std::deque<std::uint64_t> failures_;
  std::optional<Recovery> lastAction_;
  bool navigatedSinceFailure_ = true;
};

// The action for a failure of this kind, before any counting.
Recovery RecoveryFor(COREWEBVIEW2_PROCESS_FAILED_KIND kind) noexcept;

// The step-log line for one failure and what is done about it.
std::string DescribeEngineFailure(COREWEBVIEW2_PROCESS_FAILED_KIND kind, COREWEBVIEW2_PROCESS_FAILED_REASON reason,
                                  int exitCode, Recovery action, int recentFailures);

// Why a top-level load failed, in the words the page uses.
enum class LoadFailure { NoNetwork, HostNotFound, Unreachable, Timeout, NotSecure, ServerError };

// The failure to show the student, or none: a success, a navigation that
// was cancelled or replaced, and answers the site's own pages explain
// (4xx) are left as the engine shows them.
std::optional<LoadFailure> ClassifyLoad(bool success, COREWEBVIEW2_WEB_ERROR_STATUS status, int httpStatus) noexcept;

// The step-log name of a failure ("host not found", ...).
const char* LoadFailureName(LoadFailure failure) noexcept;

// The program's own bilingual page for a failed load, with a Retry button
// that posts kRetryLoadMessage; lesson says whose load it was (the player's
// lesson, or a page of the start screen).
std::wstring LoadFailedPage(const std::wstring& productName, LoadFailure failure, bool lesson);

// The question asked when the engine keeps failing: Retry tries again,
// Cancel closes the player with exit code 1.
extern const wchar_t kEngineGaveUpTitle[];
extern const wchar_t kEngineGaveUpText[];

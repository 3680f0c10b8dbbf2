#pragma once
// Which downloads the browser may save. The player runs elevated, so a file
// the student opens from the browser's download list would run elevated too:
// programs and scripts never reach the disk. Plain text rules, apart from the
// browser.
#include <string>

// Whether the file the browser is about to save could run as a program or
// script when opened, judged by its last extension the way Windows reads it
// (trailing dots and spaces dropped, any case). A path without a usable file
// name counts as runnable: there is nothing to judge it by.
bool IsRunnableDownload(const std::wstring& resultFilePath);

// The lesson the player shows, for telling its own file apart.
struct LessonDownload {
  std::wstring contentUrl;
  std::wstring contentType;
};

// Whether a download is the lesson's own file, which the service hands out
// watermarked inside the player only. In a PDF lesson the only thing on
// screen is the engine's viewer of that file, and its save button may hand
// the file over under another address (a blob: or a redirect), so every
// download there counts; elsewhere, a download of the content address itself
// (its fragment ignored).
bool IsLessonDownload(const std::wstring& uri, const LessonDownload& lesson);

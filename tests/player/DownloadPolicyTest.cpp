// Which downloads are stopped before they reach the disk.
#include <gtest/gtest.h>

#include "player/DownloadPolicy.h"

namespace {

TEST(DownloadPolicy, ProgramsScriptsAndNamelessPathsAreRunnableOthersAreNot) {
  const struct {
    const wchar_t* path;
    bool runnable;
  } cases[] = {
      {L"C:\\Users\\s\\Downloads\\setup.exe", true},
      {L"C:\\Users\\s\\Downloads\\SETUP.EXE", true},
      {L"C:\\d\\lesson.pdf.exe", true},
      {L"C:\\d\\tool.msi", true},
      {L"C:\\d\\app.msixbundle", true},
      {L"C:\\d\\run.BAT", true},
      {L"C:\\d\\run.ps1", true},
      {L"C:\\d\\x.vbs", true},
      {L"C:\\d\\x.js", true},
      {L"C:\\d\\x.hta", true},
      {L"C:\\d\\x.lnk", true},
      {L"C:\\d\\x.url", true},
      {L"C:\\d\\x.reg", true},
      {L"C:\\d\\x.jar", true},
      {L"C:\\d\\x.application", true},
      {L"C:\\d\\x.chm", true},
      // Windows saves these under a runnable name.
      {L"C:\\d\\setup.exe.", true},
      {L"C:\\d\\setup.exe . .", true},
      {L"C:\\d\\notes.pdf:hidden.exe", true},
      // Nothing to judge by.
      {L"", true},
      {L"C:\\d\\", true},
      {L"C:\\d\\...", true},
      {L"C:\\d\\lesson.pdf", false},
      {L"C:\\d\\lesson.exe.pdf", false},
      {L"C:\\d\\photo.PNG", false},
      {L"C:\\d\\README", false},
      {L"C:\\d.exe\\notes.txt", false},
      {L"C:\\d\\archive.json", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRunnableDownload(c.path), c.runnable) << c.path;
}

TEST(DownloadPolicy, LessonsOwnFileIsTheContentAddressOrAnythingInAPdfLesson) {
  const LessonDownload video{L"https://media.example.com/v/lesson.mp4", L"url_direct"};
  const LessonDownload pdf{L"https://cdn.example.com/l.pdf", L"pdf"};
  const struct {
    const wchar_t* uri;
    LessonDownload lesson;
    bool own;
  } cases[] = {
      {L"https://media.example.com/v/lesson.mp4", video, true},
      {L"https://media.example.com/v/lesson.mp4#t=10", video, true},
      {L"https://media.example.com/v/other.pdf", video, false},
      {L"https://media.example.com/v/lesson.mp4?copy=1", video, false},
      {L"https://cdn.example.com/l.pdf", pdf, true},
      {L"blob:https://cdn.example.com/4f1c", pdf, true},
      {L"https://cdn.example.com/other.pdf", LessonDownload{L"https://cdn.example.com/l.pdf", L"pdf_url"}, true},
      // The start screen has no lesson.
      {L"https://cdn.example.com/l.pdf", LessonDownload{}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsLessonDownload(c.uri, c.lesson), c.own) << c.uri;
}

}  // namespace

// The pieces of the start-up sequence that can be checked inside one process:
// the command line, the scheme registration, the splash pixels, the data
// folder, the elevation restart, link failures and the player window's end.
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Elevation.h"
#include "app/Gdiplus.h"
#include "app/IntegrityHooks.h"
#include "app/LinkErrors.h"
#include "app/MainWindows.h"
#include "app/Paths.h"
#include "app/ProtocolRegistration.h"
#include "app/Splash.h"
#include "common/Config.h"
#include "common/Handles.h"
#include "common/AppState.h"
#include "common/Seams.h"
#include "tests/support/TestSupport.h"

namespace {

// --- command line ------------------------------------------------------------

struct LinkCase {
  const wchar_t* process;
  const wchar_t* winMain;
  const wchar_t* link;
  bool hasSchemeArgs;
};

TEST(ReadLinkArgument, PicksTheFirstArgumentOrTheWholeTextAsTheRulesSay) {
  const LinkCase cases[] = {
      // The shell's form: quoted path, quoted link; quotes removed.
      {LR"("C:\Program Files\Miravell\Miravell.exe" "miravell:a:b:c")", LR"("miravell:a:b:c")", L"miravell:a:b:c",
       true},
      // Capitals with slashes count, and keep their case.
      {LR"(C:\M.exe MIRAVELL://a:b:c/)", L"MIRAVELL://a:b:c/", L"MIRAVELL://a:b:c/", true},
      // Text before the scheme in the one argument.
      {LR"(C:\M.exe "open miravell:x")", LR"("open miravell:x")", L"open miravell:x", true},
      // An argument without the scheme: no link start, though an argument is there.
      {LR"(C:\M.exe hello)", L"hello", L"hello", false},
      // Only the first argument is examined: a link as the second is ignored.
      {LR"(C:\M.exe first miravell:a:b:c)", L"first miravell:a:b:c", L"first", false},
      // An empty first argument: the whole received text becomes the link.
      {LR"(C:\M.exe "" miravell:a:b:c)", LR"("" miravell:a:b:c)", LR"("" miravell:a:b:c)", true},
      // ...but that search is case-sensitive, so capitals there give no link.
      {LR"(C:\M.exe "" MIRAVELL:a:b:c)", LR"("" MIRAVELL:a:b:c)", L"", false},
      // No argument at all.
      {LR"(C:\M.exe)", L"", L"", false},
  };
  for (const auto& c : cases) {
    const LinkArgument result = ReadLinkArgumentFrom(c.process, c.winMain);
    EXPECT_EQ(result.link, c.link) << c.process;
    EXPECT_EQ(result.hasSchemeArgs, c.hasSchemeArgs) << c.process;
  }
}

// --- scheme registration -------------------------------------------------------

// A REG_SZ whose stored length is (characters + 1) * 2, terminating zero included.
void ExpectString(const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  UniqueRegKey key;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()), ERROR_SUCCESS);
  std::wstring data(512, L'x');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  ASSERT_EQ(::RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  ASSERT_EQ(size, (text.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(data.substr(0, text.size() + 1), text + L'\0');
}

TEST(RegisterUrlProtocol, WritesFourValuesExactlyAndAgainOnTheNextRun) {
  const std::wstring path = LR"(C:\Program Files\Miravell Player\Miravell.exe)";
  const std::wstring root = LR"(Software\Classes\miravell)";
  const std::wstring command = root + LR"(\shell\open\command)";
  RegisterUrlProtocolFor(path);
  ExpectString(root, nullptr, L"Quella Desktop Player");
  ExpectString(root, L"URL Protocol", L"");
  ExpectString(root + LR"(\DefaultIcon)", nullptr, path + L",1");
  ExpectString(command, nullptr, L"\"" + path + L"\" \"%1\"");

  // Damage a value: the next start writes it again, without reading it first.
  const DWORD number = 5;
  ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, command.c_str(), nullptr, REG_DWORD, &number, sizeof(number)),
            ERROR_SUCCESS);
  RegisterUrlProtocolFor(path);
  ExpectString(command, nullptr, L"\"" + path + L"\" \"%1\"");
}

// --- splash pixels -------------------------------------------------------------

TEST(Splash, PremultipliesEachChannelByAlphaDroppingTheRemainder) {
  struct Case {
    std::uint8_t in[4];
    std::uint8_t out[4];
  };
  const Case cases[] = {
      {{10, 200, 255, 0}, {0, 0, 0, 0}},             // fully transparent
      {{10, 200, 255, 255}, {10, 200, 255, 255}},    // opaque keeps its colours
      {{255, 255, 255, 128}, {128, 128, 128, 128}},  // half-transparent white
      {{255, 101, 7, 254}, {254, 100, 6, 254}},      // 101 * 254 / 255 = 100.6 drops to 100
  };
  for (const auto& c : cases) {
    std::uint8_t pixel[4] = {c.in[0], c.in[1], c.in[2], c.in[3]};
    PremultiplyPixel(pixel);
    EXPECT_EQ(std::vector<std::uint8_t>(pixel, pixel + 4), std::vector<std::uint8_t>(c.out, c.out + 4));
  }
}

// --- data folder -------------------------------------------------------------

std::wstring Known(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_EQ(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
  return path;
}

std::wstring Temp() {
  wchar_t path[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, path);
  return path;
}

bool HasAttribute(const std::wstring& path, DWORD attribute) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & attribute) != 0;
}
bool IsFolder(const std::wstring& path) { return HasAttribute(path, FILE_ATTRIBUTE_DIRECTORY); }
bool IsReparsePoint(const std::wstring& path) { return HasAttribute(path, FILE_ATTRIBUTE_REPARSE_POINT); }

// Wine reports every file's owner as the Unix user's, which only the local
// profile counts as an administrator: in the production profile there even a
// folder this process made itself is passed over.
bool OwnerShown() {
  return !testing_support::RunningUnderWine() || !config::Wide(config::Id::BedAdministratorSid).empty();
}

// The elevated answer is checked with the all-users folder's cases below.
TEST(GetAppDataFolder, TheUsersOwnWhenNotElevatedTheTemporaryFolderWhenTheProbeCannotWrite) {
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "blocked" : "free");
    const std::wstring name =
        L"MiravellUserFolder" + std::to_wstring(blocked) + std::to_wstring(::GetCurrentProcessId());
    const std::wstring local = Known(CSIDL_LOCAL_APPDATA) + L"\\" + name;
    if (blocked) {
      // A file where the folder should be: the folder cannot be made and
      // nothing can be written inside it, just as with a folder the user may
      // not write.
      UniqueHandle file(::CreateFileW(local.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      ASSERT_TRUE(file);
    }
    const std::wstring folder = GetAppDataFolder(false, name);
    EXPECT_EQ(folder, blocked ? Temp() + name : local);
    EXPECT_TRUE(IsFolder(folder));
    ::DeleteFileW(local.c_str());
    ::RemoveDirectoryW(folder.c_str());
  }
}

TEST(DataFolderRefusal, OnlyAdministratorsAndTheSystemMayOwnOrChangeTheFolder) {
  using P = FolderPrincipal;
  constexpr unsigned long kReadExecute = 0x1200a9;
  const FolderAccessEntry system{P::System, true, FILE_ALL_ACCESS};
  const FolderAccessEntry admins{P::Administrators, true, FILE_ALL_ACCESS};
  const FolderAccessEntry usersRead{P::Other, true, kReadExecute};
  struct Case {
    const char* name;
    FolderSecurity security;
    bool accepted;
  };
  const Case cases[] = {
      {"installer's entries", {false, P::Administrators, true, {system, admins, usersRead}}, true},
      {"system owner, system's own installer",
       {false, P::System, true, {system, {P::TrustedInstaller, true, GENERIC_ALL}}},
       true},
      {"a denied write is no grant", {false, P::System, true, {admins, {P::Other, false, FILE_ALL_ACCESS}}}, true},
      {"reparse point", {true, P::Administrators, true, {system, admins}}, false},
      {"user or installer as owner", {false, P::Other, true, {system, admins}}, false},
      {"TrustedInstaller owner is not who creates it", {false, P::TrustedInstaller, true, {system}}, false},
      {"null DACL", {false, P::Administrators, false, {}}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DataFolderRefusal(c.security) == nullptr, c.accepted) << c.name;
  }
  // Any one right that lets a non-administrator (CREATOR OWNER included)
  // change the folder or what is in it.
  for (const unsigned long right :
       {0x2ul /*add file*/, 0x4ul /*add subfolder*/, 0x40ul /*delete child*/, static_cast<unsigned long>(DELETE),
        static_cast<unsigned long>(WRITE_DAC), static_cast<unsigned long>(WRITE_OWNER),
        static_cast<unsigned long>(GENERIC_WRITE), static_cast<unsigned long>(GENERIC_ALL)}) {
    const FolderSecurity security{
        false, P::Administrators, true, {system, admins, {P::Other, true, kReadExecute | right}}};
    EXPECT_NE(DataFolderRefusal(security), nullptr) << std::hex << right;
  }
}

// A junction (mount point) at `link` that leads to `target`.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!::CreateDirectoryW(link.c_str(), nullptr)) return false;
  const std::wstring substitute = L"\\??\\" + target;
  const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
  const USHORT printBytes = static_cast<USHORT>(target.size() * sizeof(wchar_t));
  // Tag, length, reserved; then offsets and lengths of both names, then the
  // names, each ending in a null.
  std::vector<BYTE> buffer(8 + 8 + substituteBytes + 2 + printBytes + 2);
  const auto put16 = [&buffer](std::size_t at, USHORT value) { std::memcpy(&buffer[at], &value, sizeof(value)); };
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(&buffer[0], &tag, sizeof(tag));
  put16(4, static_cast<USHORT>(buffer.size() - 8));
  put16(8, 0);
  put16(10, substituteBytes);
  put16(12, static_cast<USHORT>(substituteBytes + 2));
  put16(14, printBytes);
  std::memcpy(&buffer[16], substitute.data(), substituteBytes);
  std::memcpy(&buffer[16 + substituteBytes + 2], target.data(), printBytes);
  UniqueHandle folder(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  DWORD returned = 0;
  return folder.valid() && ::DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                             static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
}

TEST(GetAppDataFolder, AllUsersFolderOthersCouldControlIsPassedOverForTheUsersOwn) {
  const std::wstring name = L"MiravellPlanted" + std::to_wstring(::GetTickCount64());
  const std::wstring common = Known(CSIDL_COMMON_APPDATA) + L"\\" + name;
  const std::wstring local = Known(CSIDL_LOCAL_APPDATA) + L"\\" + name;
  const std::wstring target = Temp() + name + L"Target";
  const std::wstring probeThere = target + L"\\miravell-write-probe.tmp";
  ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
  // A directory symbolic link is a reparse point just as a junction is, and
  // needs a privilege to make: the junction stands for both.
  enum class Planted { Nothing, UserWritable, Junction };
  struct Case {
    Planted planted;
    bool usesAllUsers;
  };
  const bool ownerShown = OwnerShown();
  for (const Case c :
       {Case{Planted::Nothing, ownerShown}, Case{Planted::UserWritable, false}, Case{Planted::Junction, false}}) {
    SCOPED_TRACE(static_cast<int>(c.planted));
    if (c.planted == Planted::UserWritable) {
      // Everyone may change it: Wine keeps that much of an access list, as
      // the Unix mode bits.
      PSECURITY_DESCRIPTOR descriptor = nullptr;
      ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
      const UniqueLocal held(descriptor);
      ASSERT_TRUE(::CreateDirectoryW(common.c_str(), nullptr));
      ASSERT_TRUE(::SetFileSecurityW(common.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    } else if (c.planted == Planted::Junction) {
      const bool made = MakeJunction(common, target);
      if (!IsReparsePoint(common)) {
        // Wine 8 makes no junction.
        ::RemoveDirectoryW(common.c_str());
        std::printf("skipped: this system made no reparse point (%d, error %lu)\n", made ? 1 : 0, ::GetLastError());
        continue;
      }
    }
    std::vector<std::string> log;
    seams::Hooks hooks;
    hooks.logLine = [&log](const std::string& line) { log.push_back(line); };
    const seams::ScopedHooks scoped(hooks);
    const std::wstring folder = GetAppDataFolder(true, name);
    std::string logged;
    for (const std::string& line : log) logged += line + "\n";
    EXPECT_EQ(folder, c.usesAllUsers ? common : local) << logged;
    EXPECT_EQ(log.size(), c.usesAllUsers ? 0u : 1u) << logged;
    EXPECT_TRUE(IsFolder(folder));
    // Called again with the folders present: the same answer.
    EXPECT_EQ(GetAppDataFolder(true, name), folder);
    // Nothing was ever written through the link.
    EXPECT_EQ(::GetFileAttributesW(probeThere.c_str()), INVALID_FILE_ATTRIBUTES);
    ::RemoveDirectoryW(common.c_str());  // a link goes as a link
    ::RemoveDirectoryW(local.c_str());
  }
  ::RemoveDirectoryW(target.c_str());
}

TEST(GetAppDataFolder, ProbeDoesNotWriteThroughALinkUnderItsName) {
  const std::wstring name = L"MiravellProbeLink" + std::to_wstring(::GetTickCount64());
  const std::wstring local = Known(CSIDL_LOCAL_APPDATA) + L"\\" + name;
  const std::wstring victim = Temp() + name + L"Victim.txt";
  ASSERT_TRUE(::CreateDirectoryW(local.c_str(), nullptr));
  {
    UniqueHandle file(::CreateFileW(victim.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file.valid() && ::WriteFile(file.get(), "keep", 4, &written, nullptr));
  }
  const std::wstring probe = local + L"\\miravell-write-probe.tmp";
  ASSERT_TRUE(::CreateSymbolicLinkW(probe.c_str(), victim.c_str(), 0)) << ::GetLastError();
  if (!IsReparsePoint(probe)) {
    ::DeleteFileW(victim.c_str());
    ::RemoveDirectoryW(local.c_str());
    GTEST_SKIP() << "this system made no file link (Wine 8's CreateSymbolicLinkW is a stub)";
  }
  EXPECT_EQ(GetAppDataFolder(false, name), local);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(victim.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 4u);
  ::DeleteFileW(probe.c_str());
  ::DeleteFileW(victim.c_str());
  ::RemoveDirectoryW(local.c_str());
}

// --- elevation restart -------------------------------------------------------

TEST(Elevation, RestartUsesRunasWithTheUnchangedCommandLineThenEndsWith0) {
  for (const BOOL started : {TRUE, FALSE}) {
    std::wstring verb, file, parameters;
    ULONG mask = 0;
    int show = -1;
    std::vector<UINT> exits;
    seams::Hooks hooks;
    hooks.shellExecuteEx = [&](SHELLEXECUTEINFOW* info) {
      verb = info->lpVerb;
      file = info->lpFile;
      parameters = info->lpParameters;
      mask = info->fMask;
      show = info->nShow;
      info->hProcess = nullptr;
      return started;
    };
    hooks.exitProcess = [&](UINT code) { exits.push_back(code); };
    seams::ScopedHooks scope(std::move(hooks));
    const std::wstring commandLine = LR"("MIRAVELL://A:b:c/" second "third arg")";
    EXPECT_THROW(RestartElevated(LR"(C:\Apps\Miravell.exe)", commandLine), seams::ProcessExitRequested);
    EXPECT_EQ(verb, L"runas");
    EXPECT_EQ(file, LR"(C:\Apps\Miravell.exe)");
    EXPECT_EQ(parameters, commandLine);
    EXPECT_EQ(mask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS));
    EXPECT_EQ(show, SW_SHOWNORMAL);
    EXPECT_EQ(exits, std::vector<UINT>{0}) << "exit code 0 whether or not the start succeeded";
  }
}

// --- link failures -------------------------------------------------------------

TEST(LinkErrors, ServerReasonIsShownRightToLeftAndGivesExitCode1) {
  std::wstring text, caption;
  UINT flags = 0;
  seams::Hooks hooks;
  hooks.messageBox = [&](HWND owner, const std::wstring& t, const std::wstring& c, UINT f) {
    EXPECT_EQ(owner, nullptr);
    text = t;
    caption = c;
    flags = f;
    return IDOK;
  };
  seams::ScopedHooks scope(std::move(hooks));
  EXPECT_EQ(ReportLinkFailure("server:انتهت صلاحية الرابط"), 1);
  EXPECT_EQ(text, L"انتهت صلاحية الرابط");
  EXPECT_EQ(caption, L"Miravell - خطأ");
  EXPECT_EQ(flags,
            static_cast<UINT>(MB_OK | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST | MB_RIGHT | MB_RTLREADING));
  // Exactly "server:" leaves an empty message, still the service's answer.
  EXPECT_EQ(ReportLinkFailure("server:"), 1);
  EXPECT_EQ(text, L"");
}

// --- main windows ----------------------------------------------------------------

// Wine never sends WM_DPICHANGED; a window of this thread can be sent it, with
// the suggested rectangle the system would give.
TEST(MainWindows, FollowAMonitorChangeAndEndTheMessageLoopTheTimerOnlyThePlayers) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  for (const bool player : {true, false}) {
    SCOPED_TRACE(player ? "player" : "start screen");
    RegisterMainWindowClass(instance, player);
    HWND window = ::CreateWindowExW(0, player ? kPlayerWindowClass : kInitWindowClass, L"test", WS_OVERLAPPEDWINDOW, 0,
                                    0, 200, 100, nullptr, nullptr, instance, nullptr);
    ASSERT_NE(window, nullptr);
    if (player) {
      integrity::StartPlayerWork();
      EXPECT_TRUE(integrity::PlayerWorkRunning());
      EXPECT_NE(integrity::PlayerTimerId(), 0u);
      integrity::StartPlayerWork();  // a second start replaces the timer, it does not add one
      EXPECT_NE(integrity::PlayerTimerId(), 0u);
    }
    RECT suggested{60, 20, 60 + 1920, 20 + 1080};
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    RECT after{};
    ::GetWindowRect(window, &after);
    EXPECT_EQ(after.left, 60);
    EXPECT_EQ(after.top, 20);
    EXPECT_EQ(after.right - after.left, 1920);
    EXPECT_EQ(after.bottom - after.top, 1080);

    ::DestroyWindow(window);
    EXPECT_FALSE(integrity::PlayerWorkRunning());
    EXPECT_EQ(integrity::PlayerTimerId(), 0u);
    MSG message{};
    bool quit = false;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      quit |= message.message == WM_QUIT && message.wParam == 0;
    EXPECT_TRUE(quit);
  }
}

TEST(MainWindows, TitleIsProductVersion) { EXPECT_EQ(MainWindowTitle(), L"Miravell V 4.8.0"); }

// --- splash window ---------------------------------------------------------------

TEST(Splash, MissingResourceIsReportedAndLeavesNoSplash) {
  std::vector<std::wstring> boxes;
  seams::Hooks hooks;
  hooks.messageBox = [&](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(flags, static_cast<UINT>(MB_OK));
    boxes.push_back(caption + L": " + text);
    return IDOK;
  };
  seams::ScopedHooks scope(std::move(hooks));
  CreateSplashWindow(::GetModuleHandleW(nullptr));  // the test binary carries no splash image
  EXPECT_EQ(boxes, std::vector<std::wstring>{L"Splash Error: FindResourceW failed. Could not find resource ID 102."});
  EXPECT_EQ(GetWindowState().splashWindow, nullptr);
}

TEST(Splash, BuildsALayeredTopmostToolWindowFromTheExecutablesImage) {
  UniqueModule exe(::LoadLibraryExW(testing_support::BuildProgram(L"Miravell.exe").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(exe);
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  ScopeExit shutdown([&] { Gdiplus::GdiplusShutdown(token); });
  seams::Hooks hooks;
  hooks.messageBox = [](HWND, const std::wstring& text, const std::wstring&, UINT) {
    ADD_FAILURE() << "unexpected box: " << std::string(text.begin(), text.end());
    return IDOK;
  };
  seams::ScopedHooks scope(std::move(hooks));

  CreateSplashWindow(reinterpret_cast<HINSTANCE>(exe.get()));
  HWND splash = GetWindowState().splashWindow;
  ASSERT_NE(splash, nullptr);
  wchar_t className[64] = {};
  ::GetClassNameW(splash, className, 64);
  EXPECT_STREQ(className, kSplashWindowClass);
  const LONG exStyle = ::GetWindowLongW(splash, GWL_EXSTYLE);
  EXPECT_EQ(exStyle & (WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST),
            WS_EX_LAYERED | WS_EX_TOOLWINDOW | WS_EX_TOPMOST);
  RECT rect{};
  ::GetWindowRect(splash, &rect);
  EXPECT_EQ(rect.right - rect.left, 512);
  EXPECT_EQ(rect.bottom - rect.top, 512);
  EXPECT_EQ(rect.left, (::GetSystemMetrics(SM_CXSCREEN) - 512) / 2);
  EXPECT_EQ(rect.top, (::GetSystemMetrics(SM_CYSCREEN) - 512) / 2);
  // Any visible pixel drags it.
  EXPECT_EQ(::SendMessageW(splash, WM_NCHITTEST, 0, MAKELPARAM(rect.left + 256, rect.top + 256)), HTCAPTION);

  ::DestroyWindow(splash);
  EXPECT_EQ(GetWindowState().splashWindow, nullptr);
  // A second splash in the same process reuses the registered class.
  CreateSplashWindow(reinterpret_cast<HINSTANCE>(exe.get()));
  ASSERT_NE(GetWindowState().splashWindow, nullptr);
  ::DestroyWindow(GetWindowState().splashWindow);
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace

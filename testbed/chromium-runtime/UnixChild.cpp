#include "testbed/chromium-runtime/UnixChild.h"

#include <ws2tcpip.h>

#include <charconv>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "common/FailureLog.h"
#include "common/Text.h"

namespace chromium_runtime {
namespace {

// Wine's own exports for crossing between Windows and Unix paths. Both hand
// back a block of the process heap.
using UnixNameFn = char*(CDECL*)(const wchar_t*);
using DosNameFn = wchar_t*(CDECL*)(const char*);

// A directory search, ended with FindClose.
struct FindTraits {
  using pointer = HANDLE;
  static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsValid(pointer value) noexcept { return value != INVALID_HANDLE_VALUE && value != nullptr; }
  static void Close(pointer value) noexcept { ::FindClose(value); }
};
using UniqueFind = UniqueResource<FindTraits>;

struct ProcessHeapFree {
  void operator()(void* block) const noexcept { ::HeapFree(::GetProcessHeap(), 0, block); }
};

template <typename Fn>
Fn WineExport(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(kernel32, name)));
}

// Clears O_NONBLOCK on the child's descriptors 0 and 1. Wine made its socket
// non-blocking and a blocking reader takes EAGAIN for a lost connection; the
// flag belongs to the shared open file, so clearing it in this short-lived
// perl clears it for the program that follows.
constexpr char kMakeBlocking[] =
    "for my $fd (0, 1) { open(my $h, \"+<&=\", $fd) or exit 1; my $flags = fcntl($h, F_GETFL, 0) or exit 1; "
    "fcntl($h, F_SETFL, $flags & ~O_NONBLOCK) or exit 1 }";

// Run by the child after setsid: tells the host its pid (the greeting, ended
// by a NUL like every message on the channel), then becomes the program, so
// the pid said is the program's.
constexpr char kGreetThenExec[] = "printf '%s\\0' \"$$\" >&4 && exec \"$@\"";

// Standard error is redirected first, so even sh's and perl's complaints
// land in the log.
std::string ChildScript(const std::vector<std::string>& argv, const std::string& stderrUnixPath) {
  std::string script = "exec 2>>" + QuoteForShell(stderrUnixPath.empty() ? "/dev/null" : stderrUnixPath) + "\n";
  script += "perl -MFcntl -e " + QuoteForShell(kMakeBlocking) + " || exit 1\n";
  // setsid: the program and its helpers form a group of their own that one
  // signal ends, apart from the Wine process that started them.
  script += "exec setsid /bin/sh -c " + QuoteForShell(kGreetThenExec) + " sh";
  for (const std::string& argument : argv) {
    script += ' ';
    script += QuoteForShell(argument);
  }
  script += " 3<&0 4>&1 </dev/null >/dev/null\n";
  return script;
}

UniqueSocket NewSocket() {
  UniqueSocket socket(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
  if (!socket) throw StartError(HRESULT_FROM_WIN32(::WSAGetLastError()), "WSASocketW failed");
  return socket;
}

bool SameAddress(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_family == b.sin_family && a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

// Waits until the socket can be read; false on timeout or error.
bool WaitReadable(SOCKET socket, std::chrono::milliseconds timeout) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait{static_cast<long>(timeout.count() / 1000), static_cast<long>((timeout.count() % 1000) * 1000)};
  return ::select(0, &readable, nullptr, nullptr, &wait) == 1;
}

// Two connected loopback sockets: ours and the child's. Something else on
// this machine may connect to the listener in between; only the connection
// whose far end is our own socket is taken.
std::pair<UniqueSocket, UniqueSocket> ConnectedPair() {
  UniqueSocket listener = NewSocket();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  int length = sizeof(address);
  if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener.get(), 4) != 0 ||
      ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw StartError(HRESULT_FROM_WIN32(::WSAGetLastError()), "no loopback listener for the channel");
  }
  UniqueSocket ours = NewSocket();
  sockaddr_in ourAddress{};
  length = sizeof(ourAddress);
  if (::connect(ours.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(ours.get(), reinterpret_cast<sockaddr*>(&ourAddress), &length) != 0) {
    throw StartError(HRESULT_FROM_WIN32(::WSAGetLastError()), "cannot connect the channel");
  }
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (!WaitReadable(listener.get(), std::chrono::seconds(5))) break;
    sockaddr_in peer{};
    length = sizeof(peer);
    UniqueSocket theirs(::accept(listener.get(), reinterpret_cast<sockaddr*>(&peer), &length));
    if (theirs && SameAddress(peer, ourAddress)) {
      // Commands and answers are small and wait for each other: no Nagle delay.
      const BOOL noDelay = TRUE;
      for (SOCKET end : {ours.get(), theirs.get()}) {
        MIRAVELL_LOG_LAST_ERROR_IF(
            ::setsockopt(end, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay)) != 0);
      }
      MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
          ::SetHandleInformation(reinterpret_cast<HANDLE>(theirs.get()), HANDLE_FLAG_INHERIT, 0));
      return {std::move(ours), std::move(theirs)};
    }
  }
  throw StartError(HRESULT_FROM_WIN32(ERROR_TIMEOUT), "the channel's own connection never arrived");
}

// The child's greeting: its pid, ended by a NUL.
int ReadGreeting(SOCKET socket, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string text;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitReadable(socket, left)) {
      throw StartError(HRESULT_FROM_WIN32(ERROR_TIMEOUT), "the child did not say its pid in time");
    }
    char c = 0;
    const int got = ::recv(socket, &c, 1, 0);
    if (got != 1) {
      throw StartError(HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE),
                       "the child ended before saying its pid (is perl or setsid missing? see its standard error)");
    }
    if (c == '\0') break;
    if (text.size() > 10 || c < '0' || c > '9') throw StartError(E_UNEXPECTED, "the child's greeting is not a pid");
    text += c;
  }
  int pid = 0;
  std::from_chars(text.data(), text.data() + text.size(), pid);
  if (pid <= 0) throw StartError(E_UNEXPECTED, "the child's greeting is not a pid");
  return pid;
}

// The fields of /proc/<pid>/stat this file needs.
struct ProcessStat {
  char state = '?';
  int group = 0;
  std::uint64_t startTime = 0;
};

std::optional<ProcessStat> ReadStat(int pid) {
  const std::optional<std::string> text = ReadUnixFile("/proc/" + std::to_string(pid) + "/stat");
  if (!text) return std::nullopt;
  // The command name in parentheses may hold spaces and parentheses itself;
  // the fields start after the last ')'.
  const std::size_t close = text->rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::vector<std::string_view> fields;  // fields[0] is field 3, the state
  std::string_view rest = std::string_view(*text).substr(close + 1);
  while (!rest.empty()) {
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    const std::size_t end = rest.find(' ');
    fields.push_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end);
  }
  constexpr std::size_t kGroupField = 5 - 3;
  constexpr std::size_t kStartTimeField = 22 - 3;
  if (fields.size() <= kStartTimeField || fields[0].empty()) return std::nullopt;
  ProcessStat stat;
  stat.state = fields[0][0];
  std::from_chars(fields[kGroupField].data(), fields[kGroupField].data() + fields[kGroupField].size(), stat.group);
  std::from_chars(fields[kStartTimeField].data(), fields[kStartTimeField].data() + fields[kStartTimeField].size(),
                  stat.startTime);
  return stat;
}

bool Alive(const ProcessStat& stat) { return stat.state != 'Z' && stat.state != 'X'; }

// Starts /bin/sh with the script and no standard input or output (Wine then
// gives it a session of its own and closes both).
bool RunDetachedShell(const std::string& script) {
  const std::wstring shell = WindowsPathOf("/bin/sh");
  if (shell.empty()) return false;
  std::wstring commandLine = QuoteWindowsArgument(shell) + L" -c " + QuoteWindowsArgument(Utf8ToWide(script));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = INVALID_HANDLE_VALUE;
  startup.hStdOutput = INVALID_HANDLE_VALUE;
  startup.hStdError = INVALID_HANDLE_VALUE;
  PROCESS_INFORMATION info{};
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::CreateProcessW(shell.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                                         nullptr, nullptr, &startup, &info))) {
    return false;
  }
  // Wine has no handles for a Unix process; Windows would.
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  return true;
}

}  // namespace

WinsockScope::WinsockScope() {
  static const bool startedOnce = [] {
    WSADATA data{};
    return MIRAVELL_LOG_IF_WIN32_ERROR(::WSAStartup(MAKEWORD(2, 2), &data)) == 0;
  }();
  started_ = startedOnce;
}

std::string UnixPathOf(const std::wstring& windowsPath) {
  const auto toUnix = WineExport<UnixNameFn>("wine_get_unix_file_name");
  if (toUnix == nullptr || windowsPath.empty()) return {};
  const std::unique_ptr<char, ProcessHeapFree> unixPath(toUnix(windowsPath.c_str()));
  return unixPath ? std::string(unixPath.get()) : std::string();
}

std::wstring WindowsPathOf(const std::string& unixPath) {
  const auto toDos = WineExport<DosNameFn>("wine_get_dos_file_name");
  if (toDos == nullptr || unixPath.empty()) return {};
  const std::unique_ptr<wchar_t, ProcessHeapFree> dosPath(toDos(unixPath.c_str()));
  return dosPath ? std::wstring(dosPath.get()) : std::wstring();
}

std::optional<std::string> ReadUnixFile(const std::string& unixPath) {
  const std::wstring path = WindowsPathOf(unixPath);
  if (path.empty()) return std::nullopt;
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  return text;
}

std::string QuoteForShell(std::string_view text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

std::wstring QuoteWindowsArgument(std::wstring_view argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
    return std::wstring(argument);
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there they are doubled, and the
    // quote itself escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  // The closing quote follows: trailing backslashes are doubled too.
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

// Whether this process is a Windows (GUI) program, not a console one.
bool IsWindowsProgram() {
  const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}

UnixChild StartUnixChild(const std::vector<std::string>& argv, const std::string& stderrUnixPath,
                         std::chrono::milliseconds timeout) {
  if (argv.empty()) throw StartError(E_INVALIDARG, "no program to start");
  const std::wstring shell = WindowsPathOf("/bin/sh");
  if (shell.empty()) throw StartError(HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), "not running under Wine");
  UnixChild child;
  if (!child.channel.winsock.started()) throw StartError(E_FAIL, "WSAStartup failed");
  auto [ours, theirs] = ConnectedPair();

  std::wstring commandLine =
      QuoteWindowsArgument(shell) + L" -c " + QuoteWindowsArgument(Utf8ToWide(ChildScript(argv, stderrUnixPath)));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  // Wine hands a Unix child the descriptors behind these two handles, found
  // in this process's table: they need not (and must not) be inheritable,
  // or every Windows program started meanwhile would hold the channel open.
  startup.hStdInput = reinterpret_cast<HANDLE>(theirs.get());
  startup.hStdOutput = reinterpret_cast<HANDLE>(theirs.get());
  startup.hStdError = nullptr;
  PROCESS_INFORMATION info{};
  // Wine closes a Unix child's 0 and 1 when it is to get a console of its
  // own: always with CREATE_NO_WINDOW, and with no flag at all when this
  // process has no console (a Windows program, the player among them).
  // DETACHED_PROCESS asks for no console, so a Windows program's child keeps
  // them; a console program's child keeps them without a flag (and was seen
  // to lose them with this one).
  const DWORD flags = IsWindowsProgram() ? DETACHED_PROCESS : 0;
  if (!::CreateProcessW(shell.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &info)) {
    throw StartError(HRESULT_FROM_WIN32(::GetLastError()), "CreateProcessW cannot start /bin/sh");
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  theirs.reset();

  child.process.pid = ReadGreeting(ours.get(), timeout);
  const std::optional<ProcessStat> stat = ReadStat(child.process.pid);
  if (!stat) throw StartError(HRESULT_FROM_WIN32(ERROR_NOT_FOUND), "the child's pid has no /proc entry");
  child.process.startTime = stat->startTime;
  child.channel.socket = std::move(ours);
  return child;
}

bool IsRunning(const UnixProcessId& process) {
  const std::optional<ProcessStat> stat = ReadStat(process.pid);
  return stat && stat->startTime == process.startTime && Alive(*stat);
}

int RunningInGroup(const UnixProcessId& leader) {
  const std::wstring proc = WindowsPathOf("/proc");
  if (proc.empty()) return 0;
  WIN32_FIND_DATAW entry{};
  const UniqueFind search(::FindFirstFileW((proc + L"\\*").c_str(), &entry));
  // Without the list, the leader alone is better than a group taken for gone.
  if (!search) return IsRunning(leader) ? 1 : 0;
  int running = 0;
  do {
    int pid = 0;
    const std::string name = WideToUtf8(entry.cFileName);
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (error != std::errc() || end != name.data() + name.size()) continue;
    const std::optional<ProcessStat> stat = ReadStat(pid);
    // Helpers start after their leader; an older process in a group of the
    // same number belongs to someone else.
    if (stat && stat->group == leader.pid && stat->startTime >= leader.startTime && Alive(*stat)) ++running;
  } while (::FindNextFileW(search.get(), &entry));
  return running;
}

bool WaitUntilGroupGone(const UnixProcessId& leader, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (RunningInGroup(leader) == 0) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

bool KillGroup(const UnixProcessId& leader) {
  if (leader.pid <= 1) return false;
  return RunDetachedShell("kill -KILL -" + std::to_string(leader.pid));
}

}  // namespace chromium_runtime

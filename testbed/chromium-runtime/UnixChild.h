#pragma once
// Unix programs started from inside a Wine process, with a two-way byte
// channel on their descriptors 3 (they read) and 4 (they write), and watched
// and ended from the Windows side. Development machines only: everything here
// leans on Wine, and fails cleanly (a StartError) where there is none.
//
// Why the channel is a loopback TCP socket and not an anonymous pipe: Wine
// gives a Unix child only Unix descriptors for its standard input and output,
// and its pipes live inside wineserver with no descriptor to give, so a child
// handed one sees end of file at once. A Winsock socket is a real Unix socket.
// Wine keeps its sockets non-blocking, which a program reading with plain
// read() takes for a broken connection, so the child side is switched back to
// blocking (by Debian's perl, which is Essential) before the program starts.
#include <winsock2.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/Handles.h"

namespace chromium_runtime {

struct SocketTraits {
  using pointer = SOCKET;
  static pointer Invalid() noexcept { return INVALID_SOCKET; }
  static bool IsValid(pointer value) noexcept { return value != INVALID_SOCKET; }
  static void Close(pointer value) noexcept { ::closesocket(value); }
};
using UniqueSocket = UniqueResource<SocketTraits>;

// Winsock, started once for the whole process and never cleaned up. Wine
// keeps its start count without a lock: a cleanup on one thread (a dead
// browser's channel let go) racing a start on another (the next browser's)
// can leave the count at zero, which fails every later socket call with
// WSANOTINITIALISED, and a cleanup that reaches zero closes every socket the
// process holds. A count that only ever goes up once cannot race.
class WinsockScope {
 public:
  WinsockScope();
  [[nodiscard]] bool started() const noexcept { return started_; }

 private:
  bool started_ = false;
};

// The host's end of the channel to a child. What is sent on it arrives on the
// child's descriptor 3, what the child writes to its 4 arrives here; closing
// it is end of file on the child's 3.
struct ChildChannel {
  WinsockScope winsock;
  UniqueSocket socket;
};

// A Unix process by its pid and its start time (clock ticks after boot, from
// /proc), so a recycled pid is never taken for it.
struct UnixProcessId {
  int pid = 0;
  std::uint64_t startTime = 0;
};

struct UnixChild {
  UnixProcessId process;  // the leader of its own process group
  ChildChannel channel;
};

// Why a start failed, with an HRESULT for callers that answer in COM terms.
class StartError : public std::runtime_error {
 public:
  StartError(HRESULT code, const std::string& what) : std::runtime_error(what), code_(code) {}
  [[nodiscard]] HRESULT code() const noexcept { return code_; }

 private:
  HRESULT code_;
};

// The Unix path Wine maps a Windows path to (the folder itself may be
// missing, its parent not); empty when there is no Wine or no such path.
std::string UnixPathOf(const std::wstring& windowsPath);

// The Windows path of a Unix path (under drive Z:, or \\?\unix\...); empty
// when there is no Wine.
std::wstring WindowsPathOf(const std::string& unixPath);

// A whole file of the Unix side, read through Wine; nothing when it cannot
// be opened. The open is Wine's: for /proc/self that is wineserver, which
// runs as the same user.
std::optional<std::string> ReadUnixFile(const std::string& unixPath);

// One word for sh, whatever the text holds.
std::string QuoteForShell(std::string_view text);

// One argument by the rules CommandLineToArgvW and Wine's Unix launcher share.
std::wstring QuoteWindowsArgument(std::wstring_view argument);

// Starts argv (argv[0] a Unix path) in a session of its own with the channel
// on its 3 and 4, /dev/null on 0 and 1 and its standard error appended to
// stderrUnixPath (discarded when empty). Returns once the child has said its
// pid, just before it becomes argv[0]. Throws StartError.
UnixChild StartUnixChild(const std::vector<std::string>& argv, const std::string& stderrUnixPath,
                         std::chrono::milliseconds timeout);

// Whether the process still runs; a zombie does not (a container's init may
// never reap).
[[nodiscard]] bool IsRunning(const UnixProcessId& process);

// How many processes of the group the leader heads still run, the leader
// included (Chromium's helpers stay in its group).
[[nodiscard]] int RunningInGroup(const UnixProcessId& leader);

// Waits until no process of the group runs; false when the timeout passed first.
[[nodiscard]] bool WaitUntilGroupGone(const UnixProcessId& leader, std::chrono::milliseconds timeout);

// SIGKILL to the whole group, through sh (there is no handle to terminate).
// True when the signal was handed to sh, not when the group is gone.
bool KillGroup(const UnixProcessId& leader);

}  // namespace chromium_runtime

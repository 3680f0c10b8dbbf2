#pragma once
// A client of the DevTools protocol over the channel to a browser started
// with --remote-debugging-pipe: JSON messages, each ended by a NUL.
//
// A reader thread takes everything the browser says. The answer to Send goes
// straight to the thread waiting for it; events and the completions of
// SendAsync wait in a queue until the owner's thread calls Pump, so the COM
// layer above can run them on its UI thread: the wake-up hook (or the ready
// event) tells that thread there is something to pump.
#include <winsock2.h>
#include <windows.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "common/Handles.h"
#include "testbed/chromium-runtime/UnixChild.h"

namespace chromium_runtime {

enum class CdpStatus { kOk, kProtocolError, kTimedOut, kDisconnected };

struct CdpReply {
  CdpStatus status = CdpStatus::kDisconnected;
  // kOk: the command's result; kProtocolError: the browser's error object
  // ({"code": ..., "message": ...}); otherwise null.
  nlohmann::json value;
  [[nodiscard]] bool ok() const noexcept { return status == CdpStatus::kOk; }
};

struct CdpEvent {
  std::string method;
  nlohmann::json params;
  std::string sessionId;  // empty for the browser's own events
};

inline constexpr std::chrono::milliseconds kDefaultCdpTimeout{10000};

class CdpClient {
 public:
  using EventHandler = std::function<void(const CdpEvent&)>;
  using Completion = std::function<void(const CdpReply&)>;

  // Takes the channel and starts reading it.
  explicit CdpClient(ChildChannel channel);
  // Disconnects; completions still queued are dropped unrun.
  ~CdpClient();
  CdpClient(const CdpClient&) = delete;
  CdpClient& operator=(const CdpClient&) = delete;

  // Sends a command (to a session when sessionId is given) and waits for its
  // answer until the timeout. Any thread.
  CdpReply Send(std::string_view method, const nlohmann::json& params = nlohmann::json::object(),
                std::string_view sessionId = {}, std::chrono::milliseconds timeout = kDefaultCdpTimeout);

  // Sends a command without waiting; its answer, the timeout or the loss of
  // the channel reaches done in Pump. Any thread.
  void SendAsync(std::string_view method, const nlohmann::json& params, std::string_view sessionId,
                 std::chrono::milliseconds timeout, Completion done);

  // What Pump hands each event to. Owner's thread.
  void SetEventHandler(EventHandler handler);

  // What Pump runs once the channel has closed, whoever closed it. Owner's thread.
  void SetDisconnectHandler(std::function<void()> handler);

  // Called on the reader thread each time the queue stops being empty; it
  // must only wake the owner (PostMessage, SetEvent) and never throw.
  void SetWakeUp(std::function<void()> wakeUp);

  // Manual-reset event, signalled while the queue holds something (for
  // MsgWaitForMultipleObjects).
  [[nodiscard]] HANDLE ReadyEvent() const noexcept { return ready_.get(); }

  // Runs the queued events and completions on the calling thread, in the
  // order they arrived; returns how many ran. A handler that throws is logged
  // and the rest still run.
  std::size_t Pump();

  // Whether the channel is still open.
  [[nodiscard]] bool Connected() const noexcept { return connected_; }

  // Waits until the channel closes (the browser closes it as it exits).
  [[nodiscard]] bool WaitForDisconnect(std::chrono::milliseconds timeout) const;

  // Closes the channel, which ends a browser on a pipe, stops the reader and
  // fails every pending command with kDisconnected.
  void Disconnect();

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    Clock::time_point deadline;
    Completion deliver;  // runs on whichever thread settles the command
  };

  void Issue(std::string_view method, const nlohmann::json& params, std::string_view sessionId,
             std::chrono::milliseconds timeout, Completion deliver);
  [[nodiscard]] bool Write(const std::string& frame, Clock::time_point deadline);
  void ReaderLoop() noexcept;
  [[nodiscard]] bool ReadAvailable(std::string& buffer);
  void HandleMessage(std::string_view text);
  void Settle(int id, const CdpReply& reply);
  void ExpireOverdue();
  [[nodiscard]] DWORD MillisecondsToNextDeadline();
  void FailEverything();
  void Enqueue(std::function<void()> item);

  ChildChannel channel_;
  UniqueHandle stop_;         // asks the reader to end
  UniqueHandle socketEvent_;  // the channel's FD_READ and FD_CLOSE
  UniqueHandle reschedule_;   // a new deadline the reader must wait for
  UniqueHandle ready_;        // the queue holds something
  UniqueHandle closed_;       // the reader has ended
  std::atomic<bool> connected_{true};

  std::mutex mutex_;  // guards everything below except writeMutex_'s own
  std::map<int, Pending> pending_;
  int nextId_ = 1;
  std::deque<std::function<void()>> queue_;
  std::function<void()> wakeUp_;

  std::mutex writeMutex_;                    // one frame at a time; the socket's last user at Disconnect
  EventHandler eventHandler_;                // owner's thread only
  std::function<void()> disconnectHandler_;  // owner's thread only
  std::thread reader_;
};

}  // namespace chromium_runtime

#include "testbed/chromium-runtime/CdpClient.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "common/FailureLog.h"
#include "common/Json.h"

namespace chromium_runtime {
namespace {

UniqueHandle NewEvent(bool manualReset) {
  UniqueHandle event(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
  if (!event) throw StartError(HRESULT_FROM_WIN32(::GetLastError()), "CreateEventW failed");
  return event;
}

// Waits until the socket takes more bytes or the deadline passes.
bool WaitWritable(SOCKET socket, std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (left <= 0) return false;
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(socket, &writable);
  timeval wait{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
  return ::select(0, nullptr, &writable, nullptr, &wait) == 1;
}

}  // namespace

CdpClient::CdpClient(ChildChannel channel)
    : channel_(std::move(channel)),
      stop_(NewEvent(true)),
      socketEvent_(NewEvent(false)),
      reschedule_(NewEvent(false)),
      ready_(NewEvent(true)),
      closed_(NewEvent(true)) {
  // The socket turns non-blocking here: the reader waits on the event, and
  // Write waits with select when the browser is slow to take a frame.
  if (::WSAEventSelect(channel_.socket.get(), socketEvent_.get(), FD_READ | FD_CLOSE) != 0) {
    throw StartError(HRESULT_FROM_WIN32(::WSAGetLastError()), "WSAEventSelect on the channel failed");
  }
  reader_ = std::thread([this] { ReaderLoop(); });
}

CdpClient::~CdpClient() { Disconnect(); }

CdpReply CdpClient::Send(std::string_view method, const nlohmann::json& params, std::string_view sessionId,
                         std::chrono::milliseconds timeout) {
  struct Waiter {
    std::mutex mutex;
    std::condition_variable settled;
    std::optional<CdpReply> reply;
  };
  auto waiter = std::make_shared<Waiter>();
  Issue(method, params, sessionId, timeout, [waiter](const CdpReply& reply) {
    const std::lock_guard lock(waiter->mutex);
    waiter->reply = reply;
    waiter->settled.notify_all();
  });
  // Every command is settled, by its answer, by the reader at its deadline
  // or when the channel goes; no second clock is needed here.
  std::unique_lock lock(waiter->mutex);
  waiter->settled.wait(lock, [&] { return waiter->reply.has_value(); });
  return std::move(*waiter->reply);
}

void CdpClient::SendAsync(std::string_view method, const nlohmann::json& params, std::string_view sessionId,
                          std::chrono::milliseconds timeout, Completion done) {
  Issue(method, params, sessionId, timeout,
        [this, done = std::move(done)](const CdpReply& reply) { Enqueue([done, reply] { done(reply); }); });
}

void CdpClient::Issue(std::string_view method, const nlohmann::json& params, std::string_view sessionId,
                      std::chrono::milliseconds timeout, Completion deliver) {
  const Clock::time_point deadline = Clock::now() + timeout;
  int id = 0;
  {
    const std::lock_guard lock(mutex_);
    if (connected_) {
      id = nextId_++;
      pending_.emplace(id, Pending{deadline, deliver});
    }
  }
  if (id == 0) {
    deliver(CdpReply{CdpStatus::kDisconnected, nullptr});
    return;
  }
  ::SetEvent(reschedule_.get());

  nlohmann::json message = {{"id", id}, {"method", std::string(method)}, {"params", params}};
  if (!sessionId.empty()) message["sessionId"] = std::string(sessionId);
  // Text that is not UTF-8 is replaced rather than thrown over.
  const std::string frame = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\0';
  if (!Write(frame, deadline)) {
    // Part of a frame may have gone out, so nothing more can be understood
    // on this channel: the browser is told, and the reader ends, settling
    // every command.
    {
      const std::lock_guard lock(writeMutex_);
      if (channel_.socket) MIRAVELL_LOG_LAST_ERROR_IF(::shutdown(channel_.socket.get(), SD_BOTH) != 0);
    }
    ::SetEvent(stop_.get());
  }
}

bool CdpClient::Write(const std::string& frame, Clock::time_point deadline) {
  const std::lock_guard lock(writeMutex_);
  const SOCKET socket = channel_.socket.get();
  if (socket == INVALID_SOCKET) return false;
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(frame.size() - sent, INT_MAX));
    const int wrote = ::send(socket, frame.data() + sent, chunk, 0);
    if (wrote > 0) {
      sent += static_cast<std::size_t>(wrote);
    } else if (::WSAGetLastError() != WSAEWOULDBLOCK || !WaitWritable(socket, deadline)) {
      failure_log::LogFailure("send(frame to the browser)", static_cast<unsigned long>(::WSAGetLastError()), __FILE__,
                              __LINE__);
      return false;
    }
  }
  return true;
}

void CdpClient::SetEventHandler(EventHandler handler) { eventHandler_ = std::move(handler); }

void CdpClient::SetDisconnectHandler(std::function<void()> handler) { disconnectHandler_ = std::move(handler); }

void CdpClient::SetWakeUp(std::function<void()> wakeUp) {
  const std::lock_guard lock(mutex_);
  wakeUp_ = std::move(wakeUp);
}

std::size_t CdpClient::Pump() {
  std::deque<std::function<void()>> items;
  {
    const std::lock_guard lock(mutex_);
    items.swap(queue_);
    ::ResetEvent(ready_.get());
  }
  for (const auto& item : items) {
    try {
      item();
    } catch (...) {
      MIRAVELL_LOG_CAUGHT_EXCEPTION();
    }
  }
  return items.size();
}

bool CdpClient::WaitForDisconnect(std::chrono::milliseconds timeout) const {
  const DWORD wait = static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INFINITE - 1));
  return ::WaitForSingleObject(closed_.get(), wait) == WAIT_OBJECT_0;
}

void CdpClient::Disconnect() {
  if (reader_.joinable()) {
    ::SetEvent(stop_.get());
    reader_.join();
  }
  const std::lock_guard lock(writeMutex_);
  channel_.socket.reset();
}

void CdpClient::ReaderLoop() noexcept {
  try {
    std::string buffer;
    const HANDLE waits[] = {stop_.get(), socketEvent_.get(), reschedule_.get()};
    for (bool open = true; open;) {
      const DWORD woke = ::WaitForMultipleObjects(3, waits, FALSE, MillisecondsToNextDeadline());
      if (woke == WAIT_OBJECT_0) break;
      if (woke == WAIT_FAILED) {
        MIRAVELL_LOG_LAST_ERROR_IF(woke == WAIT_FAILED);
        break;
      }
      if (woke == WAIT_OBJECT_0 + 1) {
        WSANETWORKEVENTS happened{};
        MIRAVELL_LOG_LAST_ERROR_IF(::WSAEnumNetworkEvents(channel_.socket.get(), socketEvent_.get(), &happened) != 0);
        open = ReadAvailable(buffer);
      }
      ExpireOverdue();
    }
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
  }
  FailEverything();
  // After the failed commands' completions, so the owner sees them first.
  Enqueue([this] {
    if (disconnectHandler_) disconnectHandler_();
  });
  ::SetEvent(closed_.get());
}

bool CdpClient::ReadAvailable(std::string& buffer) {
  std::vector<char> chunk(64 * 1024);
  for (;;) {
    const int got = ::recv(channel_.socket.get(), chunk.data(), static_cast<int>(chunk.size()), 0);
    if (got == 0) return false;  // the browser closed its end
    if (got < 0) {
      const int error = ::WSAGetLastError();
      if (error == WSAEWOULDBLOCK) return true;
      // A reset or a shutdown by Write: either way the channel is over.
      if (error != WSAECONNRESET && error != WSAESHUTDOWN && error != WSAECONNABORTED) {
        failure_log::LogFailure("recv(the browser's channel)", static_cast<unsigned long>(error), __FILE__, __LINE__);
      }
      return false;
    }
    const std::size_t scanFrom = buffer.size();
    buffer.append(chunk.data(), static_cast<std::size_t>(got));
    std::size_t start = 0;
    for (std::size_t end = buffer.find('\0', scanFrom); end != std::string::npos; end = buffer.find('\0', start)) {
      HandleMessage(std::string_view(buffer).substr(start, end - start));
      start = end + 1;
    }
    buffer.erase(0, start);
  }
}

void CdpClient::HandleMessage(std::string_view text) {
  const std::optional<nlohmann::json> message = TryParseJson(text);
  if (!message || !message->is_object()) {
    failure_log::LogFailure("TryParseJson(message from the browser)", ERROR_INVALID_DATA, __FILE__, __LINE__);
    return;
  }
  const auto id = message->find("id");
  if (id != message->end() && id->is_number_integer()) {
    const auto error = message->find("error");
    if (error != message->end()) {
      Settle(id->get<int>(), CdpReply{CdpStatus::kProtocolError, *error});
    } else {
      Settle(id->get<int>(), CdpReply{CdpStatus::kOk, message->value("result", nlohmann::json::object())});
    }
    return;
  }
  const auto method = message->find("method");
  if (method == message->end() || !method->is_string()) return;
  CdpEvent event{method->get<std::string>(), message->value("params", nlohmann::json::object()), {}};
  const auto session = message->find("sessionId");
  if (session != message->end() && session->is_string()) event.sessionId = session->get<std::string>();
  Enqueue([this, event = std::move(event)] {
    if (eventHandler_) eventHandler_(event);
  });
}

void CdpClient::Settle(int id, const CdpReply& reply) {
  Completion deliver;
  {
    const std::lock_guard lock(mutex_);
    const auto found = pending_.find(id);
    // An answer after its deadline was settled already.
    if (found == pending_.end()) return;
    deliver = std::move(found->second.deliver);
    pending_.erase(found);
  }
  deliver(reply);
}

void CdpClient::ExpireOverdue() {
  std::vector<Completion> overdue;
  {
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.deadline <= now) {
        overdue.push_back(std::move(it->second.deliver));
        it = pending_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const Completion& deliver : overdue) deliver(CdpReply{CdpStatus::kTimedOut, nullptr});
}

DWORD CdpClient::MillisecondsToNextDeadline() {
  const std::lock_guard lock(mutex_);
  if (pending_.empty()) return INFINITE;
  Clock::time_point next = Clock::time_point::max();
  for (const auto& [id, pending] : pending_) next = std::min(next, pending.deadline);
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
  // Rounded up, so the reader never wakes just before a deadline and sleeps again.
  return static_cast<DWORD>(std::clamp<long long>(left + 1, 0, INFINITE - 1));
}

void CdpClient::FailEverything() {
  std::map<int, Pending> pending;
  {
    const std::lock_guard lock(mutex_);
    connected_ = false;
    pending.swap(pending_);
  }
  for (auto& [id, entry] : pending) entry.deliver(CdpReply{CdpStatus::kDisconnected, nullptr});
}

void CdpClient::Enqueue(std::function<void()> item) {
  std::function<void()> wakeUp;
  {
    const std::lock_guard lock(mutex_);
    if (queue_.empty()) wakeUp = wakeUp_;
    queue_.push_back(std::move(item));
    ::SetEvent(ready_.get());
  }
  if (wakeUp) wakeUp();
}

}  // namespace chromium_runtime

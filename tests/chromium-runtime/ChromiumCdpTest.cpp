// Unix programs started from inside Wine: arguments reach the Unix side intact.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "tools/chromium-runtime/UnixChild.h"

namespace {

using std::chrono::milliseconds;

TEST(UnixChildTest, ArgumentsReachTheUnixSideIntact) {
  // Caller-given text crosses Windows' command-line rules (Wine's Unix
  // launcher) and then sh; none of it may be split, joined or run.
  const std::vector<std::string> hostile = {
      "plain",
      "",
      "two words",
      "it's",
      "say \"hi\"",
      "trailing\\",
      "\\\"",
      "C:\\Program Files\\x\\\\",
      "$(touch /tmp/miravell-injected) `id` $HOME ; exit 7 & | > * ~",
      "line\nbreak\ttab",
      "\xC3\xBC\xC3\xB1\xC3\xAF \xE2\x98\x83",
      "--host-resolver-rules=MAP * 127.0.0.1, EXCLUDE localhost",
  };
  std::vector<std::string> argv = {"/bin/sh", "-c", "printf '%s\\0' \"$@\" >&4", "sh"};
  argv.insert(argv.end(), hostile.begin(), hostile.end());

  chromium_runtime::UnixChild child = chromium_runtime::StartUnixChild(argv, {}, milliseconds(10000));
  const DWORD tenSeconds = 10000;
  ASSERT_EQ(::setsockopt(child.channel.socket.get(), SOL_SOCKET, SO_RCVTIMEO,
                         reinterpret_cast<const char*>(&tenSeconds), sizeof(tenSeconds)),
            0);
  std::string received;
  std::array<char, 4096> chunk{};
  for (int got; (got = ::recv(child.channel.socket.get(), chunk.data(), static_cast<int>(chunk.size()), 0)) > 0;) {
    received.append(chunk.data(), static_cast<std::size_t>(got));
  }
  std::vector<std::string> arrived;
  for (std::size_t start = 0, end; (end = received.find('\0', start)) != std::string::npos; start = end + 1) {
    arrived.push_back(received.substr(start, end - start));
  }
  EXPECT_EQ(arrived, hostile);
  EXPECT_TRUE(chromium_runtime::WaitUntilGroupGone(child.process, milliseconds(5000)));
}

}  // namespace

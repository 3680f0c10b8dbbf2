// The host name the browser's pin check runs for.
#include <gtest/gtest.h>

#include "player/RequestFilter.h"

namespace {

TEST(RequestFilter, PinCheckRunsForTheHostActuallyContacted) {
  EXPECT_EQ(PinCheckServerName(L"https://cdn.example.com/a.mp4"), L"cdn.example.com");
  EXPECT_EQ(PinCheckServerName(L"https://cdn.example.com:8443/a"), L"cdn.example.com");
  EXPECT_EQ(PinCheckServerName(L"https://cdn.example.com"), L"cdn.example.com");
  // User info is not the host: the pins of the real host are checked.
  EXPECT_EQ(PinCheckServerName(L"https://desktop.miravell.localhost@evil.example/x"), L"evil.example");
  EXPECT_EQ(PinCheckServerName(L"https://u:p@desktop.miravell.localhost:443/"), L"desktop.miravell.localhost");
  EXPECT_EQ(PinCheckServerName(L"https://evil.example?@desktop.miravell.localhost"), L"evil.example");
  // "host." is host: its pins must not be skipped for the dot.
  EXPECT_EQ(PinCheckServerName(L"https://desktop.miravell.localhost.:443/x"), L"desktop.miravell.localhost");
  // Only HTTPS is checked (the caller lower-cases the address first).
  EXPECT_EQ(PinCheckServerName(L"http://cdn.example.com/"), L"");
  EXPECT_EQ(PinCheckServerName(L"https:/"), L"");
  EXPECT_EQ(PinCheckServerName(L"data:text/html,x"), L"");
}

}  // namespace

// Which hosts and addresses count as the service's own, in the forms links
// and version answers can take. "{d}" stands for a service domain of the
// build, so the same table holds for both profiles.
#include <gtest/gtest.h>

#include <string>

#include "common/Config.h"
#include "common/Text.h"
#include "net/ServiceHosts.h"

namespace {

std::wstring Fill(std::wstring text, const std::wstring& domain) {
  for (std::size_t at; (at = text.find(L"{d}")) != std::wstring::npos;) text.replace(at, 3, domain);
  for (std::size_t at; (at = text.find(L"{D}")) != std::wstring::npos;) {
    std::wstring upper = domain;
    for (auto& c : upper) c = static_cast<wchar_t>(::towupper(c));
    text.replace(at, 3, upper);
  }
  return text;
}

struct Case {
  const wchar_t* text;
  bool accepted;
};

TEST(ServiceHosts, HostsAreTheDomainsAndTheirSubdomainsByWholeLabels) {
  const Case cases[] = {
      {L"{d}", true},
      {L"desktop.{d}", true},
      {L"a.b.{D}", true},
      {L"{d}.", true},  // one trailing dot is the same name
      {L"{d}..", false},
      {L"x{d}", false},              // ends in the text, not at a label
      {L"{d}.evil.example", false},  // contains it
      {L"{d}-evil.example", false},
      {L"evil.example", false},
      {L"", false},
      {L".", false},
  };
  for (const auto id : {config::Id::ServiceDomain1, config::Id::ServiceDomain2, config::Id::ServiceDomain3,
                        config::Id::ServiceDomain4}) {
    const std::wstring domain = config::Wide(id);
    for (const Case& c : cases) {
      const std::wstring host = Fill(c.text, domain);
      EXPECT_EQ(IsServiceHost(host), c.accepted) << WideToUtf8(host);
    }
  }
}

TEST(ServiceHosts, AddressesMustBeHttpsOnAServiceHostAndReadTheSameEverywhere) {
  const Case cases[] = {
      {L"https://{d}", true},
      {L"HTTPS://files.{d}/desktop/Miravell.exe?v=4.9#x", true},
      {L"https://{d}:8443/a", true},
      {L"https://{d}./", true},
      {L"https://{d}?q=evil.example", true},
      {L"http://{d}", false},  // secrets and downloads never in the clear
      {L"//{d}/x", false},
      {L"{d}", false},
      {L"https://", false},
      {L"https://evil.example", false},
      {L"https://{d}.evil.example/", false},
      {L"https://x{d}/", false},
      {L"https://evil.example/{d}", false},
      {L"https://evil.example?{d}", false},
      {L"https://evil.example#.{d}", false},
      {L"https://{d}@evil.example/", false},    // the host is after the user part
      {L"https://evil.example@{d}/", false},    // no user part at all
      {L"https://{d}\\@evil.example/", false},  // a browser reads "\" as "/"
      {L"https://{d}%2F@evil.example/", false},
      {L"https://{d}:/", false},
      {L"https://{d}:0/", false},
      {L"https://{d}:65536/", false},
      {L"https://{d}:443:443/", false},
      {L"https://.{d}/", false},
      {L"https://a..{d}/", false},
      {L"https://[::1]/", false},
      {L"https:// {d}/", false},
      {L"https://{d}/a b.exe", false},  // a blank splits the browser's command line
      {L"https://{d}/a\".exe", false},
      {L"https://{d}\t.evil.example/", false},
      {L"https://{d}/\u00e9", false},
      {L"file:///C:/Windows/System32/calc.exe", false},
      {L"", false},
  };
  for (const auto id : {config::Id::ServiceDomain1, config::Id::ServiceDomain4}) {
    const std::wstring domain = config::Wide(id);
    for (const Case& c : cases) {
      const std::wstring address = Fill(c.text, domain);
      EXPECT_EQ(IsServiceAddress(address), c.accepted) << WideToUtf8(address);
    }
  }
}

}  // namespace

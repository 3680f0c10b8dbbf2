#include "net/Pinning.h"

#include <bcrypt.h>
#include <wincrypt.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <set>
#include <thread>

#include "common/Base64.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Json.h"
#include "common/Log.h"
#include "common/Seams.h"
#include "common/Sha256.h"
#include "common/Text.h"
#include "net/RunAhead.h"
#include "net/WinHttpRequest.h"

namespace {

// Set once at start-up, before any connection; read by any thread.
std::atomic<PinMismatchAction> pinMismatchAction{nullptr};

constexpr DWORD kPreflightTimeout = 3000;
constexpr wchar_t kPreflightAgent[] = L"QuellaPinCheck/1.0";

// Never destroyed, as the checks below: threads that check hosts ahead of
// need may read it while the process ends.
struct PinTable {
  std::shared_mutex lock;
  std::vector<PinEntry> entries;
};

PinTable& Table() {
  static PinTable* const table = new PinTable();
  return *table;
}

// What the browser's pre-flight knows of hosts. Never destroyed: a check
// run ahead on its own thread may still finish while the process ends.
struct BrowserHostChecks {
  std::shared_mutex lock;
  std::set<std::wstring> passed;
  // Hosts whose check failed. The program is ending by then; until it has,
  // every further request to them is refused at once instead of blocking the
  // browser's thread on the network again.
  std::set<std::wstring> refused;
  // Hosts that could not be reached: blocked too, without an alert, until
  // the student asks to try again (ForgetUnreachableHosts).
  std::set<std::wstring> unreachable;
  std::map<std::wstring, std::shared_future<void>> warming;  // checks run ahead, done or not
};

BrowserHostChecks& Checks() {
  static BrowserHostChecks* const checks = new BrowserHostChecks();
  return *checks;
}

// A session for the pre-flight that takes the way the browser takes. The
// browser goes through the user's proxy settings, and a TLS-inspecting proxy
// shows it a certificate of its own: the check must meet that certificate,
// not the one a direct connection would meet. A manual proxy is named as the
// settings give it, with its bypass list; automatic detection and
// configuration scripts are left to the system's own resolution.
UniqueInternet OpenSessionOnTheBrowsersWay() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
  if (MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::WinHttpGetIEProxyConfigForCurrentUser(&settings))) {
    const UniqueGlobal autoConfigUrl(settings.lpszAutoConfigUrl);
    const UniqueGlobal proxy(settings.lpszProxy);
    const UniqueGlobal bypass(settings.lpszProxyBypass);
    const bool automatic = settings.fAutoDetect || settings.lpszAutoConfigUrl != nullptr;
    if (!automatic && settings.lpszProxy != nullptr && *settings.lpszProxy != L'\0') {
      return UniqueInternet(MIRAVELL_LOG_LAST_ERROR_IF_NULL(
          ::WinHttpOpen(kPreflightAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, settings.lpszProxy,
                        settings.lpszProxyBypass != nullptr ? settings.lpszProxyBypass : WINHTTP_NO_PROXY_BYPASS, 0)));
    }
  }
  return UniqueInternet(MIRAVELL_LOG_LAST_ERROR_IF_NULL(::WinHttpOpen(
      kPreflightAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)));
}

std::string Sha256Base64(const BYTE* data, DWORD size) {
  const HashResult hash = Sha256(std::span<const std::uint8_t>(data, size));
  return hash.failure == HashFailure::None ? Base64Encode(hash.digest) : std::string();
}

// Whether the leaf is valid for the host name (dates and the root's trust
// are not judged here: the pins decide trust, and dates are tolerated).
bool LeafMatchesHost(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks =
      SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
  std::wstring serverName = host;
  ssl.pwszServerName = serverName.data();
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof(policy);
  policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS | CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG |
                   CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof(status);
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) return false;
  return status.dwError == 0;
}

}  // namespace

void SetPinTable(std::vector<PinEntry> entries) {
  PinTable& table = Table();
  std::unique_lock<std::shared_mutex> guard(table.lock);
  table.entries = std::move(entries);
}

std::optional<PinEntry> FindPinEntry(const std::wstring& host) {
  const std::wstring wanted = ToLowerWide(WithoutTrailingDot(host));
  PinTable& table = Table();
  std::shared_lock<std::shared_mutex> guard(table.lock);
  const PinEntry* best = nullptr;
  std::size_t bestLength = 0;
  for (const PinEntry& entry : table.entries) {
    const std::wstring scope = ToLowerWide(entry.host);
    if (scope == wanted) return entry;
    if (wanted.ends_with(L"." + scope) && (best == nullptr || scope.size() > bestLength)) {
      best = &entry;
      bestLength = scope.size();
    }
  }
  if (best != nullptr) return *best;
  return std::nullopt;
}

bool IsPinnedHost(const std::wstring& host) {
  const auto entry = FindPinEntry(host);
  return entry && !entry->pins.empty();
}

std::vector<PinEntry> BuildDefaultPins() {
  PinEntry entry;
  entry.host = config::Wide(config::Id::PinnedDomain);
  for (const auto id : {config::Id::Pin1, config::Id::Pin2, config::Id::Pin3, config::Id::Pin4}) {
    entry.pins.push_back(config::Text(id));
  }
  return {std::move(entry)};
}

std::string PinOfCertificate(PCCERT_CONTEXT certificate) {
  DWORD size = 0;
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                                                              &certificate->pCertInfo->SubjectPublicKeyInfo, 0, nullptr,
                                                              nullptr, &size)) ||
      size == 0) {
    return {};
  }
  std::vector<BYTE> encoded(size);
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                                                              &certificate->pCertInfo->SubjectPublicKeyInfo, 0, nullptr,
                                                              encoded.data(), &size))) {
    return {};
  }
  return Sha256Base64(encoded.data(), size);
}

bool ChainMatchesPins(PCCERT_CONTEXT serverCertificate, const std::wstring& host,
                      const std::vector<std::string>& pins) {
  CERT_CHAIN_PARA parameters{};
  parameters.cbSize = sizeof(parameters);
  UniqueCertChain chain;
  PCCERT_CHAIN_CONTEXT built = nullptr;
  // The certificates the server sent along live in the leaf's own store.
  // Windows searches it by itself; Wine does not, so it is named here.
  if (!::CertGetCertificateChain(nullptr, serverCertificate, nullptr, serverCertificate->hCertStore, &parameters, 0,
                                 nullptr, &built)) {
    return false;
  }
  chain.reset(built);
  if (chain.get()->cChain == 0 || chain.get()->rgpChain[0]->cElement == 0) return false;
  const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[0];

  bool signaturesHold = true;  // every certificate below the current one is signed by its successor
  for (DWORD i = 0; i < simple->cElement; ++i) {
    const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
    // An issuer only counts when every signature from the leaf up to it
    // verifies; otherwise anyone could name the pinned CA in a chain.
    if (i > 0 && !signaturesHold) break;
    const std::string pin = PinOfCertificate(element->pCertContext);
    if (!pin.empty()) {
      for (const std::string& expected : pins) {
        if (pin != expected) continue;
        // A pinned leaf key vouches for itself; a pinned issuer only
        // vouches for leaves issued for this host.
        if (i == 0 || LeafMatchesHost(chain.get(), host)) return true;
      }
    }
    if ((element->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_SIGNATURE_VALID) != 0) signaturesHold = false;
  }
  return false;
}

PinVerdict CheckServerPins(HINTERNET request, const std::wstring& host) {
  const auto entry = FindPinEntry(host);
  if (!entry || entry->pins.empty()) return PinVerdict::Pass;

  PCCERT_CONTEXT raw = nullptr;
  DWORD size = sizeof(raw);
  if (!::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &raw, &size) || raw == nullptr) {
    return PinVerdict::NoCertificate;
  }
  const UniqueCertContext certificate(raw);
  return ChainMatchesPins(certificate.get(), host, entry->pins) ? PinVerdict::Pass : PinVerdict::Mismatch;
}

void SetPinMismatchAction(PinMismatchAction action) noexcept { pinMismatchAction.store(action); }

void ActOnPinMismatch(const std::wstring& host) {
  if (!ToLowerWide(host).ends_with(config::Wide(config::Id::OperatorDomain))) return;
  if (const PinMismatchAction action = pinMismatchAction.load()) action(host);
  // No program goes on talking to its service through an interceptor, also
  // one that set no action (a tool) or whose action came back.
  LogLine("Interception on " + WideToUtf8(host) + ": the program ends");
  seams::EndProcess(1);
}

bool ValidateServerPins(HINTERNET request, const std::wstring& host) {
  const PinVerdict verdict = CheckServerPins(request, host);
  if (verdict == PinVerdict::Mismatch) ActOnPinMismatch(host);
  return verdict == PinVerdict::Pass;
}

namespace {

// The browser pre-flight's own HEAD on the browser's way, without acting on
// its verdict; nothing when the check could not be made at all.
std::optional<PinVerdict> CheckBrowserHost(const std::wstring& host) {
  UniqueInternet session = OpenSessionOnTheBrowsersWay();
  if (!session) return std::nullopt;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::WinHttpSetTimeouts(session.get(), kPreflightTimeout, kPreflightTimeout, kPreflightTimeout, kPreflightTimeout));
  UniqueInternet connection(
      MIRAVELL_LOG_LAST_ERROR_IF_NULL(::WinHttpConnect(session.get(), host.c_str(), INTERNET_DEFAULT_HTTPS_PORT, 0)));
  if (!connection) return std::nullopt;
  UniqueInternet request(
      MIRAVELL_LOG_LAST_ERROR_IF_NULL(::WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)));
  if (!request) return std::nullopt;
  SetRequestOptions(request.get(), true, false);
  if (MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
          ::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))) {
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::WinHttpReceiveResponse(request.get(), nullptr));
  }
  return CheckServerPins(request.get(), host);
}

bool HasPins(const std::wstring& host) {
  const auto entry = FindPinEntry(host);
  return entry && !entry->pins.empty();
}

}  // namespace

void WarmBrowserHost(const std::wstring& url) {
  const std::optional<HttpsTarget> target = HttpsTargetOf(url);
  if (!target) return;
  const std::wstring& host = target->host;
  // A host without pins passes without a request anyway.
  if (!HasPins(host)) return;
  BrowserHostChecks& checks = Checks();
  std::unique_lock<std::shared_mutex> guard(checks.lock);
  if (checks.passed.count(host) != 0 || checks.refused.count(host) != 0 || checks.unreachable.count(host) != 0 ||
      checks.warming.count(host) != 0) {
    return;
  }
  std::shared_future<void> warming = RunAhead([&checks, host] {
    if (CheckBrowserHost(host) == PinVerdict::Pass) {
      std::unique_lock<std::shared_mutex> passed(checks.lock);
      checks.passed.insert(host);
    }
  });
  if (warming.valid()) checks.warming[host] = std::move(warming);
}

BrowserHostCheck CheckHostForBrowser(const std::wstring& host) {
  BrowserHostChecks& checks = Checks();
  std::shared_future<void> warming;
  {
    std::shared_lock<std::shared_mutex> guard(checks.lock);
    if (checks.refused.count(host) != 0) return BrowserHostCheck::Refused;
    if (checks.unreachable.count(host) != 0) return BrowserHostCheck::Unreachable;
    if (checks.passed.count(host) != 0) return BrowserHostCheck::Passed;
    if (const auto found = checks.warming.find(host); found != checks.warming.end()) warming = found->second;
  }
  if (warming.valid()) {
    warming.wait();  // bounded by the check's own timeouts
    std::shared_lock<std::shared_mutex> guard(checks.lock);
    if (checks.passed.count(host) != 0) return BrowserHostCheck::Passed;
  }
  if (!HasPins(host)) {
    std::unique_lock<std::shared_mutex> guard(checks.lock);
    checks.passed.insert(host);
    return BrowserHostCheck::Passed;
  }
  const std::optional<PinVerdict> verdict = CheckBrowserHost(host);
  if (!verdict) return BrowserHostCheck::Passed;
  if (*verdict == PinVerdict::Mismatch) ActOnPinMismatch(host);
  std::unique_lock<std::shared_mutex> guard(checks.lock);
  switch (*verdict) {
    case PinVerdict::Pass:
      checks.passed.insert(host);
      return BrowserHostCheck::Passed;
    case PinVerdict::NoCertificate:
      // Down, or a name that does not resolve: the page cannot be checked,
      // so it must not load, but nobody intercepted anything either.
      checks.unreachable.insert(host);
      return BrowserHostCheck::Unreachable;
    default:
      checks.refused.insert(host);
      return BrowserHostCheck::Refused;
  }
}

bool PreflightHost(const std::wstring& host) { return CheckHostForBrowser(host) == BrowserHostCheck::Passed; }

void ForgetUnreachableHosts() {
  BrowserHostChecks& checks = Checks();
  std::unique_lock<std::shared_mutex> guard(checks.lock);
  checks.unreachable.clear();
}

void ClearPreflightCache() {
  BrowserHostChecks& checks = Checks();
  std::unique_lock<std::shared_mutex> guard(checks.lock);
  checks.passed.clear();
}

// Test program that drives the service client the way the player does and
// prints what came back, one JSON object per command, so tests can pair the
// client's view with what the mock service saw. Options come first:
//   --pins-builtin           install the built-in pin table
//   --pin SCOPE=PIN[,PIN...] add a pin table entry
//   --trust-root FILE.pem    trust a root certificate for this user first
//   --header NAME=VALUE      a default header on the shared client
//   --tick-ms N              an alert counts down every N ms
//   --record FILE            an alert's diagnostic window is written to FILE
//   --deadline-ms N          timed-get uses a client of its own whose whole
//                            requests end within N ms
// Commands, run in order on the one shared client:
//   get URL | request METHOD URL BODY CONTENT-TYPE | preflight HOST |
//   load-pins | check-update CURRENT BASE | content DOMAIN ID TOKEN |
//   servers DOMAIN | browser-fail HOST |
//   timed-get URL (the answer and "ms", the time the request took)
#include <windows.h>
#include <wincrypt.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <iterator>
#include <string>
#include <vector>

#include "alerts/AlertWindow.h"
#include "common/Handles.h"
#include "common/Seams.h"
#include "common/Text.h"
#include "net/HttpClient.h"
#include "net/PinDownload.h"
#include "net/Pinning.h"
#include "net/ServiceApi.h"
#include "tests/tools/PrintJson.h"

namespace {

using nlohmann::json;

json ResponseJson(const HttpResponse& response) {
  return {{"status", response.statusCode},
          {"success", response.success},
          {"error", response.error},
          {"body", response.body}};
}

bool TrustRoot(const std::wstring& pemPath) {
  std::ifstream file(pemPath.c_str(), std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
    return false;
  }
  std::vector<BYTE> der(size);
  if (!::CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr)) {
    return false;
  }
  HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (store == nullptr) return false;
  const BOOL added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  ::CertCloseStore(store, 0);
  return added != FALSE;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// What the options set up before the commands run.
struct Setup {
  std::vector<PinEntry> table;
  std::unique_ptr<HttpClient> deadlineClient;
  seams::Hooks hooks;
};

// Reads the options from args[at], leaving at on the first command; an
// error text for an option that cannot be followed.
std::optional<std::string> ReadOptions(const std::vector<std::string>& args, std::size_t& at, Setup& setup) {
  for (; at < args.size() && args[at].rfind("--", 0) == 0; ++at) {
    const std::string& flag = args[at];
    const std::string value = at + 1 < args.size() ? args[at + 1] : std::string();
    if (flag == "--pins-builtin") {
      for (auto& entry : BuildDefaultPins()) setup.table.push_back(entry);
      continue;
    }
    ++at;
    const auto equals = value.find('=');
    if (flag == "--pin") {
      setup.table.push_back({Utf8ToWide(value.substr(0, equals)), Split(value.substr(equals + 1), ',')});
    } else if (flag == "--trust-root") {
      if (!TrustRoot(Utf8ToWide(value))) return "cannot trust " + value;
    } else if (flag == "--header") {
      SharedHttpClient().SetDefaultHeader(Utf8ToWide(value.substr(0, equals)), Utf8ToWide(value.substr(equals + 1)));
    } else if (flag == "--deadline-ms") {
      setup.deadlineClient = std::make_unique<HttpClient>(std::chrono::milliseconds(std::stoul(value)));
    } else if (flag == "--tick-ms") {
      const UINT tick = static_cast<UINT>(std::stoul(value));
      setup.hooks.timerInterval = [tick](UINT) { return tick; };
    } else if (flag == "--record") {
      setup.hooks.launchProcess = [path = Utf8ToWide(value)](const std::wstring&, const std::wstring& line) {
        std::ofstream out(path.c_str(), std::ios::binary);
        out << WideToUtf8(line);
        return true;
      };
    } else {
      return "unknown option " + flag;
    }
  }
  return std::nullopt;
}

json TimedGet(HttpClient& client, const std::string& url) {
  const auto started = std::chrono::steady_clock::now();
  json out = ResponseJson(client.Get(Utf8ToWide(url)));
  out["ms"] = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  return out;
}

json LoadPins() {
  LoadDynamicPins();
  json entries = json::array();
  for (const auto& scopeName : {std::wstring(L"miravell.localhost"), std::wstring(L"cdn.miravell.localhost")}) {
    if (auto entry = FindPinEntry(scopeName))
      entries.push_back({{"scope", WideToUtf8(entry->host)}, {"pins", entry->pins}});
  }
  return {{"entries", entries}};
}

json Content(const std::wstring& domain, const std::string& id, const std::string& token) {
  std::string error;
  const auto data = GetContentData(domain, id, token, error);
  json out = {{"found", data.has_value()}, {"error", error}};
  if (data) {
    out["type"] = data->type;
    out["url"] = data->url;
    out["videoUrl"] = data->videoUrl;
    out["watermarkText"] = data->watermarkText;
    out["contentNumber"] = data->contentNumber;
  }
  return out;
}

// Runs one command, taking its arguments from next(); false for a command
// this program does not know.
template <typename Next>
bool RunCommand(const std::string& command, Next& next, HttpClient* deadlineClient) {
  if (command == "get") {
    PrintJson(ResponseJson(SharedHttpClient().Get(Utf8ToWide(next()))));
  } else if (command == "timed-get") {
    PrintJson(TimedGet(deadlineClient != nullptr ? *deadlineClient : SharedHttpClient(), next()));
  } else if (command == "request") {
    const std::wstring method = Utf8ToWide(next());
    const std::wstring url = Utf8ToWide(next());
    const std::string body = next();
    PrintJson(ResponseJson(SharedHttpClient().Request(method, url, body, Utf8ToWide(next()))));
  } else if (command == "warm") {
    const std::string url = next();
    SharedHttpClient().Warm(Utf8ToWide(url));
    PrintJson({{"warming", url}});
  } else if (command == "warm-browser") {
    const std::string url = next();
    WarmBrowserHost(Utf8ToWide(url));
    PrintJson({{"warming", url}});
  } else if (command == "preflight") {
    PrintJson({{"allowed", PreflightHost(Utf8ToWide(next()))}});
  } else if (command == "load-pins") {
    PrintJson(LoadPins());
  } else if (command == "check-update") {
    const double current = std::stod(next());
    const VersionInfo info = CheckForUpdate(current, Utf8ToWide(next()));
    PrintJson({{"hasUpdate", info.hasUpdate}, {"isRequired", info.isRequired}, {"link", WideToUtf8(info.link)}});
  } else if (command == "content") {
    const std::wstring domain = Utf8ToWide(next());
    const std::string id = next();
    PrintJson(Content(domain, id, next()));
  } else if (command == "servers") {
    PrintJson({{"servers", FetchServerList(Utf8ToWide(next()))}});
  } else if (command == "browser-fail") {
    ShowBrowserInterceptionAlert(Utf8ToWide(next()));
  } else {
    return false;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // As the player does: an interception ends in its alert.
  SetPinMismatchAction(ShowServiceInterceptionAlert);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(WideToUtf8(argv[i]));
  Setup setup;
  std::size_t i = 0;
  if (const auto error = ReadOptions(args, i, setup)) return PrintJson({{"error", *error}}), 2;
  seams::ScopedHooks scope(std::move(setup.hooks));
  SetPinTable(setup.table);
  auto next = [&]() -> std::string { return i < args.size() ? args[i++] : std::string(); };
  while (i < args.size()) {
    const std::string command = next();
    if (!RunCommand(command, next, setup.deadlineClient.get()))
      return PrintJson({{"error", "unknown command " + command}}), 2;
  }
  return 0;
}

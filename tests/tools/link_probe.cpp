// Test program: resolves links through the player's own ParseSchemeArgs
// (pins as the player installs them) and prints the outcome as JSON.
//   link_probe parse LINK          one link: reason or the content fields
//   link_probe fuzz SEED COUNT LINK  COUNT mutations of LINK, seeded; prints
//                                  the reasons seen and any outcome outside
//                                  the allowed ones
#include <windows.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "common/AppState.h"
#include "common/Text.h"
#include "links/LinkResolution.h"
#include "net/Pinning.h"
#include "tests/tools/PrintJson.h"

namespace {

using nlohmann::json;

json Parse(const std::wstring& link) {
  AppState& app = GetAppState();
  app = AppState{};
  std::string reason = "left unset";
  const bool ok = ParseSchemeArgs(link, reason);
  return {{"ok", ok},
          {"reason", reason},
          {"domain", WideToUtf8(app.domain)},
          {"contentUrl", WideToUtf8(app.contentUrl)},
          {"watermarkText", WideToUtf8(app.watermarkText)},
          {"contentType", WideToUtf8(app.contentType)},
          {"contentNumber", app.contentNumber},
          {"injectedScript", WideToUtf8(app.injectedScript)}};
}

// A reason the link parser may give.
bool AllowedReason(const std::string& reason) {
  for (const char* exact : {"decrypt_failed_empty_strings", "api_content_data_failed", "unknown_exception",
                            kReasonDomainNotAllowed, kReasonContentNotAllowed}) {
    if (reason == exact) return true;
  }
  for (const char* prefix : {"split_failed_parts_", "server:", "exception_"}) {
    if (reason.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

std::wstring Mutate(std::wstring link, std::mt19937& random) {
  auto pick = [&](std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random); };
  const int edits = 1 + static_cast<int>(pick(3));
  for (int i = 0; i < edits; ++i) {
    const std::size_t at = link.empty() ? 0 : pick(link.size());
    switch (pick(9)) {
      case 0:
        link.resize(at);
        break;  // cut
      case 1:
        link.insert(at, pick(2) ? L"::" : L":");
        break;  // doubled separators
      case 2:
        link.insert(at, pick(2) ? L"%" : L"%G%2");
        break;  // stray percent signs
      case 3:
        link.insert(at, L"!*&^~ \t\"<>");
        break;  // not Base64
      case 4:
        link.insert(at, std::wstring(1 + pick(100000), L'A'));
        break;  // huge values
      case 5:
        link.insert(at, 1, static_cast<wchar_t>(0xD800 + pick(0x800)));
        break;  // lone surrogates
      case 6:
        if (!link.empty()) link[at] = static_cast<wchar_t>(pick(0x10000));
        break;
      case 7:
        link.insert(at, L"%25%3A%2B%2F%3D");
        break;
      default:
        if (!link.empty()) link.erase(at, 1 + pick(20));
        break;
    }
  }
  return link;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  SetPinTable(BuildDefaultPins());
  const std::wstring command = argv[1];
  if (command == L"parse") {
    PrintJson(Parse(argv[2]));
    return 0;
  }
  if (command == L"fuzz" && argc >= 5) {
    std::mt19937 random(static_cast<unsigned>(_wtoi(argv[2])));
    const int count = _wtoi(argv[3]);
    std::map<std::string, int> reasons;
    json unexpected = json::array();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      const std::wstring link = Mutate(argv[4], random);
      const json outcome = Parse(link);
      const std::string reason = outcome["reason"];
      if (outcome["ok"].get<bool>()) {
        ++reasons["(resolved)"];
      } else {
        // Group by kind; the text after a prefix varies.
        const auto colon = reason.find_first_of(":_");
        ++reasons[reason.substr(0, colon == std::string::npos ? reason.size() : colon + 1)];
        if (!AllowedReason(reason) && unexpected.size() < 20) unexpected.push_back(reason);
      }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    PrintJson({{"count", count}, {"reasons", reasons}, {"unexpected", unexpected}, {"seconds", seconds}});
    return 0;
  }
  return 2;
}

// miravell-link: the service operator's tool for the player's links.
//   miravell-link make [--key HEX64] [--no-mac] TOKEN ID DOMAIN
//   miravell-link open [--key HEX64] LINK
// "make" issues a link whose three values are fresh envelopes; "open" reads a
// link exactly as the player does (without asking the service) and prints the
// three values, or the player's reason code with exit code 1.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/Secret.h"
#include "common/Text.h"
#include "links/SchemeLink.h"
#include "tools/Console.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr std::size_t kKeyBytes = 32;

constexpr char kUsage[] =
    "usage: miravell-link make [--key HEX64] [--no-mac] TOKEN ID DOMAIN\n"
    "       miravell-link open [--key HEX64] LINK\n"
    "Without --key the link key of this build is used.";

struct Arguments {
  std::wstring command;
  std::optional<std::wstring> keyHex;
  bool withMac = true;
  std::vector<std::wstring> values;
};

std::optional<SecretBytes> ParseKey(const std::wstring& hex) {
  std::optional<std::vector<std::uint8_t>> bytes = ParseHex(SecretText(WideToUtf8(hex)).str());
  if (!bytes) return std::nullopt;
  SecretBytes key(std::move(*bytes));
  if (key.size() != kKeyBytes) return std::nullopt;
  return key;
}

std::optional<Arguments> ParseArguments(int argc, wchar_t** argv) {
  if (argc < 2) return std::nullopt;
  Arguments args;
  args.command = argv[1];
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (!optionsEnded && arg == L"--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == L"--key") {
      if (i + 1 >= argc) return std::nullopt;
      args.keyHex = argv[++i];
    } else if (!optionsEnded && arg == L"--no-mac" && args.command == L"make") {
      args.withMac = false;
    } else if (!optionsEnded && arg.starts_with(L"--")) {
      return std::nullopt;
    } else {
      args.values.push_back(arg);
    }
  }
  return args;
}

int Make(const Arguments& args, const SecretBytes& key) {
  if (args.values.size() != 3) {
    console::ErrorLine(kUsage);
    return kExitUsage;
  }
  LinkValues values{WideToUtf8(args.values[0]), WideToUtf8(args.values[1]), WideToUtf8(args.values[2])};
  // The player refuses a link with an empty value, so never issue one.
  if (values.linkToken.empty() || values.contentLinkId.empty() || values.domain.empty()) {
    console::ErrorLine("miravell-link: TOKEN, ID and DOMAIN must not be empty");
    return kExitUsage;
  }
  console::Line(WideToUtf8(MakeSchemeLink(values, key.span(), args.withMac)));
  return 0;
}

int Open(const Arguments& args, const SecretBytes& key) {
  if (args.values.size() != 1) {
    console::ErrorLine(kUsage);
    return kExitUsage;
  }
  LinkValues values;
  std::string reason;
  if (!DecodeSchemeLink(args.values[0], key.span(), values, reason)) {
    console::Line(reason);
    return kExitFailed;
  }
  console::Line(values.linkToken);
  console::Line(values.contentLinkId);
  console::Line(values.domain);
  return 0;
}

int Run(int argc, wchar_t** argv) {
  const std::optional<Arguments> args = ParseArguments(argc, argv);
  if (!args || (args->command != L"make" && args->command != L"open")) {
    console::ErrorLine(kUsage);
    return kExitUsage;
  }
  SecretBytes key;
  if (args->keyHex) {
    std::optional<SecretBytes> given = ParseKey(*args->keyHex);
    if (!given) {
      console::ErrorLine("miravell-link: --key needs 64 hexadecimal digits (32 bytes)");
      return kExitUsage;
    }
    key = std::move(*given);
  } else {
    key = BuildLinkKey();
  }
  return args->command == L"make" ? Make(*args, key) : Open(*args, key);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  return console::RunGuarded("miravell-link", kExitFailed, [&] { return Run(argc, argv); });
}

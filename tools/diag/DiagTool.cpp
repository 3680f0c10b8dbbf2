// miravell-diag: support staff's tool for the player's diagnostic codes.
//   miravell-diag decode CODE   prints the time (UTC), machine key and reason
//                               (and what it means, for the integrity checks')
//   miravell-diag make REASON   prints a fresh code for this machine
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "identity/DiagnosticCode.h"
#include "common/Base64.h"
#include "common/Text.h"
#include "tools/Console.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: miravell-diag decode CODE\n"
    "       miravell-diag make REASON";

// "YYYY-MM-DD hh:mm:ss UTC", or the plain number when it is no calendar date.
std::string FormatUtc(std::int64_t timestamp) {
  using namespace std::chrono;
  const sys_seconds when{seconds{timestamp}};
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{when - day};
  if (!date.ok()) return "(no calendar date) " + std::to_string(timestamp);
  char text[64] = {};
  std::snprintf(text, sizeof(text), "%04d-%02u-%02u %02d:%02d:%02d UTC", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

// The machine key is Base64 of a printable id; show it in clear when it is one.
std::string MachineIdOf(const std::string& machineKey) {
  const std::vector<std::uint8_t> bytes = Base64Decode(machineKey);
  std::string id(bytes.begin(), bytes.end());
  for (const char c : id) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return {};
  }
  return id;
}

// What a reason tells support staff, for the reasons that do not speak for
// themselves; empty for the others.
std::string MeaningOf(const std::string& reason) {
  static constexpr std::pair<const char*, const char*> kMeanings[] = {
      {"INTEGRITY_DEBUGGER",
       "a debugger was attached to the player (a development tool, or a program that reads or changes other "
       "programs); the student should close it and open the lesson again"},
      {"INTEGRITY_SIGNATURE",
       "the player's file is not the signed original (changed, re-signed by someone else, or damaged); the "
       "student should install the player again from the official download"},
      {"INTEGRITY_CODE",
       "the player's code was changed in memory while it ran (a cheat or injected program); the student should "
       "close other programs, scan the computer for malware and try again"},
  };
  for (const auto& [name, meaning] : kMeanings) {
    if (reason == name) return meaning;
  }
  return {};
}

int Decode(const std::wstring& code) {
  const std::optional<DiagnosticRecord> record = DecodeDiagnosticCode(WideToUtf8(code));
  if (!record) {
    console::ErrorLine("miravell-diag: not a diagnostic code (expected the Base64 text an alert window shows)");
    return kExitFailed;
  }
  console::Line("time: " + FormatUtc(record->timestamp) + " (ts=" + std::to_string(record->timestamp) + ")");
  console::Line("machine key: " + record->machineKey);
  if (const std::string id = MachineIdOf(record->machineKey); !id.empty()) console::Line("machine id: " + id);
  console::Line("reason: " + record->reason);
  if (const std::string meaning = MeaningOf(record->reason); !meaning.empty()) console::Line("meaning: " + meaning);
  return 0;
}

int Run(int argc, wchar_t** argv) {
  if (argc != 3) {
    console::ErrorLine(kUsage);
    return kExitUsage;
  }
  const std::wstring command = argv[1];
  if (command == L"decode") return Decode(argv[2]);
  if (command == L"make") {
    console::Line(BuildErrorDiagnosticCode(WideToUtf8(argv[2])));
    return 0;
  }
  console::ErrorLine(kUsage);
  return kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  return console::RunGuarded("miravell-diag", kExitFailed, [&] { return Run(argc, argv); });
}

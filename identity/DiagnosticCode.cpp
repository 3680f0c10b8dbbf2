#include "identity/DiagnosticCode.h"

#include <charconv>
#include <chrono>
#include <vector>

#include "identity/DeviceIdentity.h"
#include "common/Base64.h"
#include "common/Text.h"

namespace {

// Only the first 16 characters are the key; the last one was never used and
// codes already in support's hands depend on that.
constexpr char kDiagnosticKeyText[] = "QRTOLK-NEBRAVIS#(";
constexpr std::size_t kDiagnosticKeySize = 16;
static_assert(sizeof(kDiagnosticKeyText) - 1 == kDiagnosticKeySize + 1);

constexpr std::string_view kRecordStart = "ERRDIAG|v1|ts=";
constexpr std::string_view kMachineKeyField = "|mk=";
constexpr std::string_view kReasonField = "|reason=";
constexpr std::string_view kRecordEnd = "|END";

std::string XorWithKey(std::string_view bytes) {
  std::string out(bytes);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^
                               static_cast<unsigned char>(kDiagnosticKeyText[i % kDiagnosticKeySize]));
  }
  return out;
}

bool IsBase64Letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// The encoder's exact output form: whole groups of four, at most two "=" and
// only at the end. The decoder of common/ is lenient; here a text that is not
// a code must be told apart from one.
bool IsStrictBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return false;
  std::size_t letters = text.size();
  while (letters > 0 && text[letters - 1] == '=') --letters;
  if (text.size() - letters > 2) return false;
  for (std::size_t i = 0; i < letters; ++i) {
    if (!IsBase64Letter(text[i])) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

std::string FormatDiagnosticRecord(const DiagnosticRecord& record) {
  std::string text(kRecordStart);
  text += std::to_string(record.timestamp);
  text += kMachineKeyField;
  text += record.machineKey;
  text += kReasonField;
  text += record.reason;
  text += kRecordEnd;
  return text;
}

std::string ScrambleDiagnostic(std::string_view record) { return Base64Encode(XorWithKey(record)); }

std::string BuildErrorDiagnosticCode(std::string_view reason) {
  DiagnosticRecord record;
  record.timestamp =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  record.machineKey = WideToUtf8(GetMachineKey());
  record.reason = std::string(reason);
  return ScrambleDiagnostic(FormatDiagnosticRecord(record));
}

std::optional<std::string> UnscrambleDiagnostic(std::string_view code) {
  const std::string_view text = TrimBlanks(code);
  if (!IsStrictBase64(text)) return std::nullopt;
  const std::vector<std::uint8_t> bytes = Base64Decode(text);
  return XorWithKey(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<DiagnosticRecord> ParseDiagnosticRecord(std::string_view text) {
  if (text.size() < kRecordStart.size() + kRecordEnd.size() || !text.starts_with(kRecordStart) ||
      !text.ends_with(kRecordEnd)) {
    return std::nullopt;
  }
  std::string_view body = text.substr(kRecordStart.size(), text.size() - kRecordStart.size() - kRecordEnd.size());

  DiagnosticRecord record;
  const auto timeEnd = body.find('|');
  if (timeEnd == std::string_view::npos || timeEnd == 0) return std::nullopt;
  const auto [parsedTo, error] = std::from_chars(body.data(), body.data() + timeEnd, record.timestamp);
  if (error != std::errc() || parsedTo != body.data() + timeEnd) return std::nullopt;
  body.remove_prefix(timeEnd);

  if (!body.starts_with(kMachineKeyField)) return std::nullopt;
  body.remove_prefix(kMachineKeyField.size());
  const auto keyEnd = body.find('|');
  if (keyEnd == std::string_view::npos) return std::nullopt;
  record.machineKey = std::string(body.substr(0, keyEnd));
  body.remove_prefix(keyEnd);

  if (!body.starts_with(kReasonField)) return std::nullopt;
  record.reason = std::string(body.substr(kReasonField.size()));
  return record;
}

std::optional<DiagnosticRecord> DecodeDiagnosticCode(std::string_view code) {
  const std::optional<std::string> record = UnscrambleDiagnostic(code);
  if (!record) return std::nullopt;
  return ParseDiagnosticRecord(*record);
}

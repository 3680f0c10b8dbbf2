#pragma once
// Diagnostic codes: the opaque text an alert shows and asks the user to send
// to support. It is a one-line record (time, machine key, reason) XORed with
// a fixed key and written in Base64; support staff turn it back with
// DecodeDiagnosticCode.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What a code carries.
struct DiagnosticRecord {
  std::int64_t timestamp = 0;  // seconds since 1970-01-01 00:00 UTC
  std::string machineKey;      // Base64, possibly empty
  std::string reason;          // as given, may itself contain "|"
};

// A fresh code for the reason: now, this machine's key and the reason.
[[nodiscard]] std::string BuildErrorDiagnosticCode(std::string_view reason);

// The record text: "ERRDIAG|v1|ts=<seconds>|mk=<key>|reason=<reason>|END".
[[nodiscard]] std::string FormatDiagnosticRecord(const DiagnosticRecord& record);

// XOR with the diagnostic key, then Base64.
[[nodiscard]] std::string ScrambleDiagnostic(std::string_view record);

// The reverse of ScrambleDiagnostic; nothing when the text is not strict
// Base64 (surrounding white space is allowed, for pasted codes).
[[nodiscard]] std::optional<std::string> UnscrambleDiagnostic(std::string_view code);

// Reads a record text; nothing when it is not one. The reason runs up to the
// last "|" before "END", so a reason containing "|" survives.
[[nodiscard]] std::optional<DiagnosticRecord> ParseDiagnosticRecord(std::string_view text);

// UnscrambleDiagnostic, then ParseDiagnosticRecord.
[[nodiscard]] std::optional<DiagnosticRecord> DecodeDiagnosticCode(std::string_view code);

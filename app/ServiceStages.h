#pragma once
// The certificate-pin stages of the start-up sequence.
#include <string>

// The built-in pins stage: the built-in pin table becomes the process-wide table.
void InstallBuiltInPins();

// The downloaded pins stage: pins downloaded from the service; catches its own failures.
void LoadDynamicPinsStage();

// Opens the connections the start will need (the pins and version hosts,
// and the domain of a link the program was given) on worker threads, while
// the start goes on; see HttpClient::Warm.
void WarmServiceConnections(const std::wstring& link);

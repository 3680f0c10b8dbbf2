#pragma once
// The service's pins, fetched once at start-up through the shared client
// (whose own connection the built-in pins guard) and installed in the pin
// table beside the built-in entry.
#include <optional>
#include <string>
#include <vector>

#include "net/Pinning.h"

// Downloads the service's pins and installs built-in plus downloaded
// entries. Never throws; on any failure the table stays as it was.
void LoadDynamicPins();

// The table LoadDynamicPins would install for a download's body, or nothing
// when the body is not a usable answer. Throws the JSON library's type error
// for a scope that is not a string.
std::optional<std::vector<PinEntry>> PinTableFromDownload(const std::string& body);

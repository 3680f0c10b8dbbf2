#pragma once
// The certificate-pin stages of the start-up sequence.
#include <string>

// Stage 10: the built-in pin table becomes the process-wide table.
void InstallBuiltInPins();

// Stage 11: pins downloaded from the service; catches its own failures.
void LoadDynamicPinsStage();

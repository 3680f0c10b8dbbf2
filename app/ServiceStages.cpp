#include "app/ServiceStages.h"

// The service client and the link parser have not landed: no pins are
// installed, no update is found and a link is taken as it is.

void InstallBuiltInPins() {}

void LoadDynamicPinsStage() {}

bool RunUpdateCheck(const std::wstring&) { return false; }

bool ParseLinkStage(const std::wstring&, std::string&) { return true; }

#include "app/ServiceStages.h"

#include "net/Pinning.h"

// The update flow and the link parser have not landed: no update is found
// and a link is taken as it is.

void InstallBuiltInPins() { SetPinTable(BuildDefaultPins()); }

void LoadDynamicPinsStage() { LoadDynamicPins(); }

bool RunUpdateCheck(const std::wstring&) { return false; }

bool ParseLinkStage(const std::wstring&, std::string&) { return true; }

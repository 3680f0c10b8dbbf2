#include "app/ServiceStages.h"

#include "net/Pinning.h"

void InstallBuiltInPins() { SetPinTable(BuildDefaultPins()); }

void LoadDynamicPinsStage() { LoadDynamicPins(); }

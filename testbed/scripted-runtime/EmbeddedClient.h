#pragma once
// The resource (type RCDATA) under which the bootstrapper carries the
// runtime's client DLL. A macro, since the resource compiler reads it too.
#define SCRIPTED_RUNTIME_CLIENT_RESOURCE 101

#pragma once
// Resource identifiers of Miravell.exe.
#define IDI_MIRAVELL 101
#define IDR_SPLASH_PNG 102

#pragma once
// kSplashWindowClass, kInitWindowClass, kPlayerWindowClass, kAlertWindowClass.

#define MIRAVELL_WINDOW_CLASS(name, text) inline constexpr wchar_t k##name##WindowClass[] = L"" text;
#include "common/WindowClasses.inc"
#undef MIRAVELL_WINDOW_CLASS

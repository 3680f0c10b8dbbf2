#pragma once
// GDI+'s C++ headers use min and max unqualified, which NOMINMAX hides.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

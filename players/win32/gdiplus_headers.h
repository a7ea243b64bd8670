#pragma once
// GDI+ for the players. Its headers use min and max unqualified and need the COM stream types
// declared first.

#include <objidl.h>
#include <windows.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

// The one way into <windows.h>. Include this only from *_win32.cpp files: portable code never
// sees the Win32 API. The target version and the lean/NOMINMAX switches come from the build.
#pragma once

#include <windows.h>

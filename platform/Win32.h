// The platform calls the rest of KeyVigil makes, in the shape of the Win32
// A-functions. The build puts either platform/Windows (the real <windows.h>)
// or platform/Unix (the stand-ins) on the include path, so nothing above
// this header knows which one it got.
#pragma once

#include "Win32Api.h"

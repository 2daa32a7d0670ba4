// The kernel headers as the kernel platform layer includes them: the XP
// target, and the two switches the mingw-w64 DDK headers need in C++.
#pragma once

// Windows XP is the oldest kernel this driver supports; no routine newer
// than XP's may be called.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#ifndef NTDDI_VERSION
#define NTDDI_VERSION 0x05010000
#endif
// With an explicit NTDDI_VERSION the headers still test NTDDI_WINVISTA
// before they define it.
#ifndef NTDDI_WINVISTA
#define NTDDI_WINVISTA 0x06000000
#endif
// The headers declare these two intrinsics inline a second time in C++.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset

#include <ntifs.h>  // brings ntddk.h and wdm.h

#include "platform/platform.h"

// The driver's UTF-16 strings are the kernel's WCHAR strings.
static_assert(sizeof(WCHAR) == sizeof(ZrvWChar), "one UTF-16 unit per character");
inline PWSTR KernelString(const ZrvWChar* s) { return reinterpret_cast<PWSTR>(const_cast<ZrvWChar*>(s)); }

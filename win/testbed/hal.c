/*
 * A stand-in hal.dll for running zorvik.sys under Wine (the testbed of
 * win/wine-run, never a real machine). Wine's own HAL reads 0 from every
 * port; this one sends every byte access of the driver to the board server,
 * which routes it to the same emulated board as the Linux simulator and
 * records the port trace.
 *
 * The 32-bit one also exports what Wine's 32-bit ntoskrnl.exe imports from
 * the HAL, the two spin lock routines, with the same lock word as Wine's kernel (0 free,
 * 1 taken) so that locks taken by one side can be released by the other.
 */
#include "board_link.h"

static CRITICAL_SECTION linkLock;
static ZrvBoardLink boardLink;
static int linkState; /* 0 not tried, 1 open, -1 unreachable */

/* Opens the link at the first port access, not while the DLL loads: a
 * socket may not be opened under the loader lock. Called with linkLock. */
static int LinkReady(void) {
    unsigned short port;
    if (linkState != 0) return linkState > 0;
    port = ZrvLinkFindPort();
    if (port != 0 && ZrvLinkOpen(&boardLink, port) == 0) {
        linkState = 1;
    } else {
        /* Ports then float as on an empty bus: reads 0xff, writes vanish. */
        fprintf(stderr, "zorvik testbed hal: no board server (port %u); the ports float\n", port);
        linkState = -1;
    }
    return linkState > 0;
}

static void LinkBroken(void) {
    fprintf(stderr, "zorvik testbed hal: the board server went away; the ports float\n");
    ZrvLinkClose(&boardLink);
    linkState = -1;
}

UCHAR WINAPI READ_PORT_UCHAR(PUCHAR port) {
    char request[32];
    char answer[64];
    unsigned value = 0xFF;
    EnterCriticalSection(&linkLock);
    if (LinkReady()) {
        snprintf(request, sizeof request, "in 0x%04x", (unsigned)(ULONG_PTR)port & 0xFFFFu);
        if (ZrvLinkRequest(&boardLink, request, answer, sizeof answer) != 0 ||
            sscanf(answer, "ok 0x%x", &value) != 1) {
            LinkBroken();
            value = 0xFF;
        }
    }
    LeaveCriticalSection(&linkLock);
    return (UCHAR)value;
}

void WINAPI WRITE_PORT_UCHAR(PUCHAR port, UCHAR value) {
    char request[32];
    char answer[64];
    EnterCriticalSection(&linkLock);
    if (LinkReady()) {
        snprintf(request, sizeof request, "out 0x%04x 0x%02x", (unsigned)(ULONG_PTR)port & 0xFFFFu, value);
        if (ZrvLinkRequest(&boardLink, request, answer, sizeof answer) != 0 || strncmp(answer, "ok", 2) != 0)
            LinkBroken();
    }
    LeaveCriticalSection(&linkLock);
}

#if !defined(_WIN64)
typedef ULONG_PTR KSPIN_LOCK;
typedef UCHAR KIRQL;

void WINAPI KeAcquireSpinLock(KSPIN_LOCK* lock, KIRQL* oldIrql) {
    while (InterlockedCompareExchange((LONG volatile*)lock, 1, 0) != 0) YieldProcessor();
    *oldIrql = 0; /* Wine runs driver code at PASSIVE_LEVEL */
}

void WINAPI KeReleaseSpinLock(KSPIN_LOCK* lock, KIRQL newIrql) {
    (void)newIrql;
    InterlockedExchange((LONG volatile*)lock, 0);
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&linkLock);
    }
    return TRUE;
}

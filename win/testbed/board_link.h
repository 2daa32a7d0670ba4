/*
 * The Windows side of the testbed's link to the board server (zrvboard,
 * a Linux program serving one emulated board on a loopback TCP port). Used
 * by the stand-in hal.dll for port accesses and by zrvctl.exe for the board
 * commands. One request is one line; the answer is one line starting with
 * "ok" or "err". Only 127.0.0.1 is ever contacted.
 *
 * Plain C, header-only: every function is static inline.
 */
#ifndef ZORVIK_BOARD_LINK_H
#define ZORVIK_BOARD_LINK_H

/* winsock2.h before windows.h, which would bring the old winsock.h */
/* clang-format off */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
/* clang-format on */

#include <stdio.h>
#include <string.h>

/* Where wine-run leaves the board server's port for the driver host, whose
 * environment it does not control. */
#define ZRV_BOARD_PORT_FILE "C:\\zorvik-testbed\\board.port"

typedef struct ZrvBoardLink {
    SOCKET sock;
    char pending[512]; /* bytes received after the last answer line */
    int pendingLength;
} ZrvBoardLink;

/* Connects to the board server at 127.0.0.1:port. Returns 0 on success. */
static inline int ZrvLinkOpen(ZrvBoardLink* link, unsigned short port) {
    WSADATA wsa;
    struct sockaddr_in addr;
    BOOL noDelay = TRUE;
    link->sock = INVALID_SOCKET;
    link->pendingLength = 0;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return -1;
    link->sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (link->sock == INVALID_SOCKET) return -1;
    memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(link->sock, (struct sockaddr*)&addr, sizeof addr) != 0) {
        closesocket(link->sock);
        link->sock = INVALID_SOCKET;
        return -1;
    }
    /* Small requests, each waiting for its answer: send at once. */
    setsockopt(link->sock, IPPROTO_TCP, TCP_NODELAY, (const char*)&noDelay, sizeof noDelay);
    return 0;
}

static inline void ZrvLinkClose(ZrvBoardLink* link) {
    if (link->sock != INVALID_SOCKET) closesocket(link->sock);
    link->sock = INVALID_SOCKET;
}

/* Sends `request` (without its newline) and reads the one-line answer into
 * `answer` (without its newline). Returns 0 when an answer came. */
static inline int ZrvLinkRequest(ZrvBoardLink* link, const char* request, char* answer, int answerSize) {
    char line[256];
    int length = (int)strlen(request);
    int sent = 0;
    int used = 0;
    if (link->sock == INVALID_SOCKET || length + 1 > (int)sizeof line) return -1;
    memcpy(line, request, (size_t)length);
    line[length++] = '\n';
    while (sent < length) {
        int n = send(link->sock, line + sent, length - sent, 0);
        if (n <= 0) return -1;
        sent += n;
    }
    for (;;) {
        int i;
        for (i = 0; i < link->pendingLength; ++i) {
            if (link->pending[i] == '\n') {
                int copy = i < answerSize - 1 ? i : answerSize - 1;
                memcpy(answer, link->pending, (size_t)copy);
                answer[copy] = 0;
                memmove(link->pending, link->pending + i + 1, (size_t)(link->pendingLength - i - 1));
                link->pendingLength -= i + 1;
                return 0;
            }
        }
        if (link->pendingLength == (int)sizeof link->pending) return -1; /* no line end in sight */
        used = recv(link->sock, link->pending + link->pendingLength,
                    (int)sizeof link->pending - link->pendingLength, 0);
        if (used <= 0) return -1;
        link->pendingLength += used;
    }
}

/* The board server's port: ZRV_BOARD_PORT in the environment, else the
 * first line of ZRV_BOARD_PORT_FILE ("port N"). 0 when neither says. */
static inline unsigned short ZrvLinkFindPort(void) {
    char text[64];
    unsigned port = 0;
    DWORD n = GetEnvironmentVariableA("ZRV_BOARD_PORT", text, sizeof text);
    if (n > 0 && n < sizeof text) {
        if (sscanf(text, "%u", &port) == 1 && port > 0 && port < 65536) return (unsigned short)port;
        return 0;
    } else {
        FILE* f = fopen(ZRV_BOARD_PORT_FILE, "r");
        if (f == NULL) return 0;
        if (fgets(text, sizeof text, f) == NULL || sscanf(text, "port %u", &port) != 1) port = 0;
        fclose(f);
        return port > 0 && port < 65536 ? (unsigned short)port : 0;
    }
}

#endif /* ZORVIK_BOARD_LINK_H */

// What zrvctl.exe writes on its standard output and error: Windows lines
// (CRLF) in a code page the console shows. The commands write UTF-8 with
// "\n", as on Linux; an XP console shows UTF-8 as garbage, so text goes
// out in the console's output code page where it has the character, and
// as ASCII otherwise ("deg" for the degree sign, "?" for anything else).
// Output that is no console (a pipe, a file) gets ASCII. With --json the
// text stays UTF-8 (a JSON reader wants nothing else); the lines still end
// in CRLF.
#pragma once

#include <windows.h>

#include <string>

namespace zrvctl {

// The translation of one piece of output. `carry` holds the start of a
// UTF-8 sequence cut at the end of the last piece; `codePage` 0 is ASCII.
std::string consoleText(const std::string& utf8, std::string& carry, UINT codePage, bool keepUtf8);

// Routes a C runtime file descriptor (1 or 2) through consoleText until
// destroyed: a pipe takes the runtime's writes and a thread translates them
// to the original handle. Nothing changes where the descriptor has no
// handle (a service's).
class ConsoleText {
public:
    explicit ConsoleText(int fd);
    ~ConsoleText();
    ConsoleText(const ConsoleText&) = delete;
    ConsoleText& operator=(const ConsoleText&) = delete;

    // From now on UTF-8 passes unchanged (--json).
    static void keepUtf8();

private:
    static DWORD WINAPI pump(LPVOID self);
    int fd_;
    int saved_ = -1;        // the descriptor's original file
    HANDLE out_ = nullptr;  // its handle
    HANDLE read_ = nullptr;
    HANDLE thread_ = nullptr;
    UINT codePage_ = 0;
};

}  // namespace zrvctl

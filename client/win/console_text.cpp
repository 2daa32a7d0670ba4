#include "client/win/console_text.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

namespace zrvctl {

namespace {

volatile LONG gKeepUtf8 = 0;

// Length of the UTF-8 sequence a lead byte starts; 0 for a stray byte.
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 0;
}

// One non-ASCII character in the console's code page, or in ASCII.
std::string Transliterate(const std::string& sequence, UINT codePage) {
    wchar_t wide[2];
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, sequence.data(),
                                      static_cast<int>(sequence.size()), wide, 2);
    if (n <= 0) return "?";
    if (codePage != 0) {
        char bytes[8];
        BOOL usedDefault = FALSE;
        const int m = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, n, bytes, sizeof bytes,
                                          nullptr, &usedDefault);
        if (m > 0 && !usedDefault) return std::string(bytes, static_cast<size_t>(m));
    }
    return n == 1 && wide[0] == 0x00B0 ? "deg" : "?";
}

}  // namespace

std::string consoleText(const std::string& utf8, std::string& carry, UINT codePage, bool keepUtf8) {
    const std::string text = carry + utf8;
    carry.clear();
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            if (out.empty() || out.back() != '\r') out += '\r';
            out += '\n';
            ++i;
            continue;
        }
        const size_t length = SequenceLength(c);
        if (length == 1 || keepUtf8) {
            out += text[i++];
            continue;
        }
        if (length > 1 && i + length > text.size()) {
            carry = text.substr(i);  // the rest comes with the next piece
            break;
        }
        out += Transliterate(text.substr(i, length == 0 ? 1 : length), codePage);
        i += length == 0 ? 1 : length;
    }
    return out;
}

void ConsoleText::keepUtf8() { InterlockedExchange(&gKeepUtf8, 1); }

ConsoleText::ConsoleText(int fd) : fd_(fd) {
    out_ = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (out_ == INVALID_HANDLE_VALUE || out_ == nullptr || GetFileType(out_) == FILE_TYPE_UNKNOWN) return;
    DWORD mode = 0;
    codePage_ = GetConsoleMode(out_, &mode) ? GetConsoleOutputCP() : 0;
    HANDLE write = nullptr;
    if (!CreatePipe(&read_, &write, nullptr, 0)) return;
    const int writeFd = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_BINARY);
    saved_ = _dup(fd);
    if (writeFd < 0 || saved_ < 0 || _dup2(writeFd, fd) != 0) {
        if (writeFd >= 0) _close(writeFd);
        if (saved_ >= 0) _close(saved_);
        CloseHandle(read_);
        saved_ = -1;
        read_ = nullptr;
        return;
    }
    _close(writeFd);  // the descriptor holds the pipe's writing end alone
    _setmode(fd, _O_BINARY);
    out_ = reinterpret_cast<HANDLE>(_get_osfhandle(saved_));
    thread_ = CreateThread(nullptr, 0, pump, this, 0, nullptr);
    if (thread_ == nullptr) {  // no translation rather than no output
        _dup2(saved_, fd);
        _close(saved_);
        CloseHandle(read_);
        saved_ = -1;
        read_ = nullptr;
    }
}

ConsoleText::~ConsoleText() {
    if (thread_ == nullptr) return;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(fd_ == 1 ? stdout : stderr);
    _dup2(saved_, fd_);                      // closes the pipe's writing end: the thread reads its end
    WaitForSingleObject(thread_, INFINITE);  // it writes to saved_'s handle until then
    _close(saved_);
    CloseHandle(thread_);
    CloseHandle(read_);
}

DWORD WINAPI ConsoleText::pump(LPVOID self) {
    auto* me = static_cast<ConsoleText*>(self);
    std::string carry;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(me->read_, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        const std::string text = consoleText(std::string(buffer, got), carry, me->codePage_, gKeepUtf8 != 0);
        DWORD written = 0;
        for (size_t at = 0; at < text.size(); at += written)
            if (!WriteFile(me->out_, text.data() + at, static_cast<DWORD>(text.size() - at), &written,
                           nullptr) ||
                written == 0)
                return 0;
    }
    return 0;
}

}  // namespace zrvctl

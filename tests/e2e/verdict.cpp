#include "verdict.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "desktop.h"

namespace {
int failures = 0;
}

void fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::printf("FAIL: ");
    std::vprintf(format, args);
    std::printf("\n");
    va_end(args);
    std::fflush(stdout);
    ++failures;
}

bool check(bool condition, const char *format, ...) {
    if (condition) return true;
    va_list args;
    va_start(args, format);
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fail("%s", text);
    return false;
}

void abort_run(const char *what) {
    std::printf("ERROR: %s (last error %lu)\n", what, GetLastError());
    end_installer();
    std::exit(2);
}

int failure_count() { return failures; }

std::string narrow(const std::wstring &text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\r') out += "\\r";
        else if (c == L'\n') out += "\\n";
        else out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    }
    return out;
}

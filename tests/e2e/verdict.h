// How the driver tells what it found: a failed check is printed and counted,
// and the run goes on; a run that cannot go on ends with exit code 2.
#pragma once

#include <string>

void fail(const char *format, ...);
// Fails with the message unless `condition` holds; returns `condition`.
bool check(bool condition, const char *format, ...);
[[noreturn]] void abort_run(const char *what);
int failure_count();

// Printable ASCII, with line breaks shown as \r and \n.
std::string narrow(const std::wstring &text);

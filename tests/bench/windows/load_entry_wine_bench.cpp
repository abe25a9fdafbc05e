// load_entry on the largest entry against the checksum alone over the same
// bytes, and the decoding of a compressed pool (the first load_entry's extra
// time), in the shipped build's own setting: cross-built with the installer's
// flags, linked with no C runtime, so the only block copy in the process is the
// project's memcpy; the archive is the real one, embedded as in the installer.
// Run under Wine; prints both times and their ratio (nothing is asserted).
//   load_entry_wine_bench [--smoke]    --smoke: one round, for a quick check
#include <windows.h>

#include "payload/archive.h"

namespace {

const char NAME[] = "bin/target_cl64";
const int ROUNDS = 101;

HANDLE output;

void write_text(const char *text) {
    DWORD length = 0;
    while (text[length]) ++length;
    DWORD written;
    WriteFile(output, text, length, &written, nullptr);
}

// value / 1000 with three decimals, at least width characters before the point.
void write_thousandths(ULONGLONG value, int width) {
    char text[32];
    char *at = text + sizeof text;
    *--at = 0;
    for (int digit = 0; digit < 3; ++digit, value /= 10) *--at = char('0' + value % 10);
    *--at = '.';
    do {
        *--at = char('0' + value % 10);
        value /= 10;
        --width;
    } while (value);
    while (width-- > 0) *--at = ' ';
    write_text(at);
}

void write_number(ULONGLONG value) {
    char text[24];
    char *at = text + sizeof text;
    *--at = 0;
    do *--at = char('0' + value % 10);
    while (value /= 10);
    write_text(at);
}

bool has_argument(const WCHAR *command_line, const WCHAR *argument) {
    for (; *command_line; ++command_line) {
        const WCHAR *a = command_line, *b = argument;
        while (*b && *a == *b) ++a, ++b;
        if (!*b && (*a == 0 || *a == L' ')) return true;
    }
    return false;
}

LONGLONG ticks_per_second;

LONGLONG now() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

LONGLONG microseconds_since(LONGLONG start) {
    return (now() - start) * 1000000 / ticks_per_second;
}

LONGLONG time_load() {
    LONGLONG start = now();
    loaded_entry loaded = load_entry(nullptr, NAME);
    LONGLONG elapsed = microseconds_since(start);
    if (!loaded.bytes) {
        write_text("load_entry: out of memory\n");
        ExitProcess(2);
    }
    HeapFree(GetProcessHeap(), 0, loaded.bytes);
    return elapsed;
}

volatile DWORD checksum_sink;

// What load_entry pays for its buffer before a byte is copied: a fresh heap
// block of the entry's size, each page written once, given back. Not part of
// the ratio; it shows how much of the gap is the memory itself.
LONGLONG time_fresh_buffer(DWORD size) {
    LONGLONG start = now();
    volatile BYTE *bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size);
    if (!bytes) return 0;
    for (DWORD at = 0; at < size; at += 4096) bytes[at] = 0;
    HeapFree(GetProcessHeap(), 0, (BYTE *)bytes);
    return microseconds_since(start);
}

LONGLONG time_checksum(const loaded_entry &entry) {
    LONGLONG start = now();
    checksum_sink = archive_format::checksum(entry.bytes, entry.size);
    return microseconds_since(start);
}

void sort(LONGLONG *values, int count) {
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && values[j] < values[j - 1]; --j) {
            LONGLONG swap = values[j];
            values[j] = values[j - 1];
            values[j - 1] = swap;
        }
}

// The label, then two values in thousandths.
void write_row(const char *label, LONGLONG best, LONGLONG median) {
    int column = 0;
    for (; label[column]; ++column) {}
    write_text(label);
    for (; column < 36; ++column) write_text(" ");
    write_thousandths(ULONGLONG(best), 4);
    write_thousandths(ULONGLONG(median), 5);
    write_text("\n");
}

}  // namespace

extern "C" void WINAPI bench_entry() {
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticks_per_second = frequency.QuadPart;
    bool smoke = has_argument(GetCommandLineW(), L"--smoke");
    int rounds = smoke ? 1 : ROUNDS;

    // The checksum alone runs over a kept copy of the entry's bytes. Loading it
    // first also maps the embedded pool in, which the rounds should not pay for.
    loaded_entry kept = load_entry(nullptr, NAME);
    if (!kept.bytes) {
        write_text("load_entry: out of memory\n");
        ExitProcess(2);
    }

    // Alternating, and swapping which goes first, so that a neighbour's load on
    // a shared machine falls on both alike; each round's ratio compares two
    // runs made side by side.
    // Static: a frame over a page would call the stack probe, and taking it
    // from libgcc into this link crashes the linker.
    static LONGLONG load[ROUNDS], checksum[ROUNDS], fresh[ROUNDS], ratio[ROUNDS], decode[ROUNDS];
    for (int round = 0; round < rounds; ++round) {
        fresh[round] = time_fresh_buffer(kept.size);
        if (round & 1) {
            checksum[round] = time_checksum(kept);
            load[round] = time_load();
        } else {
            load[round] = time_load();
            checksum[round] = time_checksum(kept);
        }
        ratio[round] = load[round] * 1000 / (checksum[round] ? checksum[round] : 1);
        // The first load_entry of a run decodes a compressed pool first.
        HeapFree(GetProcessHeap(), 0, (BYTE *)decoded_pool);
        decoded_pool = nullptr;
        decode[round] = time_load() - load[round];
    }

    write_text(NAME);
    write_text(": ");
    write_number(kept.size);
    write_text(" bytes, ");
    write_number(ULONGLONG(rounds));
    write_text(" rounds, times in ms\n                                        best   median\n");
    sort(load, rounds);
    sort(checksum, rounds);
    sort(fresh, rounds);
    sort(ratio, rounds);
    sort(decode, rounds);
    int middle = rounds / 2;
    write_row("load_entry", load[0], load[middle]);
    write_row("checksum alone", checksum[0], checksum[middle]);
    write_row("a fresh buffer of that size", fresh[0], fresh[middle]);
    if (decoded_pool) write_row("decoding the pool", decode[0], decode[middle]);
    // The best times are the machine's own speed; the median of the rounds'
    // ratios is the steadier figure on a busy one.
    write_row("load_entry / checksum", load[0] * 1000 / (checksum[0] ? checksum[0] : 1), ratio[middle]);
    ExitProcess(0);
}

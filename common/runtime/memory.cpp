// The two memory routines the compiler emits calls to for block copies and
// zero-filled records. The installer links no C runtime, so it brings its own.
#include <windows.h>

// rep movsb: one instruction that CPUs with fast string moves (ERMSB) run at
// full memory speed for the large copies of the archive reader, and that
// stays correct everywhere. The ABI guarantees the direction flag is clear.
extern "C" void *memcpy(void *destination, const void *source, size_t count) {
    void *to = destination;
    asm volatile("rep movsb" : "+D"(to), "+S"(source), "+c"(count) : : "memory");
    return destination;
}

// Only small records are filled, so a plain loop will do. Built with
// -fno-tree-loop-distribute-patterns, or it would turn back into a call to
// itself.
extern "C" void *memset(void *destination, int value, size_t count) {
    BYTE *to = static_cast<BYTE *>(destination);
    while (count--) *to++ = static_cast<BYTE>(value);
    return destination;
}

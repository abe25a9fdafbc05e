// The two memory routines the compiler emits calls to for struct copies and
// zero-filled records. The installer links no C runtime, so it brings its own.
// Built with -fno-tree-loop-distribute-patterns, or these loops would turn
// back into calls to themselves.
#include <windows.h>

extern "C" void *memcpy(void *destination, const void *source, size_t count) {
    BYTE *to = static_cast<BYTE *>(destination);
    const BYTE *from = static_cast<const BYTE *>(source);
    while (count--) *to++ = *from++;
    return destination;
}

extern "C" void *memset(void *destination, int value, size_t count) {
    BYTE *to = static_cast<BYTE *>(destination);
    while (count--) *to++ = static_cast<BYTE>(value);
    return destination;
}

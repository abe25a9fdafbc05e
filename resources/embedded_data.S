// The payload archive and the licence text, embedded byte for byte. Each blob
// gets a record of two marks (its first byte, just past its last byte) that the
// installer reads as `embedded_bytes`. The build defines the three file paths.
//
// The records hold absolute addresses, so the linker emits base relocations for
// them and the image stays relocatable (ASLR).

    .section .rdata,"dr"

    .p2align 3
    .globl payload_pool
payload_pool:
    .quad pool_start, pool_end
    .globl payload_directory
payload_directory:
    .quad directory_start, directory_end
    .globl licence_text
licence_text:
    .quad licence_start, licence_end

    .p2align 4
pool_start:
    .incbin PAYLOAD_POOL_FILE
pool_end:
directory_start:
    .incbin PAYLOAD_DIRECTORY_FILE
directory_end:
licence_start:
    .incbin LICENCE_TEXT_FILE
licence_end:

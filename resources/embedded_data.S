// The payload archive and the licence text, embedded byte for byte. Each blob
// gets a record of two marks (its first byte, just past its last byte) that the
// installer reads as `embedded_bytes`. The build defines the three file paths.
//
// The records hold each mark's distance from the record, which the assembler
// works out itself: no address needs a base relocation, and the image loads
// anywhere (ASLR) without a relocation section.

    .section .rdata,"dr"

    .p2align 3
    .globl payload_pool
payload_pool:
    .quad pool_start - payload_pool, pool_end - payload_pool
    .globl payload_directory
payload_directory:
    .quad directory_start - payload_directory, directory_end - payload_directory
    .globl licence_text
licence_text:
    .quad licence_start - licence_text, licence_end - licence_text

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

/* The Flash runtime's compiled resource bundle, linked into the player as
 * it is. glib-compile-resources could write it as C source, but a 10 MB
 * array takes the compiler a long time; the assembler copies the file in a
 * moment. MORVA_FLASH_BUNDLE is the bundle's path. */
#define MORVA_STR2(x) #x
#define MORVA_STR(x) MORVA_STR2(x)

__asm__(
    "  .section .rodata\n"
    "  .global morva_flash_bundle\n"
    "  .global morva_flash_bundle_end\n"
    "  .balign 16\n"
    "morva_flash_bundle:\n"
    "  .incbin \"" MORVA_STR(MORVA_FLASH_BUNDLE) "\"\n"
    "morva_flash_bundle_end:\n"
    "  .byte 0\n"
    "  .previous\n");

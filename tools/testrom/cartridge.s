| The test cartridge: a Mega Drive program that plays a frame stream into work
| RAM, one record per vertical blank, the way Sonic 2 keeps its variables. The
| stream (stream.bin, found on the assembler's include path) is made from a
| scenario of the stand-in by testrom_stream: each record is a short routine
| of stores; README.md describes it.
|
| Registers the vertical-blank handler keeps between interrupts (the program
| outside it only waits):
|   a6  the next record of the stream
|   d7  vertical blanks begun
|
| Assembled with --defsym OTHER_CARTRIDGE=1 it carries another game's header.

        .equ    STACK_TOP,      0x00FF0100      | the stack: 0xFF0000..0xFF00FF
        .equ    VDP_CONTROL,    0x00C00004
        .equ    VERSION,        0x00A10001
        .equ    TMSS,           0x00A14000
        .equ    DONE_MARKER,    0xA000          | 0xFFA000, word: the handler's last write
        .equ    BEGUN_MARKER,   0xFFFE          | 0xFFFFFE, word: the handler's first write


        .text
        .globl  start
| --- 68000 vectors ------------------------------------------------------------
vectors:
        .long   STACK_TOP
        .long   start
        .rept   26                      | bus error .. level 3
        .long   fault
        .endr
        .long   ignore                  | level 4: horizontal blank
        .long   ignore                  | level 5
        .long   vblank                  | level 6: vertical blank
        .rept   33                      | level 7, traps, reserved
        .long   fault
        .endr

| --- cartridge header at 0x100 -------------------------------------------------
header:
        .ascii  "SEGA MEGA DRIVE "
.ifdef OTHER_CARTRIDGE
        .ascii  "(C)RWTC 2026.DEC"
        .ascii  "RING TEST OTHER CARTRIDGE"
        .space  23, ' '
        .ascii  "RING TEST OTHER CARTRIDGE"
        .space  23, ' '
        .ascii  "GM 00000000-00"
        .byte   0x00, 0x00              | checksum
.else
        .ascii  "(C)SEGA 1997.Jan"
        .ascii  "SONIC COMPILATION"
        .space  31, ' '
        .ascii  "SONIC COMPILATION"
        .space  31, ' '
        .ascii  "GM MK-1190 -01"
        .byte   0x79, 0x5A              | checksum, as the cartridge carries it
.endif
        .ascii  "J"                     | I/O support
        .space  15, ' '
        .long   0, rom_end - 1          | ROM
        .long   0x00FF0000, 0x00FFFFFF  | RAM
        .space  12, ' '                 | no backup RAM
        .space  12, ' '                 | modem
        .space  40, ' '                 | memo
        .ascii  "JUE"                   | regions: the core picks the USA, 60 Hz
        .space  13, ' '

| --- start-up -------------------------------------------------------------------
start:
        move.w  #0x2700, %sr
        | Consoles with a version above 0 unlock the VDP with "SEGA".
        move.b  (VERSION).l, %d0
        andi.b  #0x0F, %d0
        beq.s   1f
        move.l  #0x53454741, (TMSS).l
1:
        tst.w   (VDP_CONTROL).l          | ends any half-written command
        lea     vdp_setup(%pc), %a0
        moveq   #vdp_setup_count - 1, %d1
2:      move.w  (%a0)+, (VDP_CONTROL).l
        dbra    %d1, 2b

        | Work RAM starts as zeros, as the stand-in's does.
        lea     0x00FF0000, %a0
        move.w  #0x4000 - 1, %d1
        moveq   #0, %d0
3:      move.l  %d0, (%a0)+
        dbra    %d1, 3b

        lea     stream, %a6
        moveq   #0, %d7
        move.w  #0x2500, %sr            | level 6 and above
idle:
        stop    #0x2500
        bra.s   idle

vdp_setup:
        .word   0x8004                  | no horizontal interrupt
        .word   0x8164                  | display on, vertical interrupt on, mode 5
        .word   0x8C81                  | 40 cells wide
        .word   0x8F02                  | address step 2
        .equ    vdp_setup_count, (. - vdp_setup) / 2

| --- vertical blank: one record of the stream ---------------------------------
| A record is code: it stores the frame's changes with immediates, points a6
| at the next record and returns (README.md).
vblank:
        movem.l %d2-%d4, -(%sp)
        addq.w  #1, %d7
        move.w  %d7, (BEGUN_MARKER).w
        jsr     (%a6)
        move.w  %d7, (DONE_MARKER).w
        movem.l (%sp)+, %d2-%d4
        rte

ignore:
        rte

fault:
        move.w  #0x2700, %sr
        bra.s   fault

        .balign 2
stream:
        .incbin "stream.bin"
        .balign 2
rom_end:

| The test cartridge: a Mega Drive program that plays a frame stream into work
| RAM the way Sonic 2 writes its variables. The stream (stream.bin, found on
| the assembler's include path) is made from a scenario of the stand-in by
| testrom_stream: code in parts, README.md describes it.
|
| As in the game, a frame is written by three pieces of code:
|  - the vertical-blank handler (the game's V_Int / Vint_Level): the
|    controllers (ReadJoypads), the timer (HudUpdate, from Do_Updates) and, as
|    its last act, the global frame counter (VintRet: addq.l #1,Vint_runcount);
|  - the main loop after its wait for the vertical blank (Level_MainLoop:
|    WaitForVint, then addq.w #1,Level_frame_counter, then RunObjects, the
|    rings manager and the objects manager), spread over the frame's lines;
|  - in a level with water, the horizontal interrupt at the water line, to
|    which Vint_Level hands Do_Updates (and so the timer) when the water is
|    high on the screen (H_Int: PalToCRAM, then Do_Updates).
| When the main loop has not reached its wait by the vertical blank, the game's
| handler finds Vint_routine cleared and takes Vint_Lag: it only increments
| the global frame counter. The cartridge does the same.
|
| Registers kept between the pieces:
|   a1  wait_blank: the main loop waits through a vertical blank that has no frame
|   a2  wait_lag: the main loop is busy through a vertical blank (a lag frame)
|   a3  wait_line: the main loop waits for the display line in d0
|   a4  the horizontal interrupt's part of this frame, or 0
|   a5  the next vertical blank's part of the stream
|   a6  the main loop's part of this frame
|   d6  what the main loop waits for (as the game's Vint_routine): 0 busy (a
|       vertical blank now is a lag frame), 1 a frame, 2 a blank
|   d7  vertical blanks begun
|
| Assembled with --defsym OTHER_CARTRIDGE=1 it carries another game's header.

        .equ    STACK_TOP,      0x00FF0100      | the stack: 0xFF0000..0xFF00FF
        .equ    VDP_CONTROL,    0x00C00004
        .equ    VDP_HV,         0x00C00008      | byte: the V counter
        .equ    GLOBAL_FRAME,   0xFE0C          | 0xFFFE0C, long: the game's global frame counter
        .equ    WATER_LINE,     80              | the horizontal interrupt's line (frame_stream.h)
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
        .long   hblank                  | level 4: horizontal blank
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

        lea     stream, %a5
        lea     idle(%pc), %a6
        suba.l  %a4, %a4
        lea     wait_blank(%pc), %a1
        lea     wait_lag(%pc), %a2
        lea     wait_line(%pc), %a3
        moveq   #0, %d7
        moveq   #2, %d6                 | until the main loop waits: blanks
        move.w  #0x2300, %sr            | levels 4 (horizontal) and 6 (vertical)
| The main loop: wait for the vertical blank, then run this frame's part.
main:
        moveq   #1, %d6
1:      tst.b   %d6
        bne.s   1b
        jsr     (%a6)
        bra.s   main
idle:
        rts

| The main loop's waits, called by its parts of the stream.
wait_blank:
        moveq   #2, %d6
1:      tst.b   %d6
        bne.s   1b
        rts
wait_lag:
        move.w  %d7, %d0
1:      cmp.w   %d7, %d0
        beq.s   1b
        rts
wait_line:                              | d0: a line of the display, 0..223
1:      btst    #3, (VDP_CONTROL + 1).l  | in the vertical blank: not yet
        bne.s   1b
        cmp.b   (VDP_HV).l, %d0
        bhi.s   1b
        rts

vdp_setup:
        .word   0x8014                  | horizontal interrupt on
        .word   0x8164                  | display on, vertical interrupt on, mode 5
        .word   0x8A00 + WATER_LINE     | horizontal interrupt counter
        .word   0x8C81                  | 40 cells wide
        .word   0x8F02                  | address step 2
        .equ    vdp_setup_count, (. - vdp_setup) / 2

| --- vertical blank --------------------------------------------------------------
vblank:
        move.l  %d0, -(%sp)
        addq.w  #1, %d7
        move.w  %d7, (BEGUN_MARKER).w
        tst.b   %d6
        beq.s   2f
        cmpi.b  #1, %d6
        bne.s   1f
        moveq   #0, %d6
        jsr     (%a5)                   | the frame's part: it points a6 (and a4) at the rest
        bra.s   3f
1:      moveq   #0, %d6                 | a blank: nothing
        bra.s   3f
2:      addq.l  #1, (GLOBAL_FRAME).w    | a lag frame: the global frame counter only
3:      move.w  %d7, (DONE_MARKER).w
        move.l  (%sp)+, %d0
        rte

| --- horizontal interrupt: the frame's part at the water line, once ---------------
hblank:
        cmpa.w  #0, %a4
        beq.s   1f
        jsr     (%a4)
        suba.l  %a4, %a4
1:      rte

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

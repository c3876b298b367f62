// The head of the assembly file: the title line, the processor line, the
// status-bit macros and the register equates of the chip family. Choosing the
// family also completes the mode word that the pattern tables select on.
#include "kestrel.h"

#include <cstring>

// One register equate of the file head.
struct equate { const char *name; int value; };

// equates of the 12-bit and 14-bit cores
static const equate small_core_equates[] = {
    {"indf", 0}, {"indf0", 0}, {"pc", 2}, {"pcl", 2}, {"status", 3},
    {"fsr", 4},  {"fsr0", 4},  {"c", 0},  {"z", 2},
};
// equates of the core with movlb/movlr bank selection
static const equate large_core_equates[] = {
    {"indf", 0},   {"indf0", 0},   {"fsr", 1},     {"fsr0", 1},  {"pcl", 2},     {"pc", 2},
    {"pclath", 3}, {"alusta", 4},  {"status", 4},  {"cpusta", 6}, {"indf1", 8},  {"fsr1", 9},
    {"wreg", 10},  {"tblptrl", 13}, {"tblptrh", 14}, {"bsr", 15}, {"prodl", 24}, {"prodh", 25},
};

// The eight status-bit macros, each exactly as the assembler reads it.
static const char *const status_macros[] = {
    "clrc\tmacro\n\tbcf\tstatus,0\n\tendm\n",    "clrz\tmacro\n\tbcf\tstatus,2\n\tendm\n",
    "setc\tmacro\n\tbsf\tstatus,0\n\tendm\n",    "setz\tmacro\n\tbsf\tstatus,2\n\tendm\n",
    "skipc\tmacro\n\tbtfss\tstatus,0\n\tendm\n", "skipz\tmacro\n\tbtfss\tstatus,2\n\tendm\n",
    "skipnc\tmacro\n\tbtfsc\tstatus,0\n\tendm\n", "skipnz\tmacro\n\tbtfsc\tstatus,2\n\tendm\n",
};

void emit_title_line()
{
    printf("opt subtitle \"Vormak Software Wyvern Code Generator build %s\"\n\n", "3884");
}

void emit_asm_header()
{
    run.mode_word |= MODE_AUTOSTATIC;
    if (chip.name)
        printf("\tprocessor\t%s\n", chip.name);
    for (const char *m : status_macros)
        fputs(m, stdout);
    switch (chip.family) {
    case 1:
        run.mode_word |= MODE_PIC12 | MODE_PICLOMID;
        break;
    case 2:
        run.mode_word |= MODE_PIC14 | MODE_PICMIDHI | MODE_PICLOMID;
        break;
    case 3:
        run.mode_word |= MODE_PIC17 | MODE_PICMIDHI;
        if (chip.name && !strcmp(chip.name, "17C42"))
            run.mode_word |= MODE_PIC42A;
        break;
    }
    if (chip.family == 1 || chip.family == 2)
        for (const equate &e : small_core_equates)
            printf("%s\tequ\t%d\n", e.name, e.value);
    if (chip.family == 3)
        for (const equate &e : large_core_equates)
            printf("%s\tequ\t%d\n", e.name, e.value);
    if (chip.family == 2)
        printf("pclath\tequ\t10\n");
}

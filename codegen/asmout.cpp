// The assembly text around the code: the psect pool and the psect lines,
// source position marks, the frame psect and the end of the file.
//
// Every output section is an entry of one fixed pool; an entry's flags are
// written with its first psect line only, later switches name it alone.
// Code selects the psect it wants as pending; the switch is written when the
// next line goes out, so a selection that no line follows writes nothing.
#include "kestrel.h"
#include "select.h"

#include <cstring>

// One entry of the psect pool.
struct psect_entry {
    const char *name;    // the name, or a format with one number
    const char *flags;   // written at the first use
};

// The pool, numbered from 1 (entry 0 is no psect).
static const psect_entry pool[PS_COUNT] = {
    {"", ""},                                                    // 0
    {"rbss_0", "class=BANK0,space=1"},                           // 1
    {"text%u", "local,class=CODE,delta=2"},                      // 2
    {"%s_text", "class=CODE,delta=2"},                           // 3 function name + _text: placed by name
    {"rdata_0", "class=BANK0,space=1"},                          // 4
    {"idata", "class=CODE,delta=2,space=0"},                     // 5
    {"common", "class=COMMON,space=1"},                          // 6
    {"strings", "class=CODE,delta=2,reloc=256"},                 // 7
    {"strexcept", "class=CODE,delta=2,reloc=256,size=256"},      // 8
    {"strmast", "class=CODE,delta=2,reloc=256"},                 // 9
    {"nvram", "class=BANK0,space=1"},                            // 10
    {"rbit_0", "class=BANK0,bit,space=1"},                       // 11
    {"maintext", "class=CODE,delta=2"},                          // 12
    {"intentry", "class=CODE,delta=2"},                          // 13
    {"swtext%u", "local,class=CODE,delta=2"},                    // 14
    {"data", "class=CODE,delta=2,reloc=256"},                    // 15
    {"functab", "class=CODE,delta=2,reloc=256"},                 // 16
    {"romdata", "class=CODE,space=0,delta=2,reloc=256"},         // 17
    {"nvbit", "class=BANK0,bit,space=1"},                        // 18
    {"strmast1", "class=CODE,delta=2,reloc=256"},                // 19
    {"strmast2", "class=CODE,delta=2,reloc=256"},                // 20
    {"intrtext", "class=CODE,delta=2"},                          // 21
    {"nvrram", "class=COMMON,space=1"},                          // 22
    {"nvbit", "class=COMMON,bit,space=1"},                       // 23
    {"rbss_1", "class=BANK1,space=1"},                           // 24
    {"rbss_2", "class=BANK2,space=1"},                           // 25
    {"rbss_3", "class=BANK3,space=1"},                           // 26
    {"rdata_1", "class=BANK1,space=1"},                          // 27
    {"rdata_2", "class=BANK2,space=1"},                          // 28
    {"rdata_3", "class=BANK3,space=1"},                          // 29
    {"rbit_0", "class=BANK0,bit,space=1"},                       // 30
    {"rbit_1", "class=BANK1,bit,space=1"},                       // 31
    {"rbit_2", "class=BANK2,bit,space=1"},                       // 32
    {"rbit_3", "class=BANK3,bit,space=1"},                       // 33
    {"rbit_c", "class=COMMON,bit,space=1"},                      // 34
    {"jmp_tab", "class=ENTRY,delta=2"},                          // 35
    {"functab", "class=ENTRY,delta=2"},                          // 36
    {"eeprom_data", "global,class=EEDATA,delta=2,space=2"},      // 37
    {"strings12", "class=ENTRY,delta=2,reloc=512"},              // 38
    {"idata12", "class=ENTRY,delta=2,space=0"},                  // 39
    {"nvram_1", "class=BANK1,space=1"},                          // 40 persistent objects of banks 1-3
    {"nvram_2", "class=BANK2,space=1"},                          // 41
    {"nvram_3", "class=BANK3,space=1"},                          // 42
    {"nvbit_1", "class=BANK1,bit,space=1"},                      // 43 persistent bits of banks 1-3
    {"nvbit_2", "class=BANK2,bit,space=1"},                      // 44
    {"nvbit_3", "class=BANK3,bit,space=1"},                      // 45
};

// The psect now selected and the one the next line wants.
static int current_psect;
int pending_psect;
// Entries whose flags were written.
static bool declared[PS_COUNT];
// Counter of function text psects: one per function, so the linker places
// every function apart.
static unsigned text_counter;
// The function whose "_text" psect entry 3 names.
static cg_symbol *text_function;
// Remembered source position of the line marks.
static const char *mark_file;
static int mark_line;

void switch_psect(bool force)
{
    if (dry_run || run.printf_pass || !pending_psect)
        return;
    if (pending_psect == current_psect && !force)
        return;
    const psect_entry &e = pool[pending_psect];
    std::string name;
    if (pending_psect == PS_FUNC_TEXT)
        name = str_printf(e.name, text_function ? sym_asm_name(text_function) : "");
    else if (pending_psect == PS_TEXT)
        name = str_printf(e.name, text_counter);
    else
        name = e.name;
    // every function's text psect is a new one (local, with its own number)
    bool first = !declared[pending_psect] || pending_psect == PS_TEXT || pending_psect == PS_FUNC_TEXT;
    if (first)
        printf("\tpsect\t%s,%s\n", name.c_str(), e.flags);
    else
        printf("\tpsect\t%s\n", name.c_str());
    declared[pending_psect] = true;
    current_psect = pending_psect;
}

// The psect of a function's code: _main's own, a psect of its own for a
// function at an absolute address, else the next numbered text psect.
// Every function's code is a psect of the CODE class, which the linker
// keeps within one page: a function's gotos and calls carry no page bits.
// main too (the start-up code jumps to it with its page): in the psect
// placed after the start-up code it could run across a page boundary.
void select_function_psect(cg_symbol *f)
{
    if (f->flags & SF_ABSOLUTE) {
        pending_psect = PS_FUNC_TEXT;
        text_function = f;
    } else {
        text_counter++;
        pending_psect = PS_TEXT;
    }
    current_psect = 0;   // a new text psect is declared even when the entry repeats
}

void emit_line_file(int line, const char *file, bool force)
{
    if (dry_run || !file)
        return;
    switch_psect(false);
    if (force || !mark_file || strncmp(file, mark_file, 79) != 0) {
        printf("\tfile\t\"%s\"\n", file);
        mark_file = file;
        mark_line = -1;
    }
    if (line != mark_line) {
        printf("\tline\t%d\n", line);
        mark_line = line;
    }
}

void emit_fnauto_psect(int bank)
{
    if (bank < 0)
        printf("\tPSECT\tfnautoc,class=COMMON,space=1\n\tFNCONF\tfnautoc,??,?\n");
    else
        printf("\tPSECT\tfnauto%d,class=BANK%d,space=1\n\tFNCONF\tfnauto%d,??,?\n", bank, bank, bank);
}

void emit_epilogue()
{
    emit_fnauto_psect(frame_bank);
    emit_apbank_macro(frame_bank);
    printf("\tend\n");
}

void psects_reset()
{
    current_psect = pending_psect = 0;
    for (bool &d : declared)
        d = false;
    text_counter = 0;
    text_function = nullptr;
    mark_file = nullptr;
    mark_line = -1;
}

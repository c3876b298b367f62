#!/usr/bin/env python3
"""Writes the chip headers of data/include from the public register maps.

For every chip section of data/dat/zeph.ini it reads the chip's register map,
the assembler include file p<chip>.inc that gputils installs, and writes our
own C header data/include/pic<chip>.h; then data/include/zeph.h, which picks
the header by the -D_<chip> macro the driver hands the preprocessor. Run it
by hand when a chip joins the database or a header's form changes, and
commit what it writes: the build installs the headers as they are checked in
and does not need gputils.

The register map is a list of "NAME EQU H'value'" lines in sections headed
";----- <title> ---": "Register Files" (the registers, bank by bank), "<REG>
Bits" (the bit numbers of one register) and "<WORD> Options" (the values of
one configuration word, AND-ed together in a program). A ";=====" banner
ends a section; the configuration and ID-location addresses stand outside
any section and are checked against the chip database.

A header declares:
  - each register once, as an extern volatile byte at its absolute address
    ("@ address"), so any number of C files of a program may include it;
    a register pair's 16-bit name (TMR1 beside TMR1L/TMR1H) is left out,
    its bytes are declared;
  - each named bit of a register that has a data address, as an extern
    volatile bit at its bit address, register address * 8 + bit number;
    a name the map gives to a bit of another address too (the LCD segment
    bits) names the bit listed first, the others are REGISTER_NAME;
  - the configuration values as macros, and __CONFIG and __IDLOC, which
    write the configuration and ID words through file-level in-line
    assembly into the psects config and idloc that the linker places.
Names that are no C identifiers or are keywords of this compiler are left
out.

Usage: gen_chip_headers.py [--inc DIR] [--root DIR]
"""
import argparse
import os
import re
import sys
import textwrap

EQU = re.compile(r"^([A-Za-z_][A-Za-z0-9_]*)\s+EQU\s+H'([0-9A-Fa-f]+)'")
RAM_LINE = re.compile(r"^\s+__(MAXRAM|BADRAM)\s+H'([0-9A-Fa-f]+)'(?:\s*-\s*H'([0-9A-Fa-f]+)')?")
SECTION = re.compile(r'^;-----\s*(.*?)\s*-+\s*$')
IDENT = re.compile(r'^[A-Za-z_][A-Za-z0-9_]*$')

# C keywords and the words this compiler's parser takes as keywords or
# qualifiers (bit, the bank and pointer qualifiers, interrupt, ...).
KEYWORDS = set('''
    auto break case char const continue default do double else enum extern float for goto if
    inline int long register restrict return short signed sizeof static struct switch typedef
    union unsigned void volatile while _Bool _Complex _Imaginary _Pragma
    asm bit sfr sfr16 bank0 bank1 bank2 bank3 far near interrupt persistent fastcall control
'''.split())


class ChipMap:
    """What one register map says: registers in map order, bits by
    register, configuration words with their values, and the other
    equates (configuration and ID-location addresses)."""

    def __init__(self):
        self.registers = []   # (name, address), map order
        self.bits = []        # (register, name, bit number), map order
        self.words = []       # (word name, [(macro, value)]), address order
        self.other = {}       # equates outside the sections
        self.maxram = None    # highest data address (__MAXRAM)
        self.badram = []      # unimplemented data addresses: (lo, hi), __BADRAM


def read_map(path):
    """Reads one register map; raises ValueError on a line it cannot place."""
    m = ChipMap()
    section = None
    with open(path, encoding='latin-1') as f:
        for number, line in enumerate(f, 1):
            if line.startswith(';====='):
                section = None
                continue
            s = SECTION.match(line)
            if s:
                title = s.group(1)
                if title == 'Register Files':
                    section = ('regs', None)
                elif title.startswith('Bank') and section and section[0] == 'regs':
                    pass
                elif title.endswith(' Bits'):
                    section = ('bits', title[:-5].strip())
                elif title.endswith(' Options'):
                    section = ('config', title[:-8].strip())
                    m.words.append((section[1], []))
                else:
                    section = None
                continue
            r = RAM_LINE.match(line)
            if r:
                lo = int(r.group(2), 16)
                if r.group(1) == 'MAXRAM':
                    m.maxram = lo
                else:
                    m.badram.append((lo, int(r.group(3), 16) if r.group(3) else lo))
                continue
            e = EQU.match(line)
            if not e:
                continue
            name, value = e.group(1), int(e.group(2), 16)
            if section is None:
                m.other[name] = value
            elif section[0] == 'regs':
                m.registers.append((name, value))
            elif section[0] == 'bits':
                if value > 7:
                    raise ValueError('%s:%d: bit %s of %s is numbered %d' % (path, number, name, section[1], value))
                m.bits.append((section[1], name, value))
            else:
                m.words[-1][1].append((name, value))
    return m


def read_chips(ini):
    """The chip sections of the database: [(name, {key: value})]."""
    chips = []
    with open(ini, encoding='latin-1') as f:
        for line in f:
            line = line.strip()
            if line.startswith('[') and line.endswith(']'):
                chips.append((line[1:-1], {}))
            elif chips and '=' in line and not line.startswith('#'):
                key, value = line.split('=', 1)
                chips[-1][1].setdefault(key.strip().upper(), value.strip())
    return chips


def hex_range(text):
    lo, hi = text.split('-')
    return int(lo, 16), int(hi, 16)


def usable(name):
    return bool(IDENT.match(name)) and name not in KEYWORDS


def pair_names(registers):
    """16-bit names of register pairs: N at the address of some XL, with
    XH at the next address."""
    at = {}
    for name, address in registers:
        at.setdefault(address, []).append(name)
    pairs = set()
    for name, address in registers:
        for low in at[address]:
            if low != name and low.endswith('L') and low[:-1] + 'H' in at.get(address + 1, []):
                pairs.add(name)
    return pairs


def header_registers(m):
    """The registers a header declares: [(name, address)], each name once
    at its lowest address (a map that lists a mirror gives it once)."""
    pairs = pair_names(m.registers)
    lowest = {}
    order = []
    for name, address in m.registers:
        if name in pairs or not usable(name):
            continue
        if name not in lowest:
            order.append(name)
            lowest[name] = address
        lowest[name] = min(lowest[name], address)
    return [(name, lowest[name]) for name in order]


def header_bits(m, registers):
    """The bits a header declares: [(register, name, bit address)]. A name
    already taken by a register or by a bit of another address becomes
    REGISTER_NAME; one taken by the same bit (an alias register's bit list)
    is declared once."""
    address_of = dict(m.registers)
    taken = {name: None for name, _ in registers}   # name -> bit address, None for a register
    out = []
    for register, name, number in m.bits:
        if register not in address_of:
            continue   # baseline OPTION and TRIS: written by instructions, no data address
        bit_address = address_of[register] * 8 + number
        if not usable(name):
            continue
        for candidate in (name, register + '_' + name):
            if candidate not in taken:
                taken[candidate] = bit_address
                out.append((register, candidate, bit_address))
                break
            if taken[candidate] == bit_address:
                break
        else:
            raise ValueError('bit %s of %s: both of its names are taken' % (name, register))
    return out


def check_against_database(keys, m, path):
    """The map's configuration and ID-location addresses are the database's."""
    lo, hi = hex_range(keys['CONFIG'])
    if len(m.words) != hi - lo + 1:
        raise ValueError('%s: %d configuration words, the database has %d' % (path, len(m.words), hi - lo + 1))
    for i, (word, _) in enumerate(m.words):
        if m.other.get('_' + word) != lo + i:
            raise ValueError('%s: %s is not at 0x%X as the database says' % (path, word, lo + i))
    lo, hi = hex_range(keys['IDLOC'])
    ids = [m.other.get('_IDLOC%d' % i, lo + i) for i in range(4)]
    if hi - lo != 3 or ids != list(range(lo, hi + 1)):
        raise ValueError('%s: ID locations %s, the database has %s' % (path, ids, keys['IDLOC']))


CONFIG_MACROS_1 = r'''/* __CONFIG(x) sets the configuration word, once in a program, at file
 * level; x is values above, AND-ed:
 *     __CONFIG(%s & %s);
 */
#define __CONFIG(x) asm("\tpsect config,class=CONFIG,delta=2"); asm("\tdw " __zeph_xstr(x))'''

CONFIG_MACROS_2 = r'''/* __CONFIG(x1, x2) sets both configuration words, %s and %s, once
 * in a program, at file level; each argument is values of its word AND-ed:
 *     __CONFIG(%s & %s, %s);
 * Both words go in one call, so that they follow one another in the psect
 * in address order. */
#define __CONFIG(x1, x2) asm("\tpsect config,class=CONFIG,delta=2"); \
    asm("\tdw " __zeph_xstr(x1) ", " __zeph_xstr(x2))'''

IDLOC_MACRO = r'''/* __IDLOC(x) writes the four hexadecimal digits of x into the four ID
 * locations, the most significant first: __IDLOC(0x1234) gives 1, 2, 3, 4. */
#define __IDLOC(x) asm("\tpsect idloc,class=IDLOC,delta=2"); \
    asm("\tdw (" __zeph_xstr(x) ")>>12&15, (" __zeph_xstr(x) ")>>8&15, (" \
        __zeph_xstr(x) ")>>4&15, (" __zeph_xstr(x) ")&15")'''


EEPROM_MACROS = r'''/* The data EEPROM.
 * __EEPROM_DATA(a, b, c, d, e, f, g, h) puts eight bytes into it when the
 * chip is programmed, after those of the uses before it (file level).
 * EEPROM_READ(address) is the byte at an address; EEPROM_WRITE(address,
 * value) writes one and waits until it is done (a read during a write
 * is not served), with the interrupts held off through the unlock
 * sequence. */
#define __EEPROM_DATA(a, b, c, d, e, f, g, h) \
    asm("\tpsect eeprom_data,class=EEDATA,delta=2,space=2"); \
    asm("\tdb\t" __zeph_xstr(a) "," __zeph_xstr(b) "," __zeph_xstr(c) "," __zeph_xstr(d) "," \
        __zeph_xstr(e) "," __zeph_xstr(f) "," __zeph_xstr(g) "," __zeph_xstr(h))
#define EEPROM_READ(address) (%(addr)s = (address), %(pgd)sRD = 1, %(data)s)
#define EEPROM_WRITE(address, value) do { \
        unsigned char __zeph_gie; \
        while (WR) \
            continue; \
        %(addr)s = (address); \
        %(data)s = (value); \
%(pgd_statement)s        WREN = 1; \
        __zeph_gie = GIE; \
        GIE = 0; \
        EECON2 = 0x55; \
        EECON2 = 0xAA; \
        WR = 1; \
        if (__zeph_gie) \
            GIE = 1; \
        WREN = 0; \
        while (WR) \
            continue; \
    } while (0)'''


def eeprom_lines(m):
    """The EEPROM macros, for a chip with a data EEPROM."""
    names = {name for name, _ in m.registers}
    bits = {name for _, name, _ in m.bits}
    data = 'EEDATA' if 'EEDATA' in names else 'EEDAT' if 'EEDAT' in names else None
    if not data or not {'EEADR', 'EECON1', 'EECON2'} <= names or not {'RD', 'WR', 'WREN', 'GIE'} <= bits:
        return []
    # data, not program memory: EEPGD cleared where the chip has it
    pgd = 'EEPGD' in bits
    text = EEPROM_MACROS % {'data': data, 'addr': 'EEADR', 'pgd': 'EEPGD = 0, ' if pgd else '',
                            'pgd_statement': '        EEPGD = 0; \\\n' if pgd else ''}
    return ['', text]


def example_values(values):
    """Two values of a word for a comment's example: the first, and the
    watchdog off where the word has it."""
    names = [n for n, _ in values if usable(n)] or ['0x3FFF']
    second = '_WDT_OFF' if '_WDT_OFF' in names else names[-1]
    return names[0], second


def guard(chip):
    return '__PIC%s_H' % chip.upper()


def comment_lines(chip, m):
    lines = [
        '/* Registers, bits and configuration values of the PIC%s.' % chip,
        ' *',
        ' * Generated by tools/gen_chip_headers.py from the public register map of',
        ' * the chip: do not edit; change the tool and run it again. Include',
        ' * <zeph.h>, which picks this file for --chip=%s.' % chip,
        ' *',
        ' * Registers are extern volatile bytes at their data address: each once, at',
        ' * its address in the lowest bank that shows it; a 16-bit pair as its two',
        ' * bytes. Bits are extern volatile bits at their bit address, the',
        ' * register\'s address * 8 + the bit number. A bit name that the map gives',
        ' * to bits of two addresses names the first; the others are REGISTER_NAME.',
    ]
    unplaced = [r for r in dict.fromkeys(r for r, _, _ in m.bits) if r not in dict(m.registers)]
    controls = [name for name, _ in control_registers(m)]
    if controls:
        names = ', '.join(controls[:-1]) + ' and ' + controls[-1] if len(controls) > 1 else controls[0]
        text = ('%s have no data address: they are declared control, and a store into one '
                'is made by the OPTION or TRIS instruction (OPTION at 0, a TRIS register at its '
                'port\'s address). They cannot be read, and their bits are left out.' % names)
        lines += [' *'] + [' * ' + line for line in textwrap.wrap(text, 73)]
    others = [r for r in unplaced if r not in controls]
    if others:
        names = ', '.join(others[:-1]) + ' and ' + others[-1] if len(others) > 1 else others[0]
        text = 'The bits of %s are left out: these registers have no data address.' % names
        lines += [' *'] + [' * ' + line for line in textwrap.wrap(text, 73)]
    return lines + [' */']


def control_registers(m):
    """The 12-bit cores' registers without a data address that instructions
    write: [(name, address)], OPTION at 0 and each TRIS register at its
    port's address. A map without an OPTION register is no 12-bit core's."""
    address_of = dict(m.registers)
    unplaced = [r for r in dict.fromkeys(r for r, _, _ in m.bits) if r not in address_of]
    if not any(r in ('OPTION', 'OPTION_REG') for r in unplaced):
        return []
    out = []
    for name in unplaced:
        if name in ('OPTION', 'OPTION_REG'):
            out.append((name, 0))
            continue
        port = {'TRIS': 'GPIO', 'TRISIO': 'GPIO', 'TRISGPIO': 'GPIO'}.get(name)
        if not port and name.startswith('TRIS') and len(name) == 5:
            port = 'PORT' + name[4]
        if port in address_of:
            out.append((name, address_of[port]))
    return out


def declaration_lines(m):
    registers = header_registers(m)
    bits = header_bits(m, registers)
    width = max(len(n) for n, _ in registers)
    lines = ['/* Registers */']
    lines += ['extern volatile unsigned char %-*s @ 0x%03X;' % (width, n, a) for n, a in registers]
    controls = control_registers(m)
    if controls:
        lines += ['', '/* Written by the OPTION and TRIS instructions */']
        lines += ['extern control volatile unsigned char %-*s @ 0x%03X;' % (width, n, a) for n, a in controls]
    address_of = dict(m.registers)
    current = None
    width = max([len(n) for _, n, _ in bits] + [1])
    for register, name, bit_address in bits:
        if register != current:
            current = register
            lines += ['', '/* %s bits: 0x%03X * 8 + bit */' % (register, address_of[register])]
        lines.append('extern volatile bit %-*s @ 0x%03X;' % (width, name, bit_address))
    return lines


def configuration_lines(m):
    lines = []
    for word, values in m.words:
        if not values:
            lines += ['', '/* %s (word at 0x%X) has no values: it is written 0x3FFF */' % (word, m.other['_' + word])]
            continue
        lines += ['', '/* %s values (word at 0x%X) */' % (word, m.other['_' + word])]
        width = max(len(n) for n, _ in values)
        lines += ['#define %-*s 0x%04X' % (width, n, v) for n, v in values if usable(n)]
    lines += ['',
              '/* The text of x after its macros are replaced, for the in-line assembly. */',
              '#define __zeph_str(x) #x',
              '#define __zeph_xstr(x) __zeph_str(x)',
              '']
    example = [example_values(values) for _, values in m.words]
    if len(m.words) == 1:
        lines.append(CONFIG_MACROS_1 % example[0])
    else:
        lines.append(CONFIG_MACROS_2 % (m.words[0][0], m.words[1][0], example[0][0], example[0][1], example[1][0]))
    return lines + ['', IDLOC_MACRO]


def write_header(chip, m, path):
    lines = comment_lines(chip, m)
    lines += ['#ifndef %s' % guard(chip), '#define %s' % guard(chip), '']
    lines += declaration_lines(m) + configuration_lines(m) + eeprom_lines(m)
    lines += ['', '#endif']
    with open(path, 'w', encoding='ascii', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


def write_selector(chips, path):
    lines = [
        '/* Registers, bits and configuration values of the chip being compiled for.',
        ' *',
        ' * Generated by tools/gen_chip_headers.py: includes pic<chip>.h for the',
        ' * -D_<chip> macro the driver defines for --chip=<chip>, so one source',
        ' * builds for several chips.',
        ' */',
        '#ifndef __ZEPH_H',
        '#define __ZEPH_H',
        '',
        '/* _delay(n) waits exactly n instruction cycles (n a constant): loops in',
        ' * place, not a call. */',
        'void _delay(unsigned long);',
        '/* With _XTAL_FREQ defined as the clock in Hz (four clocks a cycle):',
        ' * delays in microseconds and milliseconds. */',
        '#ifdef _XTAL_FREQ',
        '#define __delay_us(x) _delay((unsigned long)(x) * (_XTAL_FREQ / 4000UL) / 1000UL)',
        '#define __delay_ms(x) _delay((unsigned long)(x) * (_XTAL_FREQ / 4000UL))',
        '#endif',
        '',
    ]
    for i, (chip, _) in enumerate(chips):
        lines.append('#%s defined(_%s)' % ('if' if i == 0 else 'elif', chip))
        lines.append('#include <pic%s.h>' % chip.lower())
    lines += ['#else', '#error "zeph.h: no register header for the chip selected"', '#endif', '', '#endif']
    with open(path, 'w', encoding='ascii', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


# ---------------------------------------------------------------------------
# the chip database rows
# ---------------------------------------------------------------------------
#
# A row is made from two public files of the chip: its register map (above)
# and its linker script <chip>_g.lkr, whose lines
#     CODEPAGE  NAME=page0 START=0x0 END=0x7FF
#     DATABANK  NAME=gpr0  START=0x20 END=0x6F
#     SHAREBANK NAME=gprnobnk START=0x70 END=0x7F [PROTECTED]
# give program memory, the EEPROM (eedata at 2100h), the banks' general-
# purpose RAM and the RAM that several banks reach: SHAREBANK blocks of one
# name are one memory, the block without PROTECTED is where it lies, the
# others are where other banks reach it again. A protected block that no
# unprotected block of its name explains is RAM reached from elsewhere that
# the script does not say where: it is left out. The register map gives the
# core (the configuration word's address: FFFh on the 12-bit core, 2007h on
# the 14-bit core), the banks (__MAXRAM), the addresses that hold nothing
# (__BADRAM), the registers, the configuration and ID-location addresses,
# the oscillator calibration register, the EEPROM registers' bank and the
# bits that tell whether the program can read its own program memory.

SCRIPT_LINE = re.compile(r'^(CODEPAGE|DATABANK|SHAREBANK)\s+NAME=(\S+)\s+START=0x([0-9A-Fa-f]+)'
                         r'\s+END=0x([0-9A-Fa-f]+)\s*(PROTECTED)?')

# The families of the 12- and 14-bit cores, by the names of their maps.
FAMILY = re.compile(r'^p(1[026](?:C|CE|CR|F|HV|LF)\d+[A-Z0-9]*)\.inc$', re.I)

# The cores, by the address of the (first) configuration word:
# ARCH, bytes of a data bank, levels of the return stack.
CORES = {0xFFF: ('PIC12', 0x20, 2), 0x2007: ('PIC14', 0x80, 8)}

# Key order of a row.
ROW_KEYS = ['ARCH', 'ARCHCLASS', 'PROCID', 'ROMSIZE', 'BANKS', 'RAMBANK', 'COMMON', 'MIRROR', 'EEPROMSIZE',
            'DATABANK', 'CONFIG', 'IDLOC', 'OSCCAL', 'STACKDEPTH', 'INTSAVE', 'FLASHTYPE', 'FLASH_READ',
            'FLASH_WRITE', 'FLASH_ERASE']

# What the public files do not give, checked by hand against the data
# sheets for the chips the database had before it was generated: the
# processor number of debug files and the program-memory write facts
# (block sizes). A chip without them has no PROCID (debug files that carry
# it are refused) and is not said to write its program memory.
HAND_CHECKED = {
    '10F200': 'F200', '10F202': 'F202', '10F204': 'F204', '10F206': 'F206', '10F220': 'F220',
    '10F222': 'F222', '12F508': 'F508', '12F509': 'F509', '12F510': 'F510', '16F505': 'F505',
    '16F54': '6F54', '16F57': '6F57', '12F629': '2629', '12F675': '2675', '12F683': 'F683',
    '16F84A': '6F84', '16F627A': '627A', '16F628A': '628A', '16F648A': '648A', '16F676': '6676',
    '16F684': '6684', '16F688': '6688', '16F690': '6690', '16F716': 'F716', '16F73': '673F',
    '16F74': '674F', '16F76': '676F', '16F77': '677F', '16F818': '818F', '16F819': '819F',
    '16F87': '687F', '16F88': '688F', '16F873A': '873A', '16F874A': '874A', '16F876A': '876A',
    '16F877A': '877A', '16F882': '882F', '16F883': '883F', '16F884': '884F', '16F886': '886F',
    '16F887': '887F', '16F913': 'F913', '16F914': 'F914', '16F916': 'F916', '16F917': 'F917',
    '16F946': 'F946',
}
# FLASHTYPE, FLASH_WRITE, FLASH_ERASE from the data sheets: 4-word blocks
# erased as they are written (87xA), or 32-word rows erased apart and
# written 4 words at a time (818/819/87/88).
HAND_WRITES = {
    '16F873A': ('READWRITE_A', 4, None), '16F874A': ('READWRITE_A', 4, None),
    '16F876A': ('READWRITE_A', 4, None), '16F877A': ('READWRITE_A', 4, None),
    '16F818': ('READWRITE_B', 4, 0x20), '16F819': ('READWRITE_B', 4, 0x20),
    '16F87': ('READWRITE_B', 4, 0x20), '16F88': ('READWRITE_B', 4, 0x20),
}

# Where a linker script contradicts the register map and the data sheet,
# the row follows the data sheet. Each entry: the script's blocks of RAM to
# drop, the (lo, hi, source) ranges of RAM that reaches other RAM to add,
# and why.
SCRIPT_FIXES = {
    '16F873A': ([(0x110, 0x16F), (0x190, 0x1EF), (0x70, 0x7F)], [(0x20, 0x7F, None), (0xA0, 0xFF, None),
                (0x120, 0x17F, 0x20), (0x1A0, 0x1FF, 0xA0)],
                'the script gives the 16F876A\'s 368 bytes; the map leaves 110h-11Fh and 190h-19Fh '
                'unimplemented and the data sheet has 192 bytes, banks 2-3 reaching banks 0-1'),
}
for _chip in ('16F873', '16F874', '16F874A'):
    SCRIPT_FIXES[_chip] = SCRIPT_FIXES['16F873A']
SCRIPT_FIXES['16F73'] = ([], [(0x120, 0x17F, 0x20), (0x1A0, 0x1FF, 0xA0)],
                         'the script names the blocks of banks 2-3 apart from the RAM they reach (its '
                         'original lines, kept as comments, pair them); the data sheet has 192 bytes, '
                         'banks 2-3 reaching banks 0-1')
SCRIPT_FIXES['16F74'] = SCRIPT_FIXES['16F73']


class Block:
    def __init__(self, kind, name, lo, hi, protected):
        self.kind, self.name, self.lo, self.hi, self.protected = kind, name, lo, hi, protected


def read_script(path):
    """The CODEPAGE, DATABANK and SHAREBANK lines of a linker script."""
    blocks = []
    with open(path, encoding='latin-1') as f:
        for line in f:
            s = SCRIPT_LINE.match(line)
            if s:
                blocks.append(Block(s.group(1), s.group(2), int(s.group(3), 16), int(s.group(4), 16),
                                    bool(s.group(5))))
    return blocks


def family_chips(inc_dir):
    """The chips of the 12- and 14-bit cores among the register maps."""
    chips = []
    for name in os.listdir(inc_dir):
        f = FAMILY.match(name)
        if not f:
            continue
        with open(os.path.join(inc_dir, name), encoding='latin-1') as text:
            config = re.search(r"^_CONFIG1?\s+EQU\s+H'([0-9A-Fa-f]+)'", text.read(), re.M)
        if config and int(config.group(1), 16) in CORES:
            chips.append(f.group(1).upper())
    return sorted(chips, key=chip_order)


def chip_order(chip):
    """Section order: by the leading digits, the family letters, then the
    number: 10F200 < 12C508 < 16C54 < 16C505 < 16F54 < 16F505."""
    f = re.match(r'(\d+)([A-Z]+)(\d+)(.*)', chip)
    return (int(f.group(1)), f.group(2), int(f.group(3)), f.group(4))


def ranges_of(addresses):
    """Sorted addresses as [(lo, hi)] runs."""
    runs = []
    for a in sorted(addresses):
        if runs and runs[-1][1] == a - 1:
            runs[-1][1] = a
        else:
            runs.append([a, a])
    return [tuple(r) for r in runs]


def script_ram(chip, blocks):
    """General-purpose RAM of a script: the addresses where it lies, and
    {address: where it lies} for the addresses that reach it again."""
    own, alias = set(), {}
    fix = SCRIPT_FIXES.get(chip)
    gpr = [b for b in blocks if b.kind != 'CODEPAGE' and not b.name.startswith('sfr') and b.name != 'usbport']
    groups = {}
    for b in gpr:
        if fix and any(b.lo == lo and b.hi == hi for lo, hi in fix[0]):
            continue
        if b.kind == 'SHAREBANK':
            groups.setdefault(b.name, []).append(b)
        elif not b.protected:
            own.update(range(b.lo, b.hi + 1))
    for members in groups.values():
        home = [b for b in members if not b.protected]
        if len(home) != 1:
            continue
        h = home[0]
        own.update(range(h.lo, h.hi + 1))
        for b in members:
            if b.protected and b.hi - b.lo == h.hi - h.lo:
                alias.update({b.lo + i: h.lo + i for i in range(b.hi - b.lo + 1)})
    for lo, hi, source in fix[1] if fix else []:
        if source is None:
            own.update(range(lo, hi + 1))
        else:
            alias.update({lo + i: source + i for i in range(hi - lo + 1)})
    return own, alias


def map_address(m, name):
    return dict(m.registers).get(name)


def check_ram(chip, m, own, alias):
    """RAM that the map says holds nothing or a register: a script the map
    contradicts."""
    registers = {a for _, a in m.registers}
    bad = set()
    for lo, hi in m.badram:
        bad.update(range(lo, hi + 1))
    wrong = sorted(a for a in own | set(alias) if a > m.maxram or a in bad or a in registers)
    if wrong:
        runs = ', '.join('%X-%X' % r for r in ranges_of(wrong))
        raise ValueError('%s: the linker script has RAM at %s, where the register map has none' % (chip, runs))


def hex_pair(lo, hi):
    return '%02X-%02X' % (lo, hi)


def database_row(chip, m, blocks):
    """The row of one chip: ({key: value}, [comment lines])."""
    words = [m.other['_' + w] for w, _ in m.words]
    arch, bank_size, levels = CORES[words[0]]
    row, notes = {'ARCH': arch}, []
    if chip in HAND_CHECKED:
        row['PROCID'] = HAND_CHECKED[chip]
    else:
        notes.append('PROCID: not in the public files (debug files that carry it are refused)')
    # Program memory: the pages and the calibration word above them.
    pages = [b for b in blocks if b.kind == 'CODEPAGE' and (not b.protected or b.name.strip('.') == 'oscval')]
    row['ROMSIZE'] = '%X' % (max(b.hi for b in pages) + 1)
    banks = m.maxram // bank_size + 1
    row['BANKS'] = '%X' % banks
    own, alias = script_ram(chip, blocks)
    check_ram(chip, m, own, alias)
    bank_of = lambda a: a // bank_size
    # One range a bank at most: a run that goes on into the next bank
    # (12F529T39A's banks 4-7 are RAM throughout) is cut at the boundary.
    runs = [r for b in range(banks) for r in ranges_of(a for a in own if bank_of(a) == b)]
    row['RAMBANK'] = ','.join(hex_pair(lo, hi) for lo, hi in runs)
    # Common: bank-0 RAM that every other bank reaches at the same offset.
    common = [a for a in own if bank_of(a) == 0 and banks > 1 and
              all(alias.get(a + k * bank_size) == a for k in range(1, banks))]
    if common:
        runs = ranges_of(common)
        if len(runs) > 1:
            raise ValueError('%s: common RAM in %d pieces' % (chip, len(runs)))
        row['COMMON'] = hex_pair(*runs[0])
    # A bank without RAM of its own that reaches another bank's RAM, all of
    # it and only it, at the same offsets mirrors that bank.
    where = lambda a: alias.get(a, a if a in own else None)
    mirrors = []
    for high in range(1, banks):
        seen = {a % bank_size: where(a) for a in range(high * bank_size, (high + 1) * bank_size)
                if where(a) is not None}
        if not seen or any(bank_of(a) == high for a in own):
            continue
        for low in range(high):
            if not any(bank_of(a) == low for a in own):
                continue
            theirs = {a % bank_size: where(a) for a in range(low * bank_size, (low + 1) * bank_size)
                      if where(a) is not None}
            if theirs == seen:
                mirrors.append('%X-%X' % (low, high))
                break
    if mirrors:
        row['MIRROR'] = ','.join(mirrors)
    # EEPROM and the bank of its (and program memory's) data register.
    eedata = [b for b in blocks if b.kind == 'CODEPAGE' and b.name == 'eedata']
    if eedata and arch == 'PIC14':
        row['EEPROMSIZE'] = '%X' % (eedata[0].hi - eedata[0].lo + 1)
    elif [b for b in blocks if b.kind == 'CODEPAGE' and b.name == 'flashdata']:
        notes.append('flash data memory (self-written through EECON): not a data EEPROM here')
    bits = {(r, n) for r, n, _ in m.bits}
    reads = ('EECON1', 'EEPGD') in bits or ('PMCON1', 'RD') in bits
    data = next((map_address(m, n) for n in ('EEDATA', 'EEDAT', 'PMDATL', 'PMDATA', 'PMDAT')
                 if map_address(m, n) is not None), None)
    if ('EEPROMSIZE' in row or reads) and data is not None:
        row['DATABANK'] = '%X' % bank_of(data)
    row['CONFIG'] = '%X-%X' % (words[0], words[-1])
    # ID locations: the script's block (the maps of a few 16C chips have no
    # equates for them).
    ids = [b for b in blocks if b.kind == 'CODEPAGE' and b.name.strip('.') in ('idlocs', 'userid', 'usrlocs')]
    row['IDLOC'] = '%X-%X' % (ids[0].lo, ids[0].hi)
    osccal = map_address(m, 'OSCCAL')
    if osccal is not None:
        row['OSCCAL'] = '%X' % osccal
    # The enhanced 12-bit core saves its interrupt context in IW, ISTATUS,
    # IFSR and IBSR.
    if arch == 'PIC12' and {'IW', 'ISTATUS'} <= {n for n, _ in m.registers}:
        row['ARCHCLASS'] = 'PIC12E'
        notes.append('enhanced 12-bit core: its stack depth, BSR banking and added instructions are '
                     'not in the public files; built as a baseline chip')
    else:
        row['STACKDEPTH'] = '%X' % levels
    # A chip without common RAM whose other banks reach banks 0-1 saves its
    # interrupt context at the top of bank 0, which every bank reaches.
    if arch == 'PIC14' and 'COMMON' not in row and mirrors:
        row['INTSAVE'] = '%X' % max(a for a in own if bank_of(a) == 0)
    if reads:
        row['FLASHTYPE'], row['FLASH_READ'] = 'READ', '1'
        writes = ('EECON1', 'EEPGD') in bits and ('EECON1', 'WR') in bits
        if chip in HAND_WRITES:
            kind, write, erase = HAND_WRITES[chip]
            row['FLASHTYPE'], row['FLASH_WRITE'] = kind, '%X' % write
            if erase:
                row['FLASH_ERASE'] = '%X' % erase
        elif writes:
            notes.append('FLASH_WRITE: the map has EECON1 EEPGD and WR, the block sizes are not in the '
                         'public files: program-memory writes left out')
    return row, notes


DATABASE_HEAD = """\
# Chip database of the Zeph C compiler for PIC10/12/16 microcontrollers.
#
# Generated by tools/gen_chip_headers.py from the public register maps
# (p<chip>.inc) and linker scripts (<chip>_g.lkr) that gputils installs: do
# not edit; change the tool and run it again. Every chip of the 12-bit
# (baseline) and 14-bit (mid-range) cores those files describe has a
# section. A fact the files do not give is not guessed: the section's
# comment lines say what is missing, and what needs it is refused.
#
# One section per chip, named in brackets ([16F877A]); the driver finds a
# chip by its full name or by a tail of it that only one section ends with
# (877A finds 16F877A). Each line of a section is KEY=value, the value one
# token without blanks. Key names are read without regard to case; numbers
# are hexadecimal, with or without a 0x prefix. A range is lo-hi; a list of
# ranges is written lo-hi,lo-hi on one line, or as one range per line with
# the key repeated. Lines starting with # are comments. Key lines before the
# first section would serve every chip as defaults (this file has none).
#
# Keys:
#   ARCH        core: PIC12 (baseline, 12-bit words), PIC14 (mid-range,
#               14-bit words) or PIC16 (16-bit words); the configuration
#               word's address in the map tells (FFFh, 2007h)
#   ARCHCLASS   the instruction set where it is more than ARCH's: PIC12E,
#               the enhanced 12-bit core (interrupts, a bank register and
#               added instructions), which the tools treat as baseline
#   PROCID      processor number written into debug files (not in the
#               public files; given for the chips checked by hand)
#   ROMSIZE     program memory in words, including a calibration word at
#               the top (the oscillator value on chips with OSCCAL)
#   BANKS       number of data banks the bank-select bits address
#   RAMBANK     general-purpose RAM, one range per bank in bank order; the
#               range of bank 0 includes RAM common to all banks, a higher
#               bank lists only the RAM of its own (not the common bytes
#               that appear again at its top)
#   COMMON      RAM reached from every bank at the same address
#   MIRROR      b-m: bank m has no RAM of its own and reaches all of bank
#               b's at the same offsets (b below m); pairs separated by
#               commas
#   EEPROMSIZE  data EEPROM in bytes
#   DATABANK    bank of the EEPROM and program-memory data register
#   CONFIG      address range of the configuration words
#   IDLOC       address range of the ID locations
#   OSCCAL      data address of the oscillator calibration register
#   STACKDEPTH  levels of the hardware return stack
#   INTSAVE     a byte at the same offset in every bank (through MIRROR)
#               where an interrupt routine can save its context
#   SPAREBIT    a spare register bit that can hold the bank during an
#               interrupt (none of these chips needs one)
#   FLASHTYPE   program-memory access from the program: READ (read only),
#               READWRITE_1 (word writes), READWRITE_A (blocks of
#               FLASH_WRITE words, erased as they are written) or
#               READWRITE_B (rows of FLASH_ERASE words erased apart,
#               written in blocks of FLASH_WRITE words); writes only where
#               the data sheet was checked by hand, as the files do not
#               give the block sizes
#   FLASH_READ, FLASH_WRITE, FLASH_ERASE
#               words read, written and erased in one operation
#   ICD1RAM, ICD1ROM, ICD2RAM, ICD2ROM
#               RAM and program memory an in-circuit debugger keeps for
#               itself (ranges, at most four of each)
#   PROGMEM     text handed to the tools that program the chip
#   SFRFILE, MODULE, JARS, MANUFACTURER, COMPILER, DEBUGGER, DEFAULTMEM,
#   DEFAULTREG, MAKE
#               accepted and kept as text for other tools
#
# Where a linker script contradicts its register map, the data sheet
# decides; the tool's table of those scripts says why (16F73, 16F74, 16F873,
# 16F874, 16F873A, 16F874A: banks 2 and 3 reach the RAM of banks 0 and 1
# again, and the interrupt context goes to the byte INTSAVE names at the
# top of bank 0).
"""


def write_database(rows, path):
    lines = [DATABASE_HEAD.rstrip('\n')]
    for chip, row, notes in rows:
        lines += ['', '[%s]' % chip]
        lines += ['%s=%s' % (k, row[k]) for k in ROW_KEYS if k in row]
        lines += ['# ' + n for n in notes]
    with open(path, 'w', encoding='ascii', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


def report_changes(old, rows):
    """Prints where a row differs from the database it replaces."""
    before = dict(old)
    for chip, row, _ in rows:
        if chip not in before:
            continue
        keys = {k: v for k, v in before[chip].items() if k in ROW_KEYS}
        for k in ROW_KEYS:
            if keys.get(k) != row.get(k):
                print('%s: %s was %s, now %s' % (chip, k, keys.get(k), row.get(k)))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description='Writes data/dat/zeph.ini, data/include/pic<chip>.h and zeph.h '
                                             'from the register maps and linker scripts.')
    ap.add_argument('--inc', default='/usr/share/gputils/header', help='directory of the p<chip>.inc register maps')
    ap.add_argument('--lkr', default='/usr/share/gputils/lkr', help='directory of the <chip>_g.lkr linker scripts')
    ap.add_argument('--root', default=os.path.dirname(here), help='source tree (default: this tool\'s)')
    args = ap.parse_args()
    database = os.path.join(args.root, 'data', 'dat', 'zeph.ini')
    out_dir = os.path.join(args.root, 'data', 'include')
    os.makedirs(out_dir, exist_ok=True)
    try:
        rows, maps = [], {}
        for chip in family_chips(args.inc):
            maps[chip] = read_map(os.path.join(args.inc, 'p%s.inc' % chip.lower()))
            blocks = read_script(os.path.join(args.lkr, '%s_g.lkr' % chip.lower()))
            rows.append((chip,) + database_row(chip, maps[chip], blocks))
        old = read_chips(database) if os.path.exists(database) else []
        report_changes(old, rows)
        write_database(rows, database)
        chips = read_chips(database)
        for chip, keys in chips:
            source = os.path.join(args.inc, 'p%s.inc' % chip.lower())
            check_against_database(keys, maps[chip], source)
            write_header(chip, maps[chip], os.path.join(out_dir, 'pic%s.h' % chip.lower()))
    except (OSError, ValueError) as e:
        print('gen_chip_headers: %s' % e, file=sys.stderr)
        return 1
    write_selector(chips, os.path.join(out_dir, 'zeph.h'))
    print('%d chips: database %s, headers and zeph.h in %s' % (len(chips), database, out_dir))
    return 0


if __name__ == '__main__':
    sys.exit(main())

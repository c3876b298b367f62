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
    ids = [m.other.get('_IDLOC%d' % i) for i in range(4)]
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
    names = [n for n, _ in values if usable(n)]
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
    if unplaced:
        names = ', '.join(unplaced[:-1]) + ' and ' + unplaced[-1] if len(unplaced) > 1 else unplaced[0]
        text = ('The bits of %s are left out: these registers have no data address, '
                'the OPTION and TRIS instructions write them.' % names)
        lines += [' * ' + line for line in textwrap.wrap(text, 73)]
    return lines + [' */']


def declaration_lines(m):
    registers = header_registers(m)
    bits = header_bits(m, registers)
    width = max(len(n) for n, _ in registers)
    lines = ['/* Registers */']
    lines += ['extern volatile unsigned char %-*s @ 0x%03X;' % (width, n, a) for n, a in registers]
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


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description='Writes data/include/pic<chip>.h and zeph.h from the register maps.')
    ap.add_argument('--inc', default='/usr/share/gputils/header', help='directory of the p<chip>.inc register maps')
    ap.add_argument('--root', default=os.path.dirname(here), help='source tree (default: this tool\'s)')
    args = ap.parse_args()
    chips = read_chips(os.path.join(args.root, 'data', 'dat', 'zeph.ini'))
    out_dir = os.path.join(args.root, 'data', 'include')
    os.makedirs(out_dir, exist_ok=True)
    try:
        for chip, keys in chips:
            source = os.path.join(args.inc, 'p%s.inc' % chip.lower())
            m = read_map(source)
            check_against_database(keys, m, source)
            write_header(chip, m, os.path.join(out_dir, 'pic%s.h' % chip.lower()))
    except (OSError, ValueError) as e:
        print('gen_chip_headers: %s' % e, file=sys.stderr)
        return 1
    write_selector(chips, os.path.join(out_dir, 'zeph.h'))
    print('%d chip headers and zeph.h written to %s' % (len(chips), out_dir))
    return 0


if __name__ == '__main__':
    sys.exit(main())

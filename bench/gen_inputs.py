#!/usr/bin/env python3
# Writes the generated inputs of bench/scaling.sh, each of about LINES lines:
#   gen_inputs.py KIND LINES FILE
# KIND is one of
#   macros  C source for the preprocessor: one macro defined for every six
#           lines, all of them live to the end, each used twice
#   parse   preprocessed C for the parser: globals and functions of 200
#           statements (assignments, conditions, loops, calls)
#   asm     mid-range assembly for the assembler and the linker, in this
#           toolchain's syntax
#   gpasm   the same instructions in the peer assembler's syntax
import sys


def macros(lines, out):
    n = max(1, lines // 6)
    out.write("/* generated: %d macros */\n" % n)
    for i in range(n):
        out.write("#define M%d(a, b) ((a) + (b) * %d)\n" % (i, i & 255))
        out.write("#define K%d M%d(%d, 3)\n" % (i, i, i & 127))
        out.write("#ifdef M%d\n" % i)
        out.write("int v%d = K%d;\n" % (i, i))
        out.write("#endif\n")
        out.write("int w%d = M%d(v%d, K%d);\n" % (i, i, i, i))


def parse(lines, out):
    out.write('# 1 "big.c"\n')
    globals_ = 64
    for g in range(globals_):
        out.write("int g%d;\n" % g)
    out.write("int helper(int v) { return v + 1; }\n")
    written = globals_ + 2
    f = 0
    while written < lines:
        out.write("int f%d(int a, int b)\n{\n    int k, t;\n    t = a;\n" % f)
        for s in range(50):
            g = (f + s) % globals_
            out.write("    g%d = g%d + a * %d - (b >> 1);\n" % (g, (g + 1) % globals_, s))
            out.write("    if (t > %d) t = helper(t - b); else t = t + g%d;\n" % (s, g))
            out.write("    for (k = 0; k < b; k++) g%d += k & %d;\n" % (g, s + 1))
            out.write("    while (t > %d) t = t - (a | 1);\n" % (1000 + s))
        out.write("    return t;\n}\n")
        written += 206
        f += 1


def asm(lines, out, peer):
    """The same instructions in either syntax; the peer's code comes in
    sections of 4,000 blocks, as its assembler wraps a section at 64 KB."""
    blocks = max(1, lines // 8)
    if peer:
        out.write("\tprocessor\tp16f877a\n\tradix\tdec\n\tglobal\tmain\n")
        out.write("vars\tudata\nvar\tres\t1\n")
        var = "var"
    else:
        out.write("\tpsect\ttext0,class=CODE,delta=2\n\tglobal\t_main\n")
        var = "_var&07Fh"
    for i in range(blocks):
        if i == 0:
            out.write("prog0\tcode\nmain:\n" if peer else "_main:\n")
        elif peer and i % 4000 == 0:
            out.write("prog%d\tcode\n" % (i // 4000))
        out.write("l%d:\tmovlw\t%d\n" % (i, i & 255))
        out.write("\tmovwf\t%s\n" % var)
        out.write("\taddwf\t0x20+(%d&0x3F),f\n" % i)
        out.write("\tbtfsc\t3,2\n")
        out.write("\tgoto\tl%d\n" % i)
        out.write("\tcall\tl%d\n" % (i // 2))
        out.write("\tbsf\t3,5\n")
        out.write("\tretlw\t%d\n" % (i & 255))
    if peer:
        out.write("\tend\n")
    else:
        out.write("\tpsect\trbss_0,class=BANK0,space=1\n_var:\tds\t1\n")


def main():
    kind, lines, name = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    gens = {"macros": macros, "parse": parse,
            "asm": lambda n, out: asm(n, out, False), "gpasm": lambda n, out: asm(n, out, True)}
    with open(name, "w") as out:
        gens[kind](lines, out)


if __name__ == "__main__":
    main()

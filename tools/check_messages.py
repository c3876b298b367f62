#!/usr/bin/env python3
"""Checks the message description file against the sources.

Every call msg_report(N, ...), msg_report_once(N, ...) or msg_report_text(N,
...) with a literal number must name a number that data/dat/en_msgs.txt
describes, and for msg_report / msg_report_once the printf placeholders of
that text must match the arguments passed: their count, and for the
placeholders whose argument is a string literal, a string placeholder.
Mismatches are undefined behaviour at run time, so they fail the build's tests.
"""
import os
import re
import sys

CALL = re.compile(r'\bmsg_(report|report_once|vreport)\s*\(\s*(\d+)\s*([,)])')
SPEC = re.compile(r'%(?:%|[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|j|z|t|L)?([diouxXeEfgGcspnm]))')
SOURCE_DIRS = ['common', 'c', 'driver', 'preprocessor', 'parser', 'codegen', 'assembler',
               'librarian', 'linker', 'hex', 'converter', 'utilities', 'wininst']


def load_messages(path):
    msgs = {}
    with open(path, encoding='latin-1') as f:
        for line in f:
            line = line.rstrip('\r\n')
            if not line or line.startswith('#'):
                continue
            m = re.match(r'\s*(\d+)[ \t]+(\S+)[ \t]?(.*)$', line)
            if m:
                msgs[int(m.group(1))] = (m.group(2), m.group(3))
    return msgs


def split_args(text, start):
    """Splits the argument list that starts after the number; returns the list
    of argument texts (top level commas) or None when unbalanced."""
    depth = 0
    args = []
    cur = ''
    i = start
    in_str = None
    while i < len(text):
        c = text[i]
        if in_str:
            cur += c
            if c == '\\':
                cur += text[i + 1]
                i += 2
                continue
            if c == in_str:
                in_str = None
        elif c in '"\'':
            in_str = c
            cur += c
        elif c in '([{':
            depth += 1
            cur += c
        elif c in ')]}':
            if depth == 0:
                if cur.strip():
                    args.append(cur.strip())
                return args
            depth -= 1
            cur += c
        elif c == ',' and depth == 0:
            args.append(cur.strip())
            cur = ''
        else:
            cur += c
        i += 1
    return None


def placeholders(text):
    out = []
    for m in SPEC.finditer(text):
        conv = m.group(1)
        if conv is None or conv == 'm':
            continue
        stars = m.group(0).count('*')
        out.extend(['*'] * stars)
        out.append(conv)
    return out


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else '.'
    msgs = load_messages(os.path.join(root, 'data', 'dat', 'en_msgs.txt'))
    problems = []
    calls = 0
    for d in SOURCE_DIRS:
        base = os.path.join(root, d)
        for dirpath, _, files in os.walk(base):
            if '/tests' in dirpath:
                continue
            for name in files:
                if not name.endswith(('.cpp', '.h', '.cc', '.hpp')):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding='utf-8', errors='replace') as f:
                    text = f.read()
                for m in CALL.finditer(text):
                    calls += 1
                    kind, num = m.group(1), int(m.group(2))
                    where = '%s:%d' % (os.path.relpath(path, root), text.count('\n', 0, m.start()) + 1)
                    if num not in msgs:
                        problems.append('%s: message %d has no line in en_msgs.txt' % (where, num))
                        continue
                    if kind == 'vreport':
                        continue
                    args = [] if m.group(3) == ')' else split_args(text, m.end())
                    if args is None:
                        continue
                    wanted = placeholders(msgs[num][1])
                    if len(wanted) != len(args):
                        problems.append('%s: message %d "%s" takes %d arguments, %d passed'
                                        % (where, num, msgs[num][1], len(wanted), len(args)))
                        continue
                    for conv, arg in zip(wanted, args):
                        if arg.startswith('"') and conv != 's':
                            problems.append('%s: message %d: string literal for %%%s' % (where, num, conv))
    for p in problems:
        print(p)
    print('%d message calls checked, %d problems' % (calls, len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())

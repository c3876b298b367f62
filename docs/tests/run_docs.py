#!/usr/bin/env python3
"""Runs the commands of the user manual, so that it cannot drift from the
programs.

    run_docs.py BINDIR FILE.md...

The fence tag of a block in the Markdown says what the test does with it:

  ```sh              commands: run by bash (-e -o pipefail), which must succeed
  ```sh fails        commands that must fail (a non-zero exit status)
  ```LANG file=NAME  a file: written as NAME before the blocks after it run
  ```text output     what the sh block just before it prints: every line that
                     is not "..." must appear in that output, in this order
                     (blanks at the ends of lines do not count; "..." in a
                     line stands for any text)

Any other block (```text, ```c or ```asm without file=, ```make ...) is prose
and is not run. Each Markdown file runs in a fresh temporary folder, its
blocks in order, with BINDIR first on PATH: the build tree's programs, which
find their data beside them. Each block has 120 seconds.

Exits 77 (the test is skipped) when gpsim or make is not installed.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(.*)$")


def blocks(path):
    """(line number, info string, text) of each fenced block of the file."""
    out = []
    info, start, body = None, 0, []
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            m = FENCE.match(line.rstrip("\n"))
            if info is None and m:
                info, start, body = m.group(1).strip(), n, []
            elif info is not None and line.rstrip("\n") == "```":
                out.append((start, info, "".join(body)))
                info = None
            elif info is not None:
                body.append(line)
    if info is not None:
        raise SystemExit(f"{path}:{start}: block not closed")
    return out


def expect_lines(where, output, expected):
    """Fails unless each expected line appears in output, in order."""
    got = [l.rstrip() for l in output.splitlines()]
    at = 0
    for want in expected.splitlines():
        want = want.rstrip()
        if not want or want == "...":
            continue
        pattern = re.compile(".*".join(re.escape(part) for part in want.split("...")) + "$")
        while at < len(got) and not pattern.match(got[at]):
            at += 1
        if at == len(got):
            return f"{where}: line not in the output (or out of order): {want!r}"
        at += 1
    return None


def run_file(path, env):
    failures = []
    folder = tempfile.mkdtemp(prefix="zeph_docs_")
    last_output, last_where = None, None
    try:
        for line, info, text in blocks(path):
            where = f"{os.path.basename(path)}:{line}"
            words = info.split()
            if not words:
                continue
            named = [w[5:] for w in words if w.startswith("file=")]
            if named:
                with open(os.path.join(folder, named[0]), "w", encoding="utf-8") as f:
                    f.write(text)
            elif words[0] == "sh":
                must_fail = "fails" in words[1:]
                try:
                    r = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", text], cwd=folder, env=env,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                       stdin=subprocess.DEVNULL, text=True, timeout=120)
                    status, last_output = r.returncode, r.stdout
                except subprocess.TimeoutExpired:
                    status, last_output = None, "(timed out)"
                last_where = where
                if status is None or (status != 0) != must_fail:
                    failures.append(f"{where}: exit status {status}, expected "
                                    f"{'non-zero' if must_fail else '0'}\n{text}--- output:\n{last_output}")
            elif words[:2] == ["text", "output"]:
                if last_output is None:
                    failures.append(f"{where}: an output block with no sh block before it")
                    continue
                problem = expect_lines(f"{where} (output of {last_where})", last_output, text)
                if problem:
                    failures.append(f"{problem}\n--- output:\n{last_output}")
    finally:
        if failures:
            print(f"{path}: files left in {folder}")
        else:
            shutil.rmtree(folder, ignore_errors=True)
    return failures


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    for tool in ("gpsim", "make"):
        if not shutil.which(tool):
            print(f"{tool} is not installed: the manual's commands are not run")
            return 77
    env = dict(os.environ)
    env["PATH"] = os.path.abspath(sys.argv[1]) + os.pathsep + env.get("PATH", "")
    env["LC_ALL"] = "C"
    failures = []
    for path in sys.argv[2:]:
        failures += run_file(path, env)
    for f in failures:
        print(f, end="\n\n")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The docs test: runs the commands of README.md and docs/*.md as a reader would.

    check_docs.py SOURCE_DIR BUILD_DIR [FILE.md...]

The markdown's convention:

- A fenced block whose lines start with "$ " is a transcript: each "$ " line
  is a command (a line ending in a backslash goes on on the next line), the
  lines after it up to the next "$ " line the output it must print (standard
  output and standard error as one, as a terminal shows them). A line "..."
  stands for any number of lines. The command must end with exit code 0,
  unless the marker before the block says "exit N".
- A fenced "sh" block without "$ " lines is a script a reader runs: it runs
  whole in bash and must end with exit code 0; what it prints is not compared.
- A marker, an HTML comment on the line just before the fence, changes that:
    <!-- docs-test: skip REASON -->   not run; the test prints the reason
    <!-- docs-test: slow REASON -->   run only with ZRV_DOCS_SLOW=1 (builds)
    <!-- docs-test: exit N -->        every command of the transcript exits N
- "bat" (and "cmd", "powershell") blocks are Windows commands: left out, and
  said so.
- Other blocks (json, c, python, yaml, plain text) are not commands.
- <!-- docs-test: reasons --> before a table of load reasons: its rows
  (code, words) must be the rows of include/zorvik/reasons.h.

Each file runs in a fresh folder of its own, whose entries point into the
source tree and whose build/default is BUILD_DIR (for a slow block: an empty
build/, a fresh build tree), with a private HOME, XDG_RUNTIME_DIR (the keepalive
state) and TMPDIR, and ZRV_IN_DOCS_TEST=1, so that a "ctest" in the docs
does not run this test again. Blocks of a file run in order in that folder, as a reader
goes down the page.
"""
import difflib
import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^(\s*)(```+)\s*([\w-]*)\s*$")
MARKER = re.compile(r"^\s*<!--\s*docs-test:\s*(\w+)\s*(.*?)\s*-->\s*$")


class Block:
    def __init__(self, path, line, info, lines, marker):
        self.path, self.line, self.info, self.lines = path, line, info, lines
        self.kind, self.arg = marker if marker else (None, "")

    def where(self):
        return f"{self.path}:{self.line}"


def blocks_of(path, text):
    """The fenced blocks of a markdown file, with the marker before each."""
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        m = FENCE.match(lines[i])
        if not m:
            i += 1
            continue
        indent, fence, info = m.group(1), m.group(2), m.group(3)
        prev = lines[i - 1] if i > 0 else ""
        mm = MARKER.match(prev)
        body = []
        j = i + 1
        while j < len(lines) and lines[j].strip() != fence:
            body.append(lines[j][len(indent):] if lines[j].startswith(indent) else lines[j].lstrip())
            j += 1
        yield Block(path, i + 1, info, body, (mm.group(1), mm.group(2)) if mm else None)
        i = j + 1


def transcript(lines):
    """[(command, expected output lines)] of a "$ " block."""
    steps = []
    i = 0
    while i < len(lines):
        if not lines[i].startswith("$ "):
            raise ValueError(f"line {i + 1} of the block is output before any command")
        cmd = lines[i][2:]
        while cmd.endswith("\\") and i + 1 < len(lines):
            i += 1
            cmd = cmd + "\n" + lines[i]
        i += 1
        out = []
        while i < len(lines) and not lines[i].startswith("$ "):
            out.append(lines[i])
            i += 1
        steps.append((cmd, out))
    return steps


def matches(expected, got):
    """Line by line; "..." takes any number of lines."""
    if not expected:
        return not got
    if expected[0] == "...":
        return any(matches(expected[1:], got[k:]) for k in range(len(got) + 1))
    return bool(got) and expected[0] == got[0] and matches(expected[1:], got[1:])


def make_folder(src, build, fresh_build):
    """A folder that looks like the source tree, build/default being BUILD_DIR."""
    top = tempfile.mkdtemp(prefix="zrv-docs-")
    for name in os.listdir(src):
        if name not in ("build", ".git"):
            os.symlink(os.path.join(src, name), os.path.join(top, name))
    os.mkdir(os.path.join(top, "build"))
    if not fresh_build:
        os.symlink(build, os.path.join(top, "build", "default"))
    return top


def run(cmd, cwd, env):
    p = subprocess.run(["bash", "-c", cmd], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return p.returncode, p.stdout.decode("utf-8", "replace")


def session(cmds, cwd, env):
    """The commands of a transcript in one shell, as typed at one prompt:
    the exit code and the output lines of each."""
    mark = "@@docs-test-exit-code"
    script = "".join(f"{c}\nprintf '\\n{mark} %d\\n' $?\n" for c in cmds)
    _, out = run(script, cwd, env)
    rcs, outs, lines = [], [], []
    for line in out.split("\n"):
        if line.startswith(mark + " "):
            rcs.append(int(line.split()[1]))
            outs.append(lines[:-1] if lines and lines[-1] == "" else lines)
            lines = []
        else:
            lines.append(line)
    while len(rcs) < len(cmds):  # the shell ended early (exit in a command)
        rcs.append(None)
        outs.append(lines)
        lines = []
    return rcs, outs


def reason_rows(src):
    """{code: words} from the rows of include/zorvik/reasons.h."""
    text = open(os.path.join(src, "include/zorvik/reasons.h"), encoding="utf-8").read()
    rows = {}
    for m in re.finditer(r"X\((\d+),\s*\w+,((?:\s*\\?\s*\"(?:[^\"\\]|\\.)*\")+)\)", text):
        words = "".join(re.findall(r"\"((?:[^\"\\]|\\.)*)\"", m.group(2)))
        rows[int(m.group(1))] = words.replace('\\"', '"')
    return rows


def check_reasons(path, text, src):
    """The table after <!-- docs-test: reasons -->: | code | `words` | ... |"""
    lines = text.split("\n")
    start = next((i for i, l in enumerate(lines) if MARKER.match(l) and MARKER.match(l).group(1) == "reasons"), None)
    if start is None:
        return None
    table = {}
    for l in lines[start + 3:]:
        if not l.startswith("|"):
            break
        cells = [c.strip() for c in l.strip("|").split("|")]
        table[int(cells[0])] = cells[1].strip("`")
    code = reason_rows(src)
    problems = [] if code and table else [f"no reasons read from reasons.h ({len(code)}) or {path} ({len(table)})"]
    for c in sorted(set(code) | set(table)):
        if code.get(c) != table.get(c):
            problems.append(f"reason {c}: the code says {code.get(c)!r}, {path} says {table.get(c)!r}")
    return problems


def main():
    src, build = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    if os.environ.get("ZRV_IN_DOCS_TEST"):
        print("docs test: not run again from a command of the docs test")
        return 77
    files = sys.argv[3:] or ["README.md"] + sorted(
        os.path.join("docs", f) for f in os.listdir(os.path.join(src, "docs")) if f.endswith(".md"))
    slow = os.environ.get("ZRV_DOCS_SLOW") == "1"
    passed = failed = left = 0
    for path in files:
        text = open(os.path.join(src, path), encoding="utf-8").read()
        problems = check_reasons(path, text, src)
        if problems is not None:
            print("\n".join(f"FAIL {p}" for p in problems) if problems else f"ok {path}: the reasons table")
            failed, passed = failed + bool(problems), passed + (not problems)
        state = tempfile.mkdtemp(prefix="zrv-docs-state-")
        env = {k: v for k, v in os.environ.items() if not k.startswith(("ZORVIK_", "ZRV_KEEPALIVE"))}
        env.update(HOME=state, XDG_RUNTIME_DIR=state, TMPDIR=state, ZRV_IN_DOCS_TEST="1", LC_ALL="C.UTF-8")
        folder = make_folder(src, build, False)
        made = [state, folder]
        for b in blocks_of(path, text):
            has_prompt = any(l.startswith("$ ") for l in b.lines)
            if b.kind not in (None, "skip", "slow", "exit"):
                print(f"FAIL {b.where()}: the marker before it is no docs-test marker: {b.kind} {b.arg}")
                failed += 1
                continue
            if b.info in ("bat", "cmd", "powershell"):
                print(f"left out {b.where()}: Windows commands" + (f" ({b.arg})" if b.arg else ""))
                left += 1
                continue
            if not has_prompt and b.info != "sh":
                continue
            if b.kind == "skip" or (b.kind == "slow" and not slow):
                print(f"left out {b.where()}: {b.arg}" + (" (ZRV_DOCS_SLOW=1 runs it)" if b.kind == "slow" else ""))
                left += 1
                continue
            cwd = folder
            if b.kind == "slow":
                cwd = make_folder(src, build, True)
                made.append(cwd)
            if not has_prompt:
                rc, out = run("set -e\n" + "\n".join(b.lines), cwd, env)
                ok = rc == 0
                report = f"exit code {rc}, not 0; it printed:\n{out}"
            else:
                want_rc = int(b.arg) if b.kind == "exit" else 0
                steps = transcript(b.lines)
                rcs, outs = session([cmd for cmd, _ in steps], cwd, env)
                ok, report = True, ""
                for (cmd, expected), rc, got in zip(steps, rcs, outs):
                    if rc == want_rc and matches(expected, got):
                        continue
                    ok = False
                    report += f"$ {cmd}\nexit code {rc}" + (f", the docs: {want_rc}\n" if rc != want_rc else "\n")
                    if not matches(expected, got):
                        diff = difflib.unified_diff(expected, got, "the docs", "printed", lineterm="")
                        report += "".join(l + "\n" for l in diff)
            if ok:
                print(f"ok {b.where()}")
                passed += 1
            else:
                print(f"FAIL {b.where()}:\n{report}")
                failed += 1
        for d in made:  # symbolic links are removed, not followed
            shutil.rmtree(d, ignore_errors=True)
    print(f"docs: {passed} passed, {failed} failed, {left} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The load's reason codes as include/zorvik/reasons.h defines them, for
zorvik.sys's System event log messages: one message per reason code, its
words from the header's rows, the function as insertion string %2 and the
configured back-end as %3.

    reasons.py HEADER --mc OUT.mc    writes the message file for windmc -c

check_exe.py --messages checks an image's message table against the same
header through this module."""
import argparse
import ast
import re
import sys

# A row's words may be string literals side by side, over continued lines.
ROW = re.compile(r'X\((\d+),\s*(\w+),\s*((?:"(?:[^"\\]|\\.)*"\s*)+)\)')
LITERAL = re.compile(r'"(?:[^"\\]|\\.)*"')
BASE = re.compile(r"#define\s+ZRV_REASON_EVENT_BASE\s+0x([0-9A-Fa-f]+)u?\b")


def rows(header_text):
    """[(code, NAME, words)] of ZRV_REASON_ROWS, in code order."""
    text = header_text.replace("\\\n", "\n")
    found = [(int(c), name, "".join(ast.literal_eval(w) for w in LITERAL.findall(words)))
             for c, name, words in ROW.findall(text)]
    if not found or [c for c, _, _ in found] != list(range(len(found))):
        raise ValueError("reason rows not found, or their codes are not 0, 1, 2, ...")
    return found


def event_base(header_text):
    """ZRV_REASON_EVENT_BASE: the event code of reason 0."""
    m = BASE.search(header_text)
    if not m:
        raise ValueError("no ZRV_REASON_EVENT_BASE")
    return int(m.group(1), 16)


def message(code, words):
    """The message of a reason code as the table holds it, without the line
    end (a "%" of the words doubled, as FormatMessage takes it)."""
    words = words.replace("%", "%%")
    if code == 0:
        return "The %2 is bound. Configured back-end: %3."
    return f"The %2 is not bound: {words}. Configured back-end: %3."


def mc_text(header_text):
    """The message file: severity, customer bit and facility from the base,
    message id = the reason code."""
    base = event_base(header_text)
    severity, customer, facility = base >> 30, base >> 29 & 1, base >> 16 & 0xFFF
    if not customer or base & 0xFFFF:
        raise ValueError("ZRV_REASON_EVENT_BASE needs the customer bit and a code of 0")
    out = [
        "; zorvik.sys's System event log messages, one per reason code of",
        "; include/zorvik/reasons.h; made by tools/reasons.py at build time.",
        "MessageIdTypedef=NTSTATUS",
        f"SeverityNames=(Warning=0x{severity:x})",
        f"FacilityNames=(Zorvik=0x{facility:x})",
        "LanguageNames=(English=0x409:MSG00409)",
        "",
    ]
    for code, name, words in rows(header_text):
        out += [f"MessageId={code}", "Severity=Warning", "Facility=Zorvik", f"SymbolicName=ZRV_EVENT_{name}",
                "Language=English", message(code, words), ".", ""]
    return "\n".join(out)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("header")
    parser.add_argument("--mc", required=True)
    args = parser.parse_args(argv)
    with open(args.header, encoding="utf-8") as f:
        text = mc_text(f.read())
    with open(args.mc, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Every command, verb and option that `brenwick-cli --help` and each `COMMAND --help` (and each verb's
`--help`) list must appear in the manual page and in the bash completion.

Usage: help_coverage_test.py BRENWICK_CLI MANPAGE COMPLETION
"""
import re
import subprocess
import sys

ENTRY = re.compile(r"^  ([a-z][a-z0-9-]*)\s{2,}\S", re.M)         # "  burn     Record the ..."
OPTION = re.compile(r"(?:^|(?<=[\s,\[(|'\"]))(--?[A-Za-z][A-Za-z0-9-]*)")


def help_text(cli, *args):
    run = subprocess.run([cli, *args, "--help"], capture_output=True, text=True, timeout=60)
    return run.stdout + run.stderr


def entries(text):
    """The commands or verbs a help text lists (not its argument names, which are upper case)."""
    return [name for name in ENTRY.findall(text) if name != "help"]


def options(text):
    return set(OPTION.findall(text))


def roff_text(path):
    text = open(path, encoding="utf-8").read()
    text = re.sub(r"\\f[BIRP]", "", text)
    return text.replace("\\-", "-").replace("\\&", "")


def has_word(text, word):
    return re.search(r"(?<![A-Za-z0-9-])" + re.escape(word) + r"(?![A-Za-z0-9-])", text) is not None


def main():
    cli, manpage, completion = sys.argv[1:4]
    man = roff_text(manpage)
    comp = open(completion, encoding="utf-8").read()

    wanted = {}  # word -> where the help listed it
    top = help_text(cli)
    for word in options(top):
        wanted.setdefault(word, "brenwick-cli --help")
    commands = entries(top)
    if not commands:
        sys.exit("no commands found in brenwick-cli --help:\n" + top)
    for command in commands:
        wanted.setdefault(command, "brenwick-cli --help")
        text = help_text(cli, command)
        for word in options(text):
            wanted.setdefault(word, f"brenwick-cli {command} --help")
        for verb in entries(text):
            wanted.setdefault(verb, f"brenwick-cli {command} --help")
            for word in options(help_text(cli, command, verb)):
                wanted.setdefault(word, f"brenwick-cli {command} {verb} --help")

    missing = []
    for word, source in sorted(wanted.items()):
        for name, text in (("manual page", man), ("completion", comp)):
            if not has_word(text, word):
                missing.append(f"{word} (from {source}) is missing from the {name}")
    if missing:
        sys.exit("\n".join(missing))
    print(f"{len(wanted)} commands, verbs and options, each in the manual page and the completion")


if __name__ == "__main__":
    main()

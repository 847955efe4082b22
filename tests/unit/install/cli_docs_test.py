#!/usr/bin/env python3
"""The client's own --help, its manual page and its bash completion must agree: every
subcommand and every option that --help lists is offered by the completion at that place and
appears in the manual page.
    cli_docs_test.py CARVIX MANPAGE COMPLETION"""
import re
import subprocess
import sys

carvix, manpage, completion = sys.argv[1:4]

# Completion runs with bash-completion's two helpers replaced by the same stand-ins as
# completion_test.sh uses.
STAND_INS = r'''
_init_completion() {
    words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD
    cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD - 1]}
}
_filedir() { COMPREPLY=(FILE); }
'''


def help_of(path):
    done = subprocess.run([carvix, *path, "--help"], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, check=False)
    if done.returncode != 0:
        sys.exit(f"carvix {' '.join(path)} --help failed: {done.stderr}")
    text = done.stdout
    options = set(re.findall(r"^\s+(?:-\w,)?(--[\w-]+)", text, flags=re.M))
    options.discard("--help")
    subcommands = []
    if "\nSubcommands:\n" in text:
        section = text.split("\nSubcommands:\n", 1)[1]
        subcommands = re.findall(r"^  ([\w-]+)\s", section, flags=re.M)
    return options, subcommands


def offered(words, current):
    script = (STAND_INS + f"source {completion!r}\n" +
              "COMP_WORDS=(" + " ".join(f"'{w}'" for w in [*words, current]) + ")\n"
              "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _carvix\n"
              'printf "%s\\n" "${COMPREPLY[@]}"\n')
    done = subprocess.run(["bash", "-c", script], capture_output=True, text=True, check=False)
    return set(done.stdout.split())


with open(manpage, encoding="utf-8") as f:
    man = re.sub(r"\\f[BIRP]", "", f.read()).replace("\\-", "-")

failures = []


def check(path):
    options, subcommands = help_of(path)
    where = "carvix " + " ".join(path) if path else "carvix"
    # Options are asked for once a dash is typed (some places complete files before that).
    completed = offered(["carvix", *path], "") | offered(["carvix", *path], "-")
    for word in sorted(options) + subcommands:
        if word not in completed:
            failures.append(f"{where}: the completion does not offer {word}")
    for option in sorted(options):
        if not re.search(re.escape(option) + r"(?![\w-])", man):
            failures.append(f"{where}: the manual page does not mention {option}")
    for sub in subcommands:
        if not re.search(r"(?<![\w-])" + re.escape(sub) + r"(?![\w-])", man):
            failures.append(f"{where}: the manual page does not mention {sub}")
        check([*path, sub])


check([])
for failure in failures:
    print("FAILED:", failure)
if failures:
    sys.exit(1)
print("--help, the manual page and the completion agree")

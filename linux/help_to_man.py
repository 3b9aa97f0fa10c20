#!/usr/bin/env python3
"""zyrctl's manual page, made from the program's own help text: the top
help, then each command's (and sub-command's) help, as roff.

    help_to_man.py ZYRCTL VERSION OUT
"""
import re
import subprocess
import sys


def help_text(program, words):
    run = subprocess.run([program, *words, '--help'], capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        sys.exit(f'{program} {" ".join(words)} --help failed: {run.stderr.strip()}')
    return run.stdout


def subcommands(text):
    names, inside = [], False
    for line in text.splitlines():
        if line.strip() in ('Subcommands:', 'SUBCOMMANDS:'):
            inside = True
        elif inside and not line.strip():
            break
        elif inside:
            m = re.match(r'\s+(\S+)', line)
            if m:
                names.append(m.group(1))
    return names


def escape(text):
    lines = []
    for line in text.rstrip().splitlines():
        line = line.replace('\\', '\\e').replace('-', '\\-')
        if line.startswith(('.', "'")):
            line = '\\&' + line
        lines.append(line)
    return '\n'.join(lines)


def main():
    program, version, out = sys.argv[1:4]
    top = help_text(program, [])
    summary = top.splitlines()[0].split(':', 1)[-1].strip()
    page = [f'.TH ZYRCTL 1 "" "zyrctl {version}" "User Commands"',
            '.SH NAME', f'zyrctl \\- {escape(summary)}',
            '.SH SYNOPSIS', '.nf', escape(top.split('\n\n')[0].splitlines()[-1]), '.fi',
            '.SH DESCRIPTION', '.nf', escape(top), '.fi']
    page.append('.SH COMMANDS')
    queue = [[name] for name in subcommands(top)]
    while queue:
        words = queue.pop(0)
        text = help_text(program, words)
        page += [f'.SS {" ".join(words)}', '.nf', escape(text), '.fi']
        queue += [words + [name] for name in subcommands(text)]
    page += ['.SH FILES', '.TP', '/usr/lib/udev/rules.d/70\\-zyr\\-converter.rules',
             'lets the user at the computer open the converter\'s hidraw node.',
             '.TP', '/run/lock/zyr\\-converter\\-16C0\\-03E8.lock',
             'held while a ZYR program uses the converter.']
    with open(out, 'w', encoding='utf-8') as f:
        f.write('\n'.join(page) + '\n')


if __name__ == '__main__':
    main()

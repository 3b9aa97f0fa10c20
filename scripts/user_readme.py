#!/usr/bin/env python3
"""The user's README.txt of a release, made from the parts of the manuals
that speak to the user, so that each fact is written once: in README.md or
docs/, where the developers read and mend it.

    python3 scripts/user_readme.py VERSION > README.txt

Prints plain text (LF line ends; the release makes them CRLF). Exits 1,
naming it, when a part below is missing from its file.
"""
import os
import re
import sys
import textwrap

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WIDTH = 76

# (file, heading of the part or None for the text before the first section,
#  the title it gets in README.txt or None for none)
PARTS = [
    ('README.md', None, None),
    ('README.md', 'On Windows', 'Installing'),
    ('README.md', 'The dialog (zyr.exe)', 'The dialog (zyr.exe)'),
    ('docs/zyrctl.md', 'Commands', 'The command line (zyrctl.exe)'),
    ('docs/zyrctl.md', 'Exit codes', 'Exit codes'),
    ('docs/zyrctl.md', 'Backups', 'Backups'),
    ('README.md', 'When a write fails', 'When a write fails'),
    ('docs/building.md', 'Checking a download', 'Checking a download'),
    ('docs/building.md', 'Silent install', 'Silent install'),
    ('README.md', 'Licence', 'Licence'),
]
HEADING = re.compile(r'^(#+)\s+(.*)$')


def section(path, heading):
    """The lines of the part under `heading` (None: before the first `##`),
    down to the next heading of its level or above."""
    with open(os.path.join(ROOT, path), encoding='utf-8') as f:
        lines = f.read().split('\n')
    if heading is None:
        start, level = 1, 1
    else:
        for start, line in enumerate(lines):
            m = HEADING.match(line)
            if m and m.group(2) == heading:
                level = len(m.group(1))
                start += 1
                break
        else:
            sys.exit(f'user_readme.py: {path} has no section "{heading}"')
    part = []
    for line in lines[start:]:
        m = HEADING.match(line)
        if m and len(m.group(1)) <= max(level, 1 if heading else 2) and (heading or len(m.group(1)) >= 2):
            break
        part.append(line)
    return part


def inline(text, version):
    text = re.sub(r'!\[[^]]*\]\([^)]*\)', '', text)  # pictures
    text = re.sub(r'\[([^]]*)\]\([^)]*\)', r'\1', text)  # links: their words
    text = text.replace('**', '').replace('`', '')
    text = text.replace('zyr-VERSION-', f'zyr-{version}-')
    return re.sub(r'\bLICENSE\b(?!\.txt)', 'LICENSE.txt', text)


def table(rows):
    """A Markdown table without its heading row, as aligned columns, the last
    one wrapped under itself."""
    cells = [[c.strip() for c in row.strip().strip('|').split('|')] for row in rows[2:]]
    widths = [max(len(r[i]) for r in cells) for i in range(len(cells[0]) - 1)]
    out = []
    for r in cells:
        lead = '  ' + ''.join(c.ljust(w + 2) for c, w in zip(r, widths))
        wrapped = textwrap.wrap(r[-1], WIDTH - len(lead)) or ['']
        out.append(lead + wrapped[0])
        out += [' ' * len(lead) + w for w in wrapped[1:]]
    return out


def render(lines, version):
    out, rows = [], []
    for line in lines + ['']:
        if line.startswith('|'):
            rows.append(inline(line, version))
            continue
        if rows:
            out += table(rows)
            rows = []
        if line.startswith('    '):  # a code block: two blanks in from the text
            out.append('  ' + line[4:].replace('zyr-VERSION-', f'zyr-{version}-'))
        elif line.strip():
            text = inline(line, version)
            if text.strip():
                out.append(text)
        else:
            out.append('')
    # No blank lines doubled, none at either end.
    text = re.sub(r'\n{3,}', '\n\n', '\n'.join(out)).strip('\n')
    return text.split('\n')


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: user_readme.py VERSION')
    version = sys.argv[1]
    title = f'ZYR {version}'
    out = [title, '=' * len(title), '']
    for path, heading, shown in PARTS:
        body = render(section(path, heading), version)
        if shown:
            out += ['', shown, '-' * len(shown), '']
        out += body + ['']
    sys.stdout.write('\n'.join(out).rstrip('\n') + '\n')


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Which folder may include which: reads every #include of the project's
C/C++ sources and resource scripts and fails, one line a violation, on an
include whose folder pair is not allowed below.

Each folder is one library, zyr_<folder>, and may include only the folders
whose libraries it links. The portable folders (base/, config/, settings/)
and the portable files of device/, protocol/ and sim/ named in
PORTABLE_FILES build natively too: they include no Windows header and
nothing of the folders above the device boundary. The operations in
protocol/ reach the dialog (app/) by design: that arrow is on the list.

    python3 scripts/check_includes.py          check; exit 1 on a violation
    python3 scripts/check_includes.py --graph  the arrows by folder pair, counted
"""
import os
import re
import sys
from collections import Counter

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = ('.c', '.cpp', '.h', '.rc', '.in')
SKIP = {'.git', 'build', 'dist', 'screenshots'}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')

# Folder -> the project folders its files may include (its own always).
ALLOWED = {
    'base':     set(),
    'config':   {'base'},
    'settings': {'base', 'config', 'protocol'},     # protocol: the portable operation texts only
    'device':   {'base'},
    'protocol': {'base', 'config', 'device', 'app'},
    'sim':      {'base', 'config', 'protocol', 'device', 'cli'},  # cli: the demo's file names and state file write
    'app':      {'base', 'config', 'settings', 'protocol'},
    'cli':      {'base', 'config', 'settings', 'protocol', 'device'},
    'vconv':    {'base', 'config'},
    'bench':    {'base', 'config', 'settings', 'protocol', 'device', 'sim', 'vconv'},  # vconv: its control channel
    'tools':    {'base'},
    'linux':    {'base', 'config', 'settings', 'protocol', 'cli'},  # cli: the system side of zyrctl's steps
    'fuzz':     {'base', 'config', 'settings', 'protocol', 'sim'},
    'web':      {'base', 'config', 'settings', 'protocol'},  # the page's core, built with emscripten
    'tests':    {'base', 'config', 'settings', 'protocol', 'device', 'app', 'cli', 'sim', 'vconv'},
}
# Portable files in the folders that are portable only in part: their
# libraries hold just these in the native build.
PORTABLE_FILES = {
    'protocol/operation_text.h', 'protocol/operation_text.cpp', 'protocol/converter_identity.h',
    'protocol/operation_cut_off.h', 'protocol/operation_cut_off.cpp', 'protocol/report_transport.h',
    'protocol/register_stages.h', 'protocol/register_stages.cpp', 'protocol/register_calls.h',
    'protocol/register_calls.cpp', 'protocol/register_operations.h', 'protocol/register_operations.cpp',
    'device/broadcast_name.h', 'device/broadcast_name.cpp',
    'sim/sim_fault_text.h', 'sim/sim_fault_text.cpp',
    'cli/converter_system.h', 'cli/wire_trace.h', 'cli/exit_codes.h',
}
PORTABLE_FOLDERS = {'base', 'config', 'settings', 'fuzz', 'linux'}
# Windows headers: none of them in portable code.
WINDOWS_HEADER = re.compile(r'^(windows|winbase|winioctl|winuser|commctrl|commdlg|setupapi|hidsdi|hidpi|hidclass|'
                            r'dbt|process|shellapi|shlobj|shlwapi|objbase|io|direct|tchar|mmsystem|newdev|cfgmgr32|'
                            r'devguid|initguid|ntddk|wdm|hidport)\.h$', re.IGNORECASE)


def project_files():
    for top, dirs, files in os.walk(ROOT):
        dirs[:] = sorted(d for d in dirs if d not in SKIP and not d.startswith('build-'))
        for name in sorted(files):
            if name.endswith(SOURCES):
                yield os.path.relpath(os.path.join(top, name), ROOT).replace(os.sep, '/')


def includes(path):
    with open(os.path.join(ROOT, path), encoding='utf-8', errors='replace') as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1) == '<', m.group(2)


def main():
    graph = '--graph' in sys.argv[1:]
    arrows = Counter()
    violations = []
    for path in project_files():
        folder = path.split('/')[0] if '/' in path else '(root)'
        portable = folder in PORTABLE_FOLDERS or path in PORTABLE_FILES
        for number, system, name in includes(path):
            where = f'{path}:{number}: #include {"<" + name + ">" if system else chr(34) + name + chr(34)}'
            if system:
                if WINDOWS_HEADER.match(name):
                    arrows[(folder, '<' + name + '>')] += 1
                    if portable:
                        violations.append(f'{where}: portable code includes no Windows header')
                continue
            target = name.split('/')[0] if '/' in name else None
            if target is None or not os.path.isdir(os.path.join(ROOT, target)):
                continue  # beside the file, or generated in the build folder
            arrows[(folder, target)] += 1
            if target == folder:
                pass
            elif folder in ALLOWED and target not in ALLOWED[folder]:
                violations.append(f'{where}: {folder}/ may not include from {target}/')
                continue
            elif folder not in ALLOWED:
                violations.append(f'{where}: {folder}/ is not on the list of folders')
                continue
            if portable and target not in PORTABLE_FOLDERS and name not in PORTABLE_FILES:
                violations.append(f'{where}: portable code includes only portable files')
    if graph:
        for (a, b), n in sorted(arrows.items()):
            print(f'{n:5d} {a} -> {b}')
        return 0
    for v in violations:
        print(v, file=sys.stderr)
    if violations:
        print(f'include check: {len(violations)} include(s) outside the allowed folder pairs '
              '(scripts/check_includes.py)', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())

#!/usr/bin/env python3
"""End-to-end scenarios: one description, run on Wine and on the simulated layer.

Verbs (README.md beside this file describes the scenario files):
  templates            make the booted Wine prefixes that scenarios copy
  run SCENARIO         run on both platforms, compare, check the expectations
  native SCENARIO      print the simulated layer's outcome only
  layer SCENARIO       the layer's part of run: expectations, its account of
                       resources, the declared differences (no Wine)
  messagebox SCENARIO  run a refusal under Xvfb, check the real message box,
                       save a screenshot (--png) and dismiss it

Exit code 0 when every check passed, 1 when one failed or could not be made.
"""

import argparse
import fcntl
import functools
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
INF_SOURCES = os.path.join(os.path.dirname(HERE), 'inf')
SCRIPTS = os.path.join(os.path.dirname(os.path.dirname(HERE)), 'scripts')
sys.path.insert(0, SCRIPTS)
import i386host  # noqa: E402

# Setup classes by name, as Windows defines their GUIDs.
CLASSES = {
    'bluetooth': '{E0CBF06C-CD8B-4647-BB8A-263B43F0F974}',
    'hidclass': '{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}',
    'image': '{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}',
    'media': '{4D36E96C-E325-11CE-BFC1-08002BE10318}',
    'modem': '{4D36E96D-E325-11CE-BFC1-08002BE10318}',
    'net': '{4D36E972-E325-11CE-BFC1-08002BE10318}',
    'ports': '{4D36E978-E325-11CE-BFC1-08002BE10318}',
    'system': '{4D36E97D-E325-11CE-BFC1-08002BE10318}',
    'usb': '{36FC9E60-C465-11CF-8056-444553540000}',
    'usbdevice': '{88BAE032-5A81-49F0-BC3D-A4FF138216D6}',
    'wpd': '{EEC5AD98-8080-425F-922A-DABF3DE3F69A}',
}

# The programs: where each Windows build puts it, which native runner runs
# it, its trace prefix line, and whether it is a 32-bit program.
PROGRAMS = {
    'tidewell': ('Tidewell.exe', 'win32', 'tidewell', '..Tidewell - Omrak', True),
    'zorvane64': ('Zorvane64.exe', 'win64', 'zorvane', '..Zorvane64 - Omrak', False),
    'tidewell64': ('Tidewell64.exe', 'win64', 'tidewell64', '..Tidewell64 - Omrak', False),
    'tidewelldeploy': ('TidewellDeploy.exe', 'win32', 'deploy', '..TidewellDeploy - Omrak', True),
}
# The programs whose runs end with the run record (result =): the
# uninstaller's, and TidewellDeploy's, which starts it.
RECORDED = ('tidewell', 'tidewelldeploy')

# Where the programs live on both platforms, and the Windows folder.
PROGRAM_FOLDER = 'C:\\Omrak'
WINDOWS_DIR = 'C:\\windows'

# The run log the three programs share, the exit code each program always
# gives, and the form of a log line: time, program[process ID], text.
RUN_LOG = WINDOWS_DIR + '\\Omrak.log'
EXIT_CODES = {'tidewell': 0, 'tidewell64': 0, 'zorvane64': 1}
RUN_LOG_LINE = re.compile(r'\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\w+)\[(\d+)\] (.*)')
# Lines of a Tidewell block that are the run log's own, not debug output: the
# reboot check after a 32-bit removal, the refusal's box and a message to
# standard output (anywhere), and at the block's end the result, what is left
# and a record that could not be written.
LOG_ONLY_ANYWHERE = ('(reboot check) ', '(message box) ', '(stdout) ')
LOG_ONLY_AT_END = ('== result: ', '== left: ', '(run record) not written: ')
# A TidewellDeploy block's own lines: Tidewell.exe's exit code, the record
# read and the code returned, and an old Result that could not be deleted.
DEPLOY_LOG_ONLY = ('== Tidewell.exe exit code: ', '== read: ', '== return code ',
                   '(run record) Result not deleted: ')

# The run record each Tidewell run leaves, in the 64-bit registry view; the
# driver reads it with the prefix's own reg.exe, through this file. Its
# values, in the order the outcome shows them, with their types; LastRun is
# compared by its form (local time, offset from UTC), since the time differs.
RECORD_KEY = 'HKLM\\SOFTWARE\\Omrak\\Device Tools'
RECORD_EXPORT = 'C:\\e2e\\record.reg'
RECORD_VALUES = (('Result', 'sz'), ('Left', 'multi_sz'), ('Version', 'sz'), ('LastRun', 'sz'),
                 ('RebootRequired', 'dword'))
LAST_RUN = re.compile(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d')
LAST_RUN_FORM = '(local time with its UTC offset)'
REG_TYPES = {1: 'sz', 2: 'expand_sz', 3: 'binary', 4: 'dword', 7: 'multi_sz'}
# Where a scenario's driver-store files go: the 64-bit store in a 64-bit prefix.
STORE = WINDOWS_DIR + '\\system32\\DriverStore\\FileRepository'

# Wine-side settings that the layer can take on to show what Wine does.
SETTINGS = ('all-present', 'locate-fails', 'uninstall-in-wow64')

# 64-bit programs start through Wine's 64-bit loader directly: the `wine`
# launcher is an i386 program, slow to start where i386 programs run under
# CPU emulation.
WINE64 = '/usr/lib/wine/wine64'

# DLLs a scenario can plant beside the program (fixtures of the win64 build):
# each leaves this marker file in its folder when a process loads it. The
# control program imports the DLL statically and so must load the planted one.
PLANTS = ('cfgmgr32',)
PLANT_MARKER = 'planted-dll-loaded.txt'
PLANT_CONTROL = 'plantcontrol.exe'

# Publishers a scenario can sign programs with: code-signing certificates of
# one throwaway CA (scripts/testca.sh), made once per work folder. On the
# layer the CA is one the machine trusts, as a release's is; Wine trusts any.
PUBLISHERS = ('A', 'B')
CA_NAME = 'CN=Throwaway-CA'
# A byte of the DOS stub's text: covered by the signature's digest, never run.
TAMPERED_BYTE = 0x60

WINE_CALL_TIMEOUT = 60
# A start of a 32-bit program (and of the `wine` launcher) under the emulator
# takes about a minute; the first ones in a fresh prefix longer.
EMULATED_CALL_TIMEOUT = 600

# Where i386 programs start under CPU emulation only, a 32-bit Windows is
# stood in for by the x86_64 build of the uninstaller in a 64-bit prefix:
# IsWow64Process gives FALSE there too, and Wine lets a 64-bit process remove
# devices. What differs from the real 32-bit program:
STAND_IN = ('32-bit Windows stood in for: this host runs i386 programs under CPU emulation '
            'only, so the x86_64 build of Tidewell runs in a 64-bit prefix with the 64-bit '
            'fixtures. Records are those of a 64-bit program (SP_DEVINFO_DATA is 32 bytes, '
            'not 28), and no WoW64 layer is in between (IsWow64Process gives FALSE, as on '
            '32-bit Windows).')
# CTest adds a label that a test prints this way to the test's labels; its
# summary counts the tests that ran the stand-in under it.
STAND_IN_LABEL = '<CTestLabel>stand-in</CTestLabel>'
ATTRIBUTE_NAMES = (('readonly', 0x1), ('hidden', 0x2), ('system', 0x4), ('directory', 0x10))


class Failure(Exception):
    """A check failed or a step could not be made."""


# ---------------------------------------------------------------- texts

def render(text):
    """A text as scenarios and reports write it: control bytes escaped."""
    out = []
    for ch in text:
        c = ord(ch)
        if ch == '\n':
            out.append('\\n')
        elif ch == '\r':
            out.append('\\r')
        elif ch == '\t':
            out.append('\\t')
        elif c < 0x20 or c >= 0x7F:
            out.append('\\x%02X' % c)
        else:
            out.append(ch)
    return ''.join(out)


def unescape(text):
    """Undoes the transport escaping of the runner and the fixtures."""
    out = []
    i = 0
    while i < len(text):
        ch = text[i]
        if ch == '\\' and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt in 'nrt\\':
                out.append({'n': '\n', 'r': '\r', 't': '\t', '\\': '\\'}[nxt])
                i += 2
                continue
            if nxt == 'x' and i + 3 < len(text) + 1:
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
        out.append(ch)
        i += 1
    return ''.join(out)


def c_string(text, start):
    """Reads a C-escaped string in double quotes as Wine's debug channels
    print it; returns (text, index after the closing quote)."""
    if start >= len(text) or text[start] != '"':
        raise ValueError('no string')
    out = []
    i = start + 1
    while i < len(text):
        ch = text[i]
        if ch == '"':
            return ''.join(out), i + 1
        if ch == '\\' and i + 1 < len(text):
            nxt = text[i + 1]
            simple = {'n': '\n', 'r': '\r', 't': '\t', '\\': '\\', '"': '"', "'": "'"}
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
                continue
            if nxt == 'x':
                m = re.match(r'[0-9a-fA-F]{1,2}', text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            m = re.match(r'[0-7]{1,3}', text[i + 1:])
            if m:
                out.append(chr(int(m.group(0), 8)))
                i += 1 + len(m.group(0))
                continue
        out.append(ch)
        i += 1
    raise ValueError('unterminated string')


# ---------------------------------------------------------------- scenarios

class Node:
    def __init__(self, name):
        self.name = name
        self.guid = None
        self.attached = True
        self.hwids = []
        self.keys = {'dev': False, 'drv': False}
        self.values = []  # (dev|drv, name, type, data)


class File:
    def __init__(self, name, directory=False):
        self.name = name
        self.directory = directory
        self.content = None  # bytes
        self.attributes = 0


class Difference:
    """One way in which Wine differs from Windows, of one of four kinds:
    a setting the layer runs with to give Wine's outcome; a message that
    reads differently (replace/by); a message Wine writes in addition right
    after another (after/add); a file Wine leaves where Windows deletes it
    (keeps)."""

    def __init__(self, name):
        self.name = name
        self.setting = None
        self.replace = None
        self.by = None
        self.after = None
        self.add = None
        self.keeps = None
        self.reason = None

    def kinds(self):
        return [k for k, v in (('setting', self.setting), ('replace', self.replace),
                               ('after', self.after), ('keeps', self.keeps)) if v is not None]


class Scenario:
    def __init__(self, path):
        self.path = path
        self.name = os.path.splitext(os.path.basename(path))[0]
        self.title = ''
        self.prefix = None
        self.program = None
        self.beside = []
        self.station = None  # 'hidden': the program runs on a window station nobody sees
        self.plant = None
        self.runs = 1        # the program runs this often, one run after the other
        self.interrupt = None  # (program, text): that program ends after writing text, in run 1
        self.nodes = []
        self.files = []
        self.store = []  # files of the driver store: "<folder>\\<name>.inf"
        self.ports = {}  # name -> free|held
        self.expect = None
        self.expect_again = None  # the second run's part of the expectations
        self.differences = []
        self.runlog = False  # check the run log's blocks against the runs (Wine)
        self.record = None   # the Result of an earlier run's record on the machine
        self.signed = {}     # program -> publisher that signed it
        self.tamper = []     # signed programs with one byte changed after signing


class Expect:
    def __init__(self):
        self.log = []
        self.stdout = []
        self.boxes = []
        self.exit = None
        self.nodes = None
        self.files = None
        self.result = None  # the run record: its result word, Left, RebootRequired
        self.left = []
        self.reboot = 0


def parse_value(text):
    """A registry value written as [type:]data; plain text is a REG_SZ."""
    m = re.match(r'(sz|expand_sz|multi_sz|dword|binary):(.*)$', text)
    if m:
        return m.group(1), m.group(2)
    return 'sz', text


def parse_bool(text, where):
    if text.lower() in ('yes', 'true', '1'):
        return True
    if text.lower() in ('no', 'false', '0'):
        return False
    raise Failure('%s: yes or no expected, not "%s"' % (where, text))


def read_sections(path):
    """[kind name] sections of key = value entries; a value "<<END" takes the
    lines up to END as they stand."""
    with open(path, encoding='utf-8') as f:
        lines = f.read().split('\n')
    sections = []
    i = 0
    while i < len(lines):
        raw = lines[i]
        where = '%s:%d' % (os.path.basename(path), i + 1)
        i += 1
        s = raw.strip()
        if not s or s.startswith('#'):
            continue
        m = re.fullmatch(r'\[\s*([A-Za-z]+)(?:\s+(.+?))?\s*\]', s)
        if m:
            sections.append((m.group(1).lower(), m.group(2), [], where))
            continue
        if not sections:
            raise Failure('%s: an entry before the first section' % where)
        key, sep, value = s.partition('=')
        if not sep:
            raise Failure('%s: "key = value" expected' % where)
        key, value = key.strip().lower(), value.strip()
        m = re.fullmatch(r'<<\s*([A-Za-z_]+)', value)
        if m:
            block = []
            while i < len(lines) and lines[i].strip() != m.group(1):
                block.append(lines[i])
                i += 1
            if i == len(lines):
                raise Failure('%s: no line "%s" ends the block' % (where, m.group(1)))
            i += 1
            value = '\n'.join(block) + '\n'
        sections[-1][2].append((key, value, where))
    return sections


def load(path):
    scn = Scenario(path)
    for kind, name, entries, where in read_sections(path):
        if kind == 'scenario':
            for key, value, w in entries:
                if key == 'title':
                    scn.title = value
                elif key == 'prefix':
                    if value not in ('win64', 'win32'):
                        raise Failure('%s: prefix is win64 or win32' % w)
                    scn.prefix = value
                elif key == 'program':
                    if value.lower() not in PROGRAMS or not PROGRAMS[value.lower()][2]:
                        raise Failure('%s: no native runner for program "%s"' % (w, value))
                    scn.program = value.lower()
                elif key == 'station':
                    if value != 'hidden':
                        raise Failure('%s: station is hidden' % w)
                    scn.station = value
                elif key == 'beside':
                    for p in value.split():
                        if p.lower() not in PROGRAMS:
                            raise Failure('%s: unknown program "%s"' % (w, p))
                        scn.beside.append(p.lower())
                elif key == 'plant':
                    if value.lower() not in PLANTS:
                        raise Failure('%s: plant is one of %s' % (w, ', '.join(PLANTS)))
                    scn.plant = value.lower()
                elif key == 'runs':
                    if value not in ('1', '2'):
                        raise Failure('%s: runs is 1 or 2' % w)
                    scn.runs = int(value)
                elif key == 'log':
                    scn.runlog = parse_bool(value, w)
                elif key == 'record':
                    if value not in ('clean', 'left', 'refused', 'unknown'):
                        raise Failure('%s: record is clean, left, refused or unknown' % w)
                    scn.record = value
                elif key == 'sign':
                    for item in value.split():
                        p, _, publisher = item.partition(':')
                        if p.lower() not in PROGRAMS or publisher not in PUBLISHERS:
                            raise Failure('%s: sign = <program>:<%s>...' % (w, '|'.join(PUBLISHERS)))
                        scn.signed[p.lower()] = publisher
                elif key == 'tamper':
                    scn.tamper += [p.lower() for p in value.split()]
                elif key == 'interrupt':
                    m = re.fullmatch(r'(\w+) after (.+)', value)
                    if not m or m.group(1).lower() not in PROGRAMS:
                        raise Failure('%s: interrupt = <program> after <trace text>' % w)
                    scn.interrupt = (m.group(1).lower(), m.group(2))
                else:
                    raise Failure('%s: unknown key "%s"' % (w, key))
        elif kind == 'node':
            if not name or not re.fullmatch(r'[A-Za-z0-9]+', name):
                raise Failure('%s: a node name is letters and digits' % where)
            if any(n.name.lower() == name.lower() for n in scn.nodes):
                raise Failure('%s: node %s twice' % (where, name))
            node = Node(name)
            for key, value, w in entries:
                if key == 'class':
                    guid = CLASSES.get(value.lower(), value.upper())
                    if not re.fullmatch(r'\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}', guid):
                        raise Failure('%s: unknown setup class "%s"' % (w, value))
                    node.guid = guid
                elif key == 'hwid':
                    node.hwids.append(value)
                elif key == 'attached':
                    node.attached = parse_bool(value, w)
                elif key in ('hardware', 'driver'):
                    node.keys['dev' if key == 'hardware' else 'drv'] = parse_bool(value, w)
                elif key.startswith('hardware.') or key.startswith('driver.'):
                    which = 'dev' if key.startswith('hardware.') else 'drv'
                    # Value names keep their spelling; the key was lowered.
                    vname = original_value_name(path, w)
                    vtype, data = parse_value(value)
                    node.keys[which] = True
                    node.values.append((which, vname, vtype, data))
                else:
                    raise Failure('%s: unknown key "%s"' % (w, key))
            if not node.guid:
                raise Failure('%s: node %s has no class' % (where, name))
            scn.nodes.append(node)
        elif kind in ('file', 'dir', 'store'):
            if kind != 'store' and (not name or '\\' in name or '/' in name):
                raise Failure('%s: a file name without a folder' % where)
            if kind == 'store' and not re.fullmatch(r'[^\\/]+\\[^\\/]+\.inf', name or '', re.I):
                raise Failure('%s: a store file is <folder>\\<name>.inf' % where)
            f = File(name, directory=kind == 'dir')
            for key, value, w in entries:
                if key == 'from' and kind != 'dir':
                    src = os.path.join(INF_SOURCES, value)
                    if not os.path.isfile(src):
                        raise Failure('%s: no file %s' % (w, src))
                    with open(src, 'rb') as s:
                        f.content = s.read()
                elif key == 'content' and kind != 'dir':
                    f.content = value.encode('latin-1')
                elif key == 'attributes' and kind != 'store':
                    for a in value.lower().split():
                        bits = dict(ATTRIBUTE_NAMES)
                        if a not in bits or a == 'directory':
                            raise Failure('%s: attribute readonly, hidden or system' % w)
                        f.attributes |= bits[a]
                else:
                    raise Failure('%s: unknown key "%s"' % (w, key))
            if kind != 'dir' and f.content is None:
                f.content = b''
            (scn.store if kind == 'store' else scn.files).append(f)
        elif kind == 'port':
            if not name or not re.fullmatch(r'COM[0-9]{1,3}', name, re.I):
                raise Failure('%s: a port is named COMn' % where)
            state = dict((k, v) for k, v, _ in entries).get('state', 'free')
            if state not in ('free', 'held'):
                raise Failure('%s: a port is free or held' % where)
            scn.ports[name.upper()] = state
        elif kind == 'expect' and name == 'again':
            scn.expect_again = load_expect(entries, scn, again=True)
        elif kind == 'expect' and not name:
            scn.expect = load_expect(entries, scn)
        elif kind == 'difference':
            d = Difference(name or 'unnamed')
            for key, value, w in entries:
                if key == 'setting':
                    if value not in SETTINGS:
                        raise Failure('%s: setting is one of %s' % (w, ', '.join(SETTINGS)))
                    d.setting = value
                elif key == 'replace':
                    d.replace = value
                elif key == 'by':
                    d.by = value
                elif key == 'after':
                    d.after = value
                elif key == 'add':
                    d.add = value
                elif key == 'keeps':
                    d.keeps = value
                elif key == 'reason':
                    d.reason = value
                else:
                    raise Failure('%s: unknown key "%s"' % (w, key))
            if not d.reason:
                raise Failure('%s: a difference says why Wine differs (reason =)' % where)
            if len(d.kinds()) != 1 or (d.replace is None) != (d.by is None) or \
                    (d.after is None) != (d.add is None):
                raise Failure('%s: a difference is one setting, replace with by, after with '
                              'add, or keeps' % where)
            scn.differences.append(d)
        else:
            raise Failure('%s: unknown section [%s]' % (where, kind))
    if not scn.prefix or not scn.program:
        raise Failure('%s: [scenario] needs prefix and program' % path)
    if not PROGRAMS[scn.program][4] and scn.prefix == 'win32':
        raise Failure('%s: a 64-bit program needs the win64 prefix' % path)
    if scn.plant and PROGRAMS[scn.program][4]:
        raise Failure('%s: the planted DLLs are 64-bit: plant beside a 64-bit program' % path)
    if not set(scn.signed) <= set([scn.program] + scn.beside) or not set(scn.tamper) <= set(scn.signed):
        raise Failure('%s: sign names the program or one beside it; tamper, one signed' % path)
    if scn.expect is None:
        raise Failure('%s: no [expect] section' % path)
    for e in (scn.expect, scn.expect_again):
        if e is not None and (e.result is None) == (scn.program in RECORDED):
            raise Failure('%s: the expectations of a Tidewell or TidewellDeploy run, and only '
                          'those, give its record (result =)' % path)
    published = [f.content for f in scn.files if is_oem(f.name)]
    if any(f.content in published for f in scn.store):
        # Its package's own folder, which goes with it on Windows: not modelled.
        raise Failure('%s: a store file is a package without its published INF: no oem*.inf '
                      'of the scenario may be its copy' % path)
    if (scn.runs == 2) != (scn.expect_again is not None):
        raise Failure('%s: runs = 2 and an [expect again] section go together' % path)
    if scn.interrupt and (scn.runs != 2 or scn.interrupt[0] not in scn.beside or
                          PROGRAMS[scn.interrupt[0]][4] or scn.prefix != 'win64'):
        raise Failure('%s: interrupt ends a 64-bit program beside the one that runs, in the '
                      'first of two runs in a 64-bit prefix' % path)
    return scn


def is_oem(name):
    return re.fullmatch(r'oem\d+\.inf', name, re.I) is not None


def original_value_name(path, where):
    """The value name of a hardware./driver. entry as written (keys are
    otherwise taken without regard to case)."""
    line = int(where.rsplit(':', 1)[1])
    with open(path, encoding='utf-8') as f:
        text = f.read().split('\n')[line - 1]
    key = text.split('=', 1)[0].strip()
    return key.split('.', 1)[1]


def load_expect(entries, scn, again=False):
    """[expect]: the first run and the machine after the last run; [expect
    again]: what the second run writes and its exit code."""
    e = Expect()
    prefix = PROGRAMS[scn.program][3]
    for key, value, w in entries:
        if key == 'prefix':
            prefix = value
        elif key == 'trace':
            e.log.append('%s | %s' % (prefix, value))
        elif key == 'bare':
            e.log.append('bare | %s' % value)
        elif key == 'stdout':
            e.stdout.append(value)
        elif key == 'messagebox':
            parts = [p.strip() for p in value.split('|')]
            if len(parts) == 2:
                parts.append('0x0')
            e.boxes.append(' | '.join(parts))
        elif key == 'exit':
            e.exit = int(value)
        elif key == 'nodes left':
            e.nodes = sorted(re.split(r'[\s,]+', value), key=str.lower) if value != 'none' else []
        elif key == 'result':
            # none: a record without Result.
            if value not in ('clean', 'left', 'refused', 'unknown', 'none'):
                raise Failure('%s: result is clean, left, refused, unknown or none' % w)
            e.result = value
        elif key == 'left':
            e.left.append(value)
        elif key == 'reboot':
            e.reboot = int(parse_bool(value, w))
        elif key == 'files left':
            # "name" or "name (attributes)", separated by commas.
            e.files = sorted((f.strip() for f in value.split(',')), key=str.lower) \
                if value != 'none' else []
        else:
            raise Failure('%s: unknown key "%s"' % (w, key))
    if again:
        if e.exit is None or e.nodes is not None or e.files is not None:
            raise Failure('[expect again] needs exit and no nodes left or files left')
        return e
    if e.exit is None or e.nodes is None or e.files is None:
        raise Failure('[expect] needs exit, nodes left and files left')
    return e


# ---------------------------------------------------------------- outcomes

class Outcome:
    """What a run did, in the form both platforms are compared in."""

    def __init__(self):
        self.log = []       # "prefix | message" or "bare | text"
        self.stdout = []    # lines, each with its line break
        self.boxes = []     # "text | caption | 0xSTYLE"
        self.exit = None
        self.nodes = []     # scenario nodes left
        self.files = []     # inf folder entries left: "name" or "name (readonly ...)"
        self.foreign = []   # nodes the scenario did not make (Wine's own)
        self.problems = []  # the layer's account: resources left open, misuse
        self.libraries = []  # the layer's DLLs loaded, by full path
        self.record = []    # the run record after the run, as record_lines shows it
        self.again = None   # the second run's log, stdout, boxes, exit code and record

    def text(self):
        out = []
        for head, run in (('', self), ('second run ', self.again)):
            if run is None:
                continue
            out.append(head + 'log:')
            out += ['  ' + line for line in run.log]
            out.append(head + 'stdout:')
            out += ['  ' + line for line in run.stdout]
            out.append(head + 'message boxes:')
            out += ['  ' + line for line in run.boxes]
            out.append(head + 'exit code: %s' % run.exit)
            out.append(head + 'record:' + ('' if run.record else ' none'))
            out += ['  ' + line for line in run.record]
        out.append('nodes left: %s' % (', '.join(self.nodes) or 'none'))
        out.append('files left: %s' % (', '.join(self.files) or 'none'))
        return '\n'.join(out) + '\n'


PREFIX_LINE = re.compile(r'\.\..* - Omrak')


def outcome_from(records, scn):
    """Builds an outcome from raw records: (kind, fields...) as the native
    runner writes them and as the Wine side collects them. A record "run 2"
    begins the second run's part."""
    runs = [i for i, r in enumerate(records) if r[0] == 'run']
    if runs:
        o = outcome_from(records[:runs[0]], scn)
        o.again = outcome_from(records[runs[0] + 1:], scn)
        # The machine's state and the account come after the last run.
        o.nodes, o.files, o.foreign = o.again.nodes, o.again.files, o.again.foreign
        o.problems += o.again.problems
        o.libraries += o.again.libraries
        return o
    o = Outcome()
    debug = [r[1] for r in records if r[0] == 'debug']
    i = 0
    while i < len(debug):
        d = debug[i]
        if PREFIX_LINE.fullmatch(d):
            if i + 1 < len(debug) and not PREFIX_LINE.fullmatch(debug[i + 1]):
                o.log.append('%s | %s' % (d, render(debug[i + 1])))
                i += 2
                continue
            o.log.append('%s | (no message)' % d)
        else:
            o.log.append('bare | %s' % render(d))
        i += 1
    for r in records:
        if r[0] == 'stdout':
            text = r[1].replace('\r\n', '\n')
            o.stdout += [render(line) for line in text.splitlines(keepends=True)]
        elif r[0] == 'messagebox':
            o.boxes.append('%s | %s | 0x%X' % (render(r[1]), render(r[2]), int(r[3], 16)))
        elif r[0] == 'exit':
            o.exit = int(r[1])
        elif r[0] == 'node':
            m = re.fullmatch(r'ROOT\\([A-Za-z0-9]+)\\0000', r[1], re.I)
            names = [n.name for n in scn.nodes if m and n.name.lower() == m.group(1).lower()]
            if names:
                o.nodes.append(names[0])
            else:
                o.foreign.append('\t'.join(r[1:]))
        elif r[0] == 'file':
            attrs = int(r[2], 16)
            flags = [n for n, bit in ATTRIBUTE_NAMES if attrs & bit]
            o.files.append(r[1] + (' (%s)' % ' '.join(flags) if flags else ''))
        elif r[0] == 'problem':
            o.problems.append(r[1])
        elif r[0] == 'record':
            o.record.append((r[1], r[2], r[3:]))
        elif r[0] == 'library':
            o.libraries.append(r[1])
    o.nodes.sort(key=str.lower)
    o.files.sort(key=str.lower)
    o.record = record_lines(o.record)
    return o


def record_lines(values):
    """The record's values, (name, type, entries), as the outcome shows them:
    one line a value, one a Left entry, in the record's order; a value of
    another type than the record's shows its type; LastRun by its form."""
    order = [n for n, _ in RECORD_VALUES]
    out = []
    for name, vtype, data in sorted(values, key=lambda v: (
            order.index(v[0]) if v[0] in order else len(order), v[0])):
        head = name if (name, vtype) in RECORD_VALUES else '%s (%s)' % (name, vtype)
        if (name, vtype) == ('LastRun', 'sz') and LAST_RUN.fullmatch(data[0]):
            data = [LAST_RUN_FORM]
        out += ['%s: %s' % (head, render(d)) for d in data] or ['%s: (none)' % head]
    return out


def decode_value(code, raw, wide):
    """A registry value's type name and entries from its type code and bytes
    (UTF-16 text as reg.exe exports it, or the ANSI bytes the layer holds)."""
    vtype = REG_TYPES.get(code, 'type %d' % code)
    if vtype == 'dword':
        return [vtype, str(int.from_bytes(raw[:4], 'little'))]
    if vtype == 'binary' or vtype.startswith('type'):
        return [vtype, raw.hex()]
    text = raw.decode('utf-16-le' if wide else 'latin-1')
    entries = text.split('\0')
    if vtype != 'multi_sz':
        return [vtype, entries[0]]
    return [vtype] + (entries[:entries.index('')] if '' in entries else entries)


def reg_export_records(text):
    """The values of a reg.exe export (one key) as records: ['record', name,
    type, entries...]."""
    records = []
    text = text.lstrip('\ufeff').replace('\r\n', '\n').replace('\\\n  ', '')
    for line in text.split('\n'):
        m = re.fullmatch(r'"((?:[^"\\]|\\.)*)"=(.*)', line)
        if not m:
            continue
        name, data = re.sub(r'\\(.)', r'\1', m.group(1)), m.group(2)
        hexed = re.fullmatch(r'hex(?:\(([0-9a-f]+)\))?:([0-9a-f,]*)', data)
        if data.startswith('"') and data.endswith('"'):
            records.append(['record', name, 'sz', re.sub(r'\\(.)', r'\1', data[1:-1])])
        elif data.startswith('dword:'):
            records.append(['record', name, 'dword', str(int(data[6:], 16))])
        elif hexed:
            raw = bytes.fromhex(hexed.group(2).replace(',', ''))
            records.append(['record', name] + decode_value(int(hexed.group(1) or '3', 16), raw,
                                                           True))
        else:
            raise Failure('reg.exe exported a value the driver cannot read: ' + line)
    return records


def parse_records(text):
    records = []
    for line in text.splitlines():
        if not line:
            continue
        fields = line.split('\t')
        if fields[0] == 'record':
            # The layer's value as stored: type code and bytes in hex.
            records.append(['record', unescape(fields[1])] + decode_value(
                int(fields[2]), bytes.fromhex(fields[3]), False))
        else:
            records.append([fields[0]] + [unescape(f) for f in fields[1:]])
    return records


def debug_lines(records):
    """(prefix line, or None for a line written without one, text) of each
    debug-output line, in the order written."""
    debug = [r[1] for r in records if r[0] == 'debug']
    out = []
    i = 0
    while i < len(debug):
        if PREFIX_LINE.fullmatch(debug[i]) and i + 1 < len(debug) and \
                not PREFIX_LINE.fullmatch(debug[i + 1]):
            out.append((debug[i], debug[i + 1]))
            i += 2
        else:
            out.append((None, debug[i]))
            i += 1
    return out


def release_version():
    with open(os.path.join(os.path.dirname(os.path.dirname(HERE)), 'VERSION')) as f:
        return f.read().strip()


def log_text(text):
    """A debug-output text as the run log writes it: its closing line break
    dropped, control bytes escaped, every other byte as it is."""
    text = text[:-1] if text.endswith('\n') else text
    escapes = {'\n': '\\n', '\r': '\\r', '\t': '\\t'}
    return ''.join(escapes.get(c, '\\x%02X' % ord(c)) if ord(c) < 0x20 or ord(c) == 0x7F else c
                   for c in text)


def log_blocks(text):
    """The run log's blocks, [program, process ID, header, exit code or None,
    lines], in the order they began; raises Failure on a line outside any."""
    if not text.endswith('\r\n'):
        raise Failure('the run log is empty or does not end with CR LF: %r' % text[-80:])
    got, running = [], {}
    for line in text[:-2].split('\r\n'):
        m = RUN_LOG_LINE.fullmatch(line)
        key, rest = ((m.group(1), m.group(2)), m.group(3)) if m else (None, '')
        header = rest.startswith('== ') and not rest.startswith(
            ('== exit code ',) + LOG_ONLY_AT_END + DEPLOY_LOG_ONLY)
        if not m or (key not in running and not header):
            raise Failure('a line of the run log outside any block: %r' % line)
        if rest.startswith('== exit code '):
            running.pop(key)[3] = int(rest[len('== exit code '):])
        elif header:
            running[key] = [m.group(1), m.group(2), rest, None, []]
            got.append(running[key])
        else:
            running[key][4].append(rest)
    return got


def record_tail(texts, records):
    """A finished Tidewell block's lines without the log's own, and what is
    wrong with those: the reboot check's lines may stand anywhere; the result,
    a line for each thing left and a record not written end the block, and
    say what the run's record (records read after it) holds."""
    body = [t for t in texts if not t.startswith(LOG_ONLY_ANYWHERE)]
    k = len(body)
    while k and body[k - 1].startswith(LOG_ONLY_AT_END[1:]):
        k -= 1
    if not k or not body[k - 1].startswith(LOG_ONLY_AT_END[0]):
        return body, ['no "%s" line before its exit code' % LOG_ONLY_AT_END[0]]
    tail, body = body[k - 1:], body[:k - 1]
    logged = [tail[0][len(LOG_ONLY_AT_END[0]):],
              [t[len(LOG_ONLY_AT_END[1]):] for t in tail if t.startswith(LOG_ONLY_AT_END[1])]]
    values = dict((r[1], r[3:]) for r in records if r[0] == 'record')
    problems = [t for t in tail if t.startswith(LOG_ONLY_AT_END[2])]
    if logged != [(values.get('Result') or [None])[0], values.get('Left', [])]:
        problems.append('result and left lines %r, the record read after the run %r' % (
            logged, [values.get('Result'), values.get('Left')]))
    return body, problems


def last_record_problems(text, records):
    """The log's last Tidewell block against the record read after the run."""
    blocks = [b for b in log_blocks(text) if b[0] == 'Tidewell' and b[3] is not None]
    if not blocks:
        return ['no finished Tidewell block']
    return record_tail(blocks[-1][4], records)[1]


def run_log_problems(text, runs):
    """The run log after runs, each (program, records, whether it is a 32-bit
    process on 64-bit Windows), in the order run. Every program run, those it
    started included, must be a block of its own in the order they began: its
    header, each of its debug-output lines in order, the log's own lines of a
    Tidewell block (record_tail), its exit code; nothing else may be in the
    log. Session 1 and elevated: Wine's answers."""
    import difflib
    version = release_version()
    names = dict((p[3], p[0][:-4]) for p in PROGRAMS.values())
    is32 = dict((p[0][:-4], p[4]) for p in PROGRAMS.values())
    want = []
    for program, records, wow64 in runs:
        name = PROGRAMS[program][0][:-4]
        lines = {name: []}
        for prefix, message in debug_lines(records):
            # A bare line is the uninstaller's, wherever it runs.
            who = names.get(prefix, name) if prefix else \
                'Tidewell' if program == 'tidewelldeploy' else name
            lines.setdefault(who, []).append((prefix + '  ' if prefix else '') + log_text(message))
        code = [int(r[1]) for r in records if r[0] == 'exit'][-1]
        # The programs it started are 32-bit programs under WOW64 as it is.
        want += [(who, wow64 and is32[who], texts, code if who == name else
                  EXIT_CODES[who.lower()], records) for who, texts in lines.items()]
    try:
        got = log_blocks(text)
    except Failure as e:
        return [str(e)]
    problems = [] if len(got) == len(want) else \
        ['%d blocks in the run log, %d runs' % (len(got), len(want))]
    for (who, pid, header, code, texts), (name, wow64, want_texts, want_code, records) in \
            zip(got, want):
        head = '== %s %s, process %s, session 1, 32-bit on 64-bit Windows: %s, elevated: yes' % (
            name, version, pid, 'yes' if wow64 else 'no')
        if (who, header, code) != (name, head, want_code):
            problems.append('block of %s[%s]: %r, exit code %s; wanted %r, exit code %d' % (
                who, pid, header, code, head, want_code))
        if who == 'Tidewell' and code is not None:
            texts, wrong = record_tail(texts, records)
            problems += ['block of %s[%s]: %s' % (who, pid, w) for w in wrong]
        if who == 'TidewellDeploy':
            texts = [t for t in texts if not t.startswith(DEPLOY_LOG_ONLY)]
        if texts != want_texts:
            problems.append('block of %s[%s] against its debug output:\n' % (who, pid) + '\n'.join(
                difflib.unified_diff(want_texts, texts, 'debug output', 'log', lineterm='', n=2)))
    return problems


# ---------------------------------------------------------------- the machine

def machine_text(scn):
    """The machine description that the native runner loads and the Wine
    seeder reads (each takes the instructions it knows)."""
    exe, _, _, _, is32 = PROGRAMS[scn.program]
    lines = ['windir\t' + WINDOWS_DIR,
             'module\t%s\\%s' % (PROGRAM_FOLDER, exe),
             'wow64\t%d' % (1 if is32 and scn.prefix == 'win64' else 0),
             'machine\t%s' % ('x86' if scn.prefix == 'win32' else 'x64')]
    if scn.record:
        lines += ['record\t%s\t%s\t%s' % v for v in (
            ('Result', 'sz', scn.record), ('Left', 'multi_sz', ''),
            ('Version', 'sz', release_version()), ('LastRun', 'sz', '2026-01-05T10:00:00+01:00'),
            ('RebootRequired', 'dword', '0'))]
    if scn.station:
        lines.append('station\t' + scn.station)
    if scn.runs > 1:
        lines.append('runs\t%d' % scn.runs)
    if scn.interrupt:
        lines.append('end-after\t%s\t%s' % (PROGRAMS[scn.interrupt[0]][0], scn.interrupt[1]))
    for p in scn.beside:
        lines.append('program\t%s\\%s%s' % (PROGRAM_FOLDER, PROGRAMS[p][0],
                                              '\tx86' if PROGRAMS[p][4] else ''))
    if scn.plant:
        # A file beside the program, as another program would be.
        lines.append('program\t%s\\%s.dll' % (PROGRAM_FOLDER, scn.plant))
    for p, publisher in sorted(scn.signed.items()):
        path = '%s\\%s' % (PROGRAM_FOLDER, PROGRAMS[p][0])
        lines.append('signature\t%s\tCN=Throwaway-signer-%s\t%s' % (path, publisher, CA_NAME))
        if p in scn.tamper:
            lines.append('changed\t' + path)
    for n in scn.nodes:
        lines.append('device\t%s\t%s\t%d' % (n.name, n.guid, 1 if n.attached else 0))
        lines += ['hwid\t' + h for h in n.hwids]
        for which in ('dev', 'drv'):
            if n.keys[which]:
                lines.append('key\t' + which)
        for which, vname, vtype, data in n.values:
            lines.append('value\t%s\t%s\t%s\t%s' % (which, vname, vtype, data))
    return lines


def native_machine(scn, settings, content_dir):
    lines = machine_text(scn)
    for f in scn.files:
        if f.directory:
            lines.append('dir\t' + f.name)
            continue
        path = os.path.join(content_dir, f.name)
        with open(path, 'wb') as out:
            out.write(f.content)
        lines.append('file\t%s\t%X\t%s' % (f.name, f.attributes or 0x20, path))
    for n, f in enumerate(scn.store):
        path = os.path.join(content_dir, 'store%d' % n)
        with open(path, 'wb') as out:
            out.write(f.content)
        lines.append('store\t%s\t%s' % (f.name, path))
    for port, state in sorted(scn.ports.items()):
        lines.append('port\t%s\t%s' % (port, state))
    lines += ['setting\t' + s for s in settings]
    return '\n'.join(lines) + '\n'


def run_native(scn, args, settings=()):
    def runner_of(program):
        runner = getattr(args, 'native_' + PROGRAMS[program][2])
        if not runner or not os.path.isfile(runner):
            raise Failure('the native runner of %s is missing (%s)' % (program, runner))
        return runner

    command = [runner_of(scn.program)]
    for p in scn.beside:
        # A program beside it runs through its own runner when it is started.
        command += ['--program', '%s=%s' % (PROGRAMS[p][0], runner_of(p))]
    with tempfile.TemporaryDirectory(prefix='e2e-native-') as tmp:
        text = native_machine(scn, settings, tmp)
        p = subprocess.run(command, input=text.encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=60)
    if p.returncode != 0:
        raise Failure('the native runner failed (%d): %s' % (p.returncode,
                                                             p.stderr.decode('latin-1')))
    return outcome_from(parse_records(p.stdout.decode('latin-1')), scn)


# ---------------------------------------------------------------- Wine

def wine_env(prefix, kind, display=None):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith('WINE') and k not in ('DISPLAY', 'WAYLAND_DISPLAY')}
    env['WINEPREFIX'] = prefix
    env['WINEARCH'] = kind
    env['WINEDEBUG'] = '-all'
    # No Mono or Gecko: nothing may ask to install them.
    env['WINEDLLOVERRIDES'] = 'mscoree,mshtml='
    if display:
        env['DISPLAY'] = display
    return env


@functools.lru_cache(maxsize=None)
def host():
    """How this host starts i386 programs: native, emulated or none."""
    return i386host.mode()


def need_wine():
    for tool in ('wine', 'wineserver', WINE64):
        if not shutil.which(tool):
            raise Failure('%s is not installed: the Wine scenarios cannot run' % tool)
    if host() == 'none':
        started, why = i386host.probe()
        raise Failure('this host does not start i386 programs (%s), which Wine needs%s' % (
            why, ': scripts/setup.sh, as root, sets up CPU emulation for them'
            if started == 'refused' else ''))


def launcher(kind, is32):
    """The command that starts a program in a prefix of the kind."""
    return WINE64 if kind == 'win64' and not is32 else 'wine'


def call_timeout(is32):
    return EMULATED_CALL_TIMEOUT if is32 and host() == 'emulated' else WINE_CALL_TIMEOUT


def template_kinds():
    """The prefixes the scenarios need: no 32-bit one where 32-bit Windows is
    stood in for."""
    return ('win64',) if host() == 'emulated' else ('win64', 'win32')


def wine_version():
    return subprocess.run([WINE64, '--version'], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=30).stdout.decode().strip()


def call(cmd, env, timeout=WINE_CALL_TIMEOUT, input=None, cwd=None):
    """Runs a command to its end. Its output goes through files, not pipes:
    the services that a first Wine process starts keep its output open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        try:
            if input is None:
                p = subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err, timeout=timeout, cwd=cwd)
            else:
                p = subprocess.run(cmd, env=env, input=input, stdout=out, stderr=err,
                                   timeout=timeout, cwd=cwd)
        except subprocess.TimeoutExpired:
            raise Failure('timed out after %d s: %s' % (timeout, ' '.join(cmd)))
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(cmd, p.returncode, out.read(), err.read())


def test_ca(work):
    """The throwaway CA's folder, made once per work folder."""
    ca = os.path.join(work, 'ca')
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, '.ca.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.isfile(os.path.join(ca, PUBLISHERS[-1] + '.key')):
            shutil.rmtree(ca + '.new', ignore_errors=True)
            p = subprocess.run([os.path.join(SCRIPTS, 'testca.sh'), ca + '.new', '3650'] +
                               list(PUBLISHERS), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            if p.returncode != 0:
                raise Failure('scripts/testca.sh failed: ' + p.stdout.decode('latin-1'))
            os.rename(ca + '.new', ca)
    return ca


def sign_program(ca, publisher, path, tamper):
    """Signs a program file in place (Authenticode, SHA-256); with tamper,
    one byte changes afterwards."""
    if not shutil.which('osslsigncode'):
        raise Failure('osslsigncode is not installed (scripts/setup.sh installs it)')
    p = subprocess.run(['osslsigncode', 'sign', '-certs', os.path.join(ca, publisher + '.pem'),
                        '-key', os.path.join(ca, publisher + '.key'), '-h', 'sha256',
                        '-in', path, '-out', path + '.signed'],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if p.returncode != 0:
        raise Failure('osslsigncode could not sign %s: %s' % (path, p.stdout.decode('latin-1')))
    os.replace(path + '.signed', path)
    if tamper:
        with open(path, 'r+b') as f:
            f.seek(TAMPERED_BYTE)
            byte = f.read(1)[0]
            f.seek(TAMPERED_BYTE)
            f.write(bytes([byte ^ 0x20]))


def make_template(work, kind):
    """A booted prefix of the kind, made once and kept in the build folder."""
    need_wine()
    base = os.path.join(work, 'templates')
    os.makedirs(base, exist_ok=True)
    final = os.path.join(base, kind)
    stamp = os.path.join(final, 'e2e-template')
    want = '%s %s\n' % (wine_version(), kind)
    with open(os.path.join(base, '.lock'), 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.isfile(stamp) and open(stamp).read() == want:
            return final
        print('making the %s prefix template%s' % (kind, ' (a few minutes: i386 programs '
              'run under CPU emulation here)' if host() == 'emulated' else ''), flush=True)
        shutil.rmtree(final, ignore_errors=True)
        tmp = final + '.new'
        shutil.rmtree(tmp, ignore_errors=True)
        env = wine_env(tmp, kind)
        wine = launcher(kind, kind == 'win32')
        try:
            # A 64-bit prefix's 32-bit half is made by 32-bit programs.
            p = call([wine, 'wineboot', '-i'], env, timeout=max(150, call_timeout(True)))
            if p.returncode != 0:
                raise Failure('wineboot failed for the %s template: %s' %
                              (kind, p.stderr.decode('latin-1')[-2000:]))
            # MessageBoxA calls show in the relay channel, and nothing else does.
            p = call([wine, 'reg', 'add', 'HKCU\\Software\\Wine\\Debug', '/v', 'RelayInclude',
                      '/d', 'user32.MessageBoxA', '/f'], env)
            if p.returncode != 0:
                raise Failure('setting RelayInclude failed: %s' % p.stderr.decode('latin-1'))
            call(['wineserver', '-w'], env, timeout=call_timeout(True))
        finally:
            subprocess.run(['wineserver', '-k'], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        with open(os.path.join(tmp, 'e2e-template'), 'w') as f:
            f.write(want)
        os.rename(tmp, final)
        return final


# Folders of a prefix that no run writes into: shared with the template
# through hard links instead of copied.
LINKED = ('drive_c/windows/system32', 'drive_c/windows/syswow64', 'drive_c/windows/winsxs')


def clone(template, dest):
    def copy(rel):
        src = os.path.join(template, rel)
        dst = os.path.join(dest, rel)
        if rel in LINKED:
            shutil.copytree(src, dst, symlinks=True, copy_function=os.link)
        elif os.path.islink(src):
            os.symlink(os.readlink(src), dst)
        elif os.path.isdir(src):
            os.mkdir(dst)
            for entry in os.listdir(src):
                copy(os.path.join(rel, entry) if rel else entry)
            shutil.copystat(src, dst)
        else:
            shutil.copy2(src, dst)
    copy('')


class WineRun:
    """One scenario in a fresh copy of the template; the prefix's wineserver
    is ended, and every process of the prefix with it, when the run is over."""

    def __init__(self, scn, args, display=None, name=None):
        self.scn = scn
        self.args = args
        self.stand_in = scn.prefix == 'win32' and host() == 'emulated'
        self.kind = 'win64' if self.stand_in else scn.prefix
        self.build = args.win64_build if self.kind == 'win64' else args.win32_build
        self.dir = os.path.join(args.work, 'runs', name or scn.name)
        self.prefix = os.path.join(self.dir, 'prefix')
        self.env = wine_env(self.prefix, self.kind, display)
        self.holders = []
        self.started = False
        self.plant_problems = []
        self.log_problems = []

    def path(self, windows_path):
        """The unix path of a path on drive C: of the prefix."""
        assert windows_path[:3].upper() == 'C:\\'
        return os.path.join(self.prefix, 'drive_c', *windows_path[3:].split('\\'))

    def exe(self, program):
        name, build, _, _, is32 = PROGRAMS[program]
        if self.stand_in and is32:
            build = 'win64'
            path = os.path.join(self.args.win64_build, 'stand-in', name)
        else:
            path = os.path.join(self.args.win64_build if build == 'win64'
                                else self.args.win32_build, name)
        if not os.path.isfile(path):
            raise Failure('%s is missing: build the %s preset first' % (path, build))
        return path

    def fixture(self, name):
        path = os.path.join(self.build, 'fixtures', name)
        if not os.path.isfile(path):
            raise Failure('%s is missing: build the %s preset first' % (path, self.kind))
        return path

    def prepare(self):
        template = make_template(self.args.work, self.kind)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        clone(template, self.prefix)
        tools = self.path('C:\\e2e')
        os.makedirs(tools)
        for f in ('seed.exe', 'holdport.exe', 'onstation.exe'):
            shutil.copy(self.fixture(f), tools)
        folder = self.path(PROGRAM_FOLDER + '\\')
        os.makedirs(folder)
        for p in [self.scn.program] + self.scn.beside:
            shutil.copy(self.exe(p), folder)
        for p, publisher in self.scn.signed.items():
            sign_program(test_ca(self.args.work), publisher,
                         os.path.join(folder, PROGRAMS[p][0]), p in self.scn.tamper)
        if self.scn.plant:
            shutil.copy(self.fixture(self.scn.plant + '.dll'), folder)
            shutil.copy(self.fixture(PLANT_CONTROL), folder)
        # From here on the prefix may have a server to end.
        self.started = True
        p = call(['wineserver', '-p'], self.env, timeout=30)
        if p.returncode != 0:
            raise Failure('wineserver -p failed: %s' % p.stderr.decode('latin-1'))

    def read_file(self, windows_path):
        """A file of the prefix as text ('' when there is none)."""
        if not os.path.isfile(self.path(windows_path)):
            return ''
        with open(self.path(windows_path), 'rb') as f:
            return f.read().decode('latin-1')

    def is32(self, program):
        """Whether the program, as this run has it, is an i386 program."""
        return PROGRAMS[program][4] and not self.stand_in

    def wine(self, args, stdin=None, debug='-all', cwd=None, is32=False, planted=False,
             timeout=None):
        env = dict(self.env, WINEDEBUG=debug)
        if planted:
            # Wine takes its own DLL of the name unless told to search for a
            # Windows one first, in the program's folder as Windows does.
            env['WINEDLLOVERRIDES'] += ';%s=n,b' % self.scn.plant
        return call([launcher(self.kind, is32)] + args, env, timeout=timeout or call_timeout(is32),
                    input=stdin, cwd=cwd or self.dir)

    def run(self, program, debug='-all,+debugstr,+relay', starter=None, planted=False):
        """Runs a program from its folder, or through a starter fixture
        (onstation.exe, of the prefix's own kind, which writes the program's
        whole exit code); its raw records. A program that wrote no trace did
        not run, whatever its exit code."""
        exe = '%s\\%s' % (PROGRAM_FOLDER, PROGRAMS[program][0])
        p = self.wine((starter or []) + [exe], debug=debug, cwd=self.path(PROGRAM_FOLDER + '\\'),
                      is32=self.kind == 'win32' if starter else self.is32(program),
                      planted=planted, timeout=call_timeout(self.is32(program)))
        returncode, stdout = p.returncode, p.stdout
        if starter:
            m = re.search(rb'(?:^|\n)exit code (\d+)\r?\n$', stdout)
            if not m:
                raise Failure('%s: %s' % (starter[0], stdout.decode('latin-1').strip() or
                                          'no exit code (%d)' % returncode))
            returncode, stdout = int(m.group(1)), stdout[:m.start() + (m.group(0)[:1] == b'\n')]
        records = wine_records(returncode, stdout, p.stderr)
        if not any(r[0] == 'debug' for r in records):
            raise Failure('%s did not run (exit code %d); its standard error ends:\n%s' % (
                exe, p.returncode, '\n'.join(p.stderr.decode('latin-1').splitlines()[-20:])))
        return records

    def seed_tool(self, verb, stdin=None):
        p = self.wine(['C:\\e2e\\seed.exe', verb], stdin=stdin)
        out = p.stdout.decode('latin-1')
        # Seen once in some hundred runs: the fixture ends with 1 before it
        # writes anything, its own failures always say "error ...". Wine did
        # not get it going; it is started once more, saying so.
        if p.returncode != 0 and not out.strip():
            print('seed.exe %s ended with %d before writing anything; started again'
                  % (verb, p.returncode))
            p = self.wine(['C:\\e2e\\seed.exe', verb], stdin=stdin)
            out = p.stdout.decode('latin-1')
        if p.returncode != 0:
            raise Failure('seed.exe %s failed (%d): %s %s' % (verb, p.returncode, out,
                                                              p.stderr.decode('latin-1')))
        return out

    def set_up(self):
        # The first process of a fresh copy starts the prefix's services;
        # the listing it makes is the picture before the scenario.
        before = self.seed_tool('list')
        self.foreign_before = [r for r in parse_records(before) if r[0] == 'node']
        # The scenario's ports and inf folder are all there is of them.
        dosdevices = os.path.join(self.prefix, 'dosdevices')
        for entry in os.listdir(dosdevices):
            if re.fullmatch(r'com[0-9]+', entry):
                os.unlink(os.path.join(dosdevices, entry))
        inf = self.path(WINDOWS_DIR + '\\inf')
        for entry in os.listdir(inf):
            path = os.path.join(inf, entry)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.unlink(path)
        attribs = []
        for f in self.scn.files:
            path = os.path.join(inf, f.name)
            if f.directory:
                os.mkdir(path)
            else:
                with open(path, 'wb') as out:
                    out.write(f.content)
            if f.attributes:
                attribs.append('attrib\t%s\t%X' % (f.name, f.attributes))
        for f in self.scn.store:
            # New folders in the copy's own system32: its files are the
            # template's (hard links), never written to.
            path = self.path(STORE + '\\' + f.name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'xb') as out:
                out.write(f.content)
        ports = os.path.join(self.dir, 'ports')
        os.makedirs(ports)
        for port in self.scn.ports:
            # Wine enforces share modes only on regular files.
            target = os.path.join(ports, port.lower())
            open(target, 'wb').close()
            os.symlink(target, os.path.join(dosdevices, port.lower()))
        text = '\n'.join(machine_text(self.scn) + attribs) + '\n'
        out = self.seed_tool('seed', text.encode())
        if 'seeded' not in out:
            raise Failure('seed.exe did not finish: ' + out)
        for port, state in sorted(self.scn.ports.items()):
            if state == 'held':
                self.hold(port)

    def hold(self, port):
        env = dict(self.env)
        p = subprocess.Popen([launcher(self.kind, False), 'C:\\e2e\\holdport.exe', port], env=env,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, cwd=self.dir)
        self.holders.append(p)
        line = read_line(p.stdout, 30)
        if line.strip() != 'held':
            raise Failure('holdport.exe could not hold %s: %s' % (port, line.strip()))

    def release_ports(self):
        for p in self.holders:
            try:
                p.stdin.close()
                p.wait(timeout=15)
            except (subprocess.TimeoutExpired, OSError):
                p.kill()
        self.holders = []

    def run_program(self, first=True):
        """One run of the program; in the first, a program to be interrupted
        is stood in for by endafter.exe, which ends it at its trace."""
        if first and self.scn.interrupt:
            return self.run_interrupted()
        # On a hidden station the program is started by onstation.exe, and
        # TidewellDeploy, whose return codes pass 255, always.
        starter = ['C:\\e2e\\onstation.exe'] if self.scn.station else \
            ['C:\\e2e\\onstation.exe', '--visible'] if self.scn.program == 'tidewelldeploy' else None
        records = self.run(self.scn.program, starter=starter, planted=bool(self.scn.plant))
        if self.scn.plant:
            self.check_plant(PROGRAMS[self.scn.program][0])
        return records

    def run_interrupted(self):
        name = PROGRAMS[self.scn.interrupt[0]][0]
        folder = self.path(PROGRAM_FOLDER + '\\')
        stem = os.path.splitext(name)[0]
        real = stem + '.real.exe'
        os.rename(os.path.join(folder, name), os.path.join(folder, real))
        shutil.copy(self.fixture('endafter.exe'), os.path.join(folder, name))
        with open(os.path.join(folder, stem + '.endafter'), 'wb') as f:
            f.write(('%s\\%s\n' % (PROGRAM_FOLDER, real)).encode('latin-1') +
                    unescape(self.scn.interrupt[1]).encode('latin-1'))
        try:
            records = self.run_program(first=False)
            result_path = os.path.join(folder, stem + '.endafter.result')
            result = open(result_path).read() if os.path.exists(result_path) else '(none)'
            if result != 'ended':
                raise Failure('%s was not ended where the scenario says (endafter.exe: %s)' %
                              (name, result))
            return records
        finally:
            for leftover in (name, stem + '.endafter', stem + '.endafter.result'):
                if os.path.exists(os.path.join(folder, leftover)):
                    os.unlink(os.path.join(folder, leftover))
            os.rename(os.path.join(folder, real), os.path.join(folder, name))

    def check_plant(self, program):
        """The program must not have loaded the planted DLL; the control,
        run after it from the same folder, must load it, or the scenario
        could not have shown a program that does."""
        marker = self.path('%s\\%s' % (PROGRAM_FOLDER, PLANT_MARKER))
        dll = self.scn.plant + '.dll'
        if os.path.exists(marker):
            with open(marker, 'rb') as f:
                loaders = f.read().decode('latin-1').split()
            self.plant_problems.append('the DLL %s planted beside %s was loaded by: %s' %
                                       (dll, program, ', '.join(loaders)))
            os.unlink(marker)
        else:
            print('planted %s: not loaded by %s' % (dll, program))
        # A 64-bit program, started through Wine's 64-bit loader.
        p = self.wine(['%s\\%s' % (PROGRAM_FOLDER, PLANT_CONTROL)],
                      cwd=self.path(PROGRAM_FOLDER + '\\'), planted=True)
        if not os.path.exists(marker):
            self.plant_problems.append(
                'the control %s, which imports %s statically, did not load the planted one '
                '(exit code %d): the scenario cannot show a planted DLL' %
                (PLANT_CONTROL, dll, p.returncode))
        else:
            with open(marker, 'rb') as f:
                print('planted %s: loaded by the control (marker: %s)' %
                      (dll, ', '.join(f.read().decode('latin-1').split())))

    def read_record(self):
        """The run record as the prefix's own reg.exe exports it (a 64-bit
        one in a 64-bit prefix: the 64-bit view), as records; none where
        there is no record."""
        export = self.path(RECORD_EXPORT)
        p = self.wine(['reg', 'export', RECORD_KEY, RECORD_EXPORT, '/y'],
                      is32=self.kind == 'win32')
        if p.returncode != 0:
            said = (p.stdout + p.stderr).decode('latin-1')
            if 'Unable to find the specified registry key' not in said:
                raise Failure('reg export failed (%d): %s' % (p.returncode, said))
            return []
        with open(export, 'rb') as f:
            text = f.read().decode('utf-16')
        os.unlink(export)
        return reg_export_records(text)

    def finish(self):
        self.release_ports()
        after = parse_records(self.seed_tool('list'))
        return after

    def end(self):
        for p in self.holders:
            p.kill()
        if self.started:
            subprocess.run(['wineserver', '-k'], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
            subprocess.run(['wineserver', '-w'], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        for p in self.holders:
            p.wait(timeout=10)
        self.holders = []
        # Whatever the server did not take with it is ended here.
        for pid in prefix_processes(self.prefix):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


def prefix_processes(prefix):
    """The processes that run with this WINEPREFIX."""
    want = ('WINEPREFIX=' + prefix).encode()
    pids = []
    for entry in os.listdir('/proc'):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open('/proc/%s/environ' % entry, 'rb') as f:
                if want in f.read().split(b'\0'):
                    pids.append(int(entry))
        except OSError:
            pass
    return pids


def read_line(stream, timeout):
    """One line from a child's output, or what came before the time ran out."""
    import select
    end = time.time() + timeout
    data = b''
    fd = stream.fileno()
    while time.time() < end and not data.endswith(b'\n'):
        ready, _, _ = select.select([fd], [], [], max(0.0, end - time.time()))
        if not ready:
            break
        chunk = os.read(fd, 1)
        if not chunk:
            break
        data += chunk
    return data.decode('latin-1')


def wine_records(returncode, stdout, stderr):
    """Raw records of a program run under Wine: its debug output (and that
    of any program it started) from +debugstr, message boxes from +relay."""
    records = []
    for line in stderr.decode('latin-1').splitlines():
        k = line.find(':debugstr:OutputDebugStringA ')
        if k >= 0:
            text, _ = c_string(line, k + len(':debugstr:OutputDebugStringA '))
            records.append(['debug', text])
            continue
        k = line.find(':Call user32.MessageBoxA(')
        if k >= 0:
            records.append(['messagebox'] + message_box_args(line[k + len(':Call user32.MessageBoxA('):]))
            continue
        if re.match(r'qemu[-\w]*: ', line):
            records.append(['problem', 'the CPU emulator reports: ' + line])
    out = stdout.decode('latin-1')
    if out:
        records.append(['stdout', out])
    records.append(['exit', str(returncode)])
    return records


def message_box_args(text):
    """Text, caption and style from the relay line's arguments."""
    args = []
    i = 0
    while len(args) < 4:
        m = re.match(r'([0-9a-fA-F]+)', text[i:])
        i += len(m.group(1))
        value = int(m.group(1), 16)
        if text[i:i + 2] == ' "':
            s, i = c_string(text, i + 1)
            args.append(s)
        else:
            args.append('' if len(args) in (1, 2) and value == 0 else '%X' % value)
        i += 1  # the comma or the closing parenthesis
    return [args[1], args[2], args[3]]


def run_wine(scn, args):
    need_wine()
    run = WineRun(scn, args)
    if run.stand_in:
        print('\n== %s\n%s' % (STAND_IN, STAND_IN_LABEL))
    ok = False
    try:
        run.prepare()
        run.set_up()
        parts = []
        for first in [True] + [False] * (scn.runs - 1):
            parts.append(run.run_program(first) + run.read_record())
            if scn.program == 'tidewell' and not scn.runlog:
                # Whatever the log's other lines, its last block and the record agree.
                run.log_problems += ['run log: ' + p for p in last_record_problems(
                    run.read_file(RUN_LOG), parts[-1])]
        records = parts[0] + ([['run', '2']] + parts[1] if scn.runs == 2 else [])
        after = run.finish()
        outcome = outcome_from(records + [r for r in after if r[0] in ('node', 'file')], scn)
        before = ['\t'.join(r[1:]) for r in run.foreign_before
                  if not re.fullmatch(r'ROOT\\[A-Za-z0-9]+\\0000', r[1], re.I)]
        if sorted(before) != sorted(outcome.foreign):
            outcome.problems.append('nodes the scenario did not make changed:\n  before: %s\n'
                                    '  after: %s' % (before, outcome.foreign))
        outcome.problems += run.plant_problems + run.log_problems
        if scn.runlog:
            log = run.read_file(RUN_LOG)
            print('\n== the run log %s\n%s' % (RUN_LOG, log.replace('\r\n', '\n')), end='')
            wow64 = run.is32(scn.program) and run.kind == 'win64'
            outcome.problems += ['run log: ' + p for p in run_log_problems(
                log, [(scn.program, part, wow64) for part in parts])]
        ok = True
        return outcome
    finally:
        run.end()
        if ok and not args.keep:
            shutil.rmtree(run.dir, ignore_errors=True)
        elif not ok:
            print('the Wine prefix of this run is kept in %s' % run.prefix)


# ---------------------------------------------------------------- comparing

def apply_differences(outcome, differences):
    """The outcome Wine gives where the layer (modelling Windows) gives this one."""
    swaps = [(d.replace, d.by) for d in differences if d.replace is not None]
    adds = [(d.after, d.add) for d in differences if d.after is not None]

    def swap(text):
        for old, new in swaps:
            if text == old:
                return new
        return text

    o = Outcome()
    for line in outcome.log:
        head, sep, message = line.partition(' | ')
        o.log.append(head + sep + swap(message))
        o.log += [head + sep + add for after, add in adds if message == after]
    o.stdout = [swap(s) for s in outcome.stdout]
    o.boxes, o.record = list(outcome.boxes), list(outcome.record)
    o.exit, o.nodes = outcome.exit, list(outcome.nodes)
    o.files = sorted(outcome.files + [d.keeps for d in differences if d.keeps is not None],
                     key=str.lower)
    if outcome.again is not None:
        o.again = apply_differences(outcome.again, differences)
    return o


def expected_record(result, left, reboot):
    """The record of a Tidewell run, as the outcome shows it; result 'none':
    one without Result."""
    return record_lines([('Result', 'sz', [result])] * (result != 'none') +
                        [('Left', 'multi_sz', left),
                         ('Version', 'sz', [release_version()]),
                         ('LastRun', 'sz', [LAST_RUN_FORM]),
                         ('RebootRequired', 'dword', [str(reboot)])])


def expected_outcome(scn):
    def run_of(e):
        o = Outcome()
        o.log, o.stdout, o.boxes, o.exit = list(e.log), list(e.stdout), list(e.boxes), e.exit
        if e.result is not None:
            o.record = expected_record(e.result, e.left, e.reboot)
        return o

    o = run_of(scn.expect)
    o.nodes, o.files = list(scn.expect.nodes), list(scn.expect.files)
    if scn.expect_again is not None:
        o.again = run_of(scn.expect_again)
    return o


def diff(a_name, a, b_name, b):
    import difflib
    return ''.join(difflib.unified_diff(a.text().splitlines(True), b.text().splitlines(True),
                                        a_name, b_name, n=100))


def check_layer(scn, args, failures):
    """The layer's part: its outcome against the expectations, its account,
    and the declared differences' honesty. Returns the outcome Wine must give."""
    windows = run_native(scn, args)
    print('\n== simulated layer (as Windows behaves)\n' + windows.text())
    if windows.problems:
        failures.append('the layer reports: ' + '; '.join(windows.problems))
    if scn.plant:
        print('libraries loaded: %s' % (', '.join(windows.libraries) or 'none'))
        planted = [lib for lib in windows.libraries
                   if lib.lower() == ('%s\\%s.dll' % (PROGRAM_FOLDER, scn.plant)).lower()]
        if planted:
            failures.append('the layer loaded the DLL planted beside the program: ' + planted[0])
    want = expected_outcome(scn)
    if want.text() != windows.text():
        failures.append('the layer does not meet the expectations:\n' +
                        diff('expected', want, 'layer', windows))

    settings = [d.setting for d in scn.differences if d.setting]
    as_wine = run_native(scn, args, settings) if settings else windows
    for d in scn.differences:
        if d.setting and run_native(scn, args, [d.setting]).text() == windows.text():
            failures.append('difference %s: the setting %s changes nothing here' %
                            (d.name, d.setting))
        logs = as_wine.log + (as_wine.again.log if as_wine.again else [])
        stdout = as_wine.stdout + (as_wine.again.stdout if as_wine.again else [])
        for text in (d.replace, d.after):
            if text is not None and not any(
                    line.partition(' | ')[2] == text for line in logs) \
                    and text not in stdout:
                failures.append('difference %s: "%s" does not occur' % (d.name, text))
        if d.keeps is not None and (d.keeps in as_wine.files or not any(
                f.name == d.keeps for f in scn.files)):
            failures.append('difference %s: %s is no scenario file that the run deletes' %
                            (d.name, d.keeps))
    wine_expected = apply_differences(as_wine, scn.differences)
    if scn.differences:
        print('== declared differences of Wine')
        for d in scn.differences:
            what = {'setting': lambda: 'setting ' + d.setting,
                    'replace': lambda: '"%s" -> "%s"' % (d.replace, d.by),
                    'after': lambda: '"%s" after "%s"' % (d.add, d.after),
                    'keeps': lambda: 'keeps ' + d.keeps}[d.kinds()[0]]()
            print('  %s: %s (%s)' % (d.name, what, d.reason))
    return wine_expected


def check(scn, args, with_wine=True):
    """Runs the scenario on the layer and, unless told not to, on Wine;
    returns the list of failures."""
    failures = []
    print('scenario %s: %s' % (scn.name, scn.title))
    wine_expected = check_layer(scn, args, failures)
    if not with_wine:
        return failures
    wine = run_wine(scn, args)
    print('\n== Wine\n' + wine.text())
    if wine.problems:
        failures.append('Wine run: ' + '; '.join(wine.problems))
    if wine.text() != wine_expected.text():
        failures.append('Wine and the layer disagree beyond the declared differences:\n' +
                        diff('layer with the declared differences', wine_expected, 'wine', wine))
    return failures


# ---------------------------------------------------------------- message box

def message_box(scn, args):
    """Runs a refusing scenario under Xvfb: the real box must appear, keep the
    program waiting, and let it end as on Wine without a display once it is
    dismissed. A screenshot of the box goes to args.png."""
    failures = []
    for tool in ('Xvfb', 'xwininfo', 'xdotool', 'import'):
        if not shutil.which(tool):
            raise Failure('%s is not installed' % tool)
    need_wine()
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', '1', '-screen', '0', '800x600x24',
                             '-nolisten', 'tcp'], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    run = None
    program = None
    try:
        number = read_line(xvfb.stdout, 30).strip()
        if not number.isdigit():
            raise Failure('Xvfb did not start')
        xenv = dict(os.environ, DISPLAY=':' + number)
        # Its own run folder: the scenario itself may run at the same time.
        run = WineRun(scn, args, display=':' + number, name=scn.name + '-xvfb')
        if run.stand_in:
            print('== %s\n%s' % (STAND_IN, STAND_IN_LABEL))
        run.prepare()
        # Without a window manager Wine draws the caption itself.
        p = run.wine(['reg', 'add', 'HKCU\\Software\\Wine\\X11 Driver', '/v', 'Managed',
                      '/d', 'N', '/f'])
        if p.returncode != 0:
            raise Failure('setting Managed failed: ' + p.stderr.decode('latin-1'))
        run.set_up()
        exe = '%s\\%s' % (PROGRAM_FOLDER, PROGRAMS[scn.program][0])
        env = dict(run.env, WINEDEBUG='-all,+debugstr,+relay')
        out_file, err_file = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        program = subprocess.Popen([launcher(run.kind, run.is32(scn.program)), exe], env=env,
                                   stdin=subprocess.DEVNULL,
                                   stdout=out_file, stderr=err_file,
                                   cwd=run.path(PROGRAM_FOLDER + '\\'))
        window = None
        end = time.time() + 40
        while time.time() < end and window is None and program.poll() is None:
            tree = subprocess.run(['xwininfo', '-root', '-tree'], env=xenv,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
            window = re.search(rb'(0x[0-9a-f]+) "Uninstall Drv": \(.*?\)\s+(\d+)x(\d+)'
                               rb'\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', tree)
            if window is None:
                time.sleep(0.3)
        if window is None:
            failures.append('no window "Uninstall Drv" appeared')
        else:
            time.sleep(1.0)  # let it paint
            if program.poll() is not None:
                failures.append('the program ended while its message box was up')
            w, h, x, y = (int(window.group(i)) for i in (2, 3, 4, 5))
            crop = '%dx%d+%d+%d' % (w + 40, h + 40, max(0, x - 20), max(0, y - 20))
            subprocess.run(['import', '-window', 'root', '-crop', crop, '+repage', args.png],
                           env=xenv, check=True, timeout=30)
            print('screenshot of the message box: %s' % args.png)
            subprocess.run(['xdotool', 'windowfocus', '--sync', str(int(window.group(1), 16)),
                            'key', 'Return'], env=xenv, timeout=30)
        try:
            program.wait(timeout=30)
        except subprocess.TimeoutExpired:
            failures.append('the program did not end after its message box was dismissed')
            program.kill()
            program.wait()
        out_file.seek(0)
        err_file.seek(0)
        records = wine_records(program.returncode, out_file.read(), err_file.read())
        records += run.read_record()
        after = run.finish()
        o = outcome_from(records + [r for r in after if r[0] in ('node', 'file')], scn)
        print('== Wine under Xvfb\n' + o.text())
        if o.problems:
            failures.append('Wine run: ' + '; '.join(o.problems))
        settings = [d.setting for d in scn.differences if d.setting]
        want = apply_differences(run_native(scn, args, settings), scn.differences)
        if not want.boxes:
            failures.append('the scenario shows no message box')
        if o.text() != want.text():
            failures.append('under Xvfb the run differs from the layer with the declared '
                            'differences:\n' + diff('layer', want, 'xvfb', o))
    finally:
        if program and program.poll() is None:
            program.kill()
        if run:
            run.end()
            if not failures:
                shutil.rmtree(run.dir, ignore_errors=True)
        xvfb.terminate()
        xvfb.wait(timeout=10)
    return failures


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('verb', choices=('templates', 'run', 'layer', 'native', 'messagebox'))
    parser.add_argument('scenario', nargs='?')
    parser.add_argument('--work', required=True, help='folder for templates and runs')
    parser.add_argument('--win32-build', required=True)
    parser.add_argument('--win64-build', required=True)
    parser.add_argument('--native-tidewell')
    parser.add_argument('--native-zorvane')
    parser.add_argument('--native-tidewell64')
    parser.add_argument('--native-deploy')
    parser.add_argument('--png', help='where messagebox saves its screenshot')
    parser.add_argument('--keep', action='store_true', help='keep the prefix of a passing run')
    args = parser.parse_args()
    for name in ('work', 'win32_build', 'win64_build', 'native_tidewell', 'native_zorvane',
                 'native_tidewell64', 'native_deploy', 'png'):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))

    # CTest ends a test that runs too long: the prefix's processes go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        if args.verb == 'templates':
            for kind in template_kinds():
                start = time.time()
                print('%s template: %s (%.1f s)' % (kind, make_template(args.work, kind),
                                                    time.time() - start))
            return 0
        if not args.scenario:
            parser.error('the verb needs a scenario file')
        scn = load(args.scenario)
        if args.verb == 'native':
            print(run_native(scn, args).text())
            return 0
        if args.verb == 'messagebox':
            if not args.png:
                parser.error('messagebox needs --png')
            failures = message_box(scn, args)
        else:
            failures = check(scn, args, with_wine=args.verb == 'run')
    except Failure as e:
        failures = [str(e)]
    for f in failures:
        print('\nFAILED: ' + f)
    if not failures:
        print('\npassed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

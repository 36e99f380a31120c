#!/usr/bin/env python3
"""How this host starts i386 (32-bit x86) programs: natively, under CPU
emulation through a binfmt_misc entry for qemu-i386, or not at all.

Wine's 32-bit side (Tidewell.exe, a WINEARCH=win32 prefix, and the `wine`
launcher itself) needs i386 programs to start. Some hosts run 64-bit code
only: there every i386 execve fails with ENOEXEC ("Exec format error").
Whether a host can is found out by trying: an installed i386 program is
started. Only ENOEXEC counts as a refusal; any other failure (a missing
loader, ENOENT) is reported as what it is and changes nothing.

  i386host.py setup STATE   find out, and where needed (or asked for) set up
                            the emulation; exit 1 when it cannot be had
  i386host.py undo STATE    undo what setup changed for the forced emulated
                            mode, if anything: remove the entry it registered,
                            switch off again the entry it switched on, unmount
                            the binfmt_misc it mounted
  i386host.py mode          print native, emulated or none

STATE is a file where setup records what it changed in the forced mode, one
change a line, so that undo undoes exactly that.

Environment:
  OMRAK_EMULATE_I386=1   the emulated mode on a host that runs i386 programs
                         natively: setup registers the entry anyway (undo
                         removes it), and the end-to-end tests run as on a
                         host without IA-32
  OMRAK_I386_PROBE       a shell command that replaces the probe (starting
                         /lib/ld-linux.so.2 --version)
  OMRAK_BINFMT_DIR       the binfmt_misc folder, replacing
                         /proc/sys/fs/binfmt_misc (its entries and the
                         registration); no mount is tried for it
  OMRAK_QEMU_I386        the emulator, replacing /usr/bin/qemu-i386-static
"""

import errno
import os
import subprocess
import sys

PROBE = ['/lib/ld-linux.so.2', '--version']
BINFMT = '/proc/sys/fs/binfmt_misc'
QEMU = '/usr/bin/qemu-i386-static'
QEMU_PACKAGE = 'qemu-user-static'
ENTRY = 'qemu-i386'

# The i386 ELF header as the usual qemu-binfmt entry matches it: class 32-bit,
# little endian, version 1, an executable or shared object for EM_386.
MAGIC = b'\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
MASK = b'\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# P keeps argv[0] as the program gave it; F opens the emulator once, now, so
# that it is found in every mount namespace and chroot.
FLAGS = 'FP'

# Measured on 2 cores: Tidewell.exe in a 64-bit prefix took 58 s under the
# emulator against about 1 s natively; a start of the `wine` launcher and a
# 32-bit Windows program is what dominates it.
SLOWDOWN = 50


def forced():
    return os.environ.get('OMRAK_EMULATE_I386', '') not in ('', '0')


def binfmt_dir():
    return os.environ.get('OMRAK_BINFMT_DIR') or BINFMT


def qemu_path():
    return os.environ.get('OMRAK_QEMU_I386') or QEMU


def probe():
    """Starts an installed i386 program: ('ran', ''); ('refused', why) when
    the kernel refuses it (ENOEXEC, "Exec format error"); ('failed', why)
    for any other failure, such as a missing loader (ENOENT). A probe
    command (OMRAK_I386_PROBE) is refused when it fails saying "Exec format
    error", as a shell does."""
    command = os.environ.get('OMRAK_I386_PROBE')
    try:
        if command:
            p = subprocess.run(['sh', '-c', command], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, timeout=120)
            what = command
        else:
            p = subprocess.run(PROBE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               timeout=120)
            what = ' '.join(PROBE)
    except OSError as e:
        return ('refused' if e.errno == errno.ENOEXEC else 'failed',
                '%s: %s' % (PROBE[0], e.strerror))
    except subprocess.TimeoutExpired:
        return 'failed', '%s did not end in 120 s' % ' '.join(PROBE)
    if p.returncode != 0:
        text = (p.stderr or p.stdout).decode('latin-1').strip().splitlines()
        last = text[-1] if text else ''
        why = '%s: exit code %d%s' % (what, p.returncode, ': ' + last if last else '')
        return 'refused' if command and 'Exec format error' in last else 'failed', why
    return 'ran', ''


def read_entry(path):
    """A binfmt_misc entry as its file shows it: enabled, interpreter,
    offset, magic and mask (bytes)."""
    entry = {'name': os.path.basename(path), 'enabled': False, 'offset': 0}
    with open(path) as f:
        for line in f.read().splitlines():
            key, _, value = line.partition(' ')
            if line == 'enabled':
                entry['enabled'] = True
            elif key == 'interpreter':
                entry['interpreter'] = value
            elif key == 'offset':
                entry['offset'] = int(value)
            elif key in ('magic', 'mask'):
                entry[key] = bytes.fromhex(value)
    return entry


def i386_entries():
    """The entries of the binfmt_misc folder that an i386 ELF program
    matches, in name order, or None when no binfmt_misc is mounted there."""
    folder = binfmt_dir()
    if not os.path.exists(os.path.join(folder, 'register')):
        return None
    found = []
    for name in sorted(os.listdir(folder)):
        if name in ('register', 'status'):
            continue
        try:
            entry = read_entry(os.path.join(folder, name))
        except (OSError, ValueError):
            continue
        magic = entry.get('magic')
        if magic is None or entry['offset'] != 0 or len(magic) > len(MAGIC):
            continue
        mask = entry.get('mask', b'\xff' * len(magic))
        if all(MAGIC[i] & mask[i] == magic[i] & mask[i] for i in range(len(magic))):
            found.append(entry)
    return found


def mode():
    """native, emulated or none: how an i386 program starts here now."""
    if probe()[0] != 'ran':
        return 'none'
    if forced() or any(e['enabled'] for e in i386_entries() or []):
        return 'emulated'
    return 'native'


def registration():
    """The line that registers the emulator for i386 ELF programs."""
    def esc(data):
        return ''.join('\\x%02x' % b for b in data)
    return ':%s:M::%s:%s:%s:%s' % (ENTRY, esc(MAGIC), esc(MASK), qemu_path(), FLAGS)


def enabling_commands():
    """The two commands, as root, that make i386 programs start here."""
    mount = '' if i386_entries() is not None else \
        'mount -t binfmt_misc binfmt_misc %s && ' % binfmt_dir()
    return ['apt-get install %s' % QEMU_PACKAGE,
            "%sprintf '%s' > %s/register" % (mount, registration().replace('\\', '\\\\'),
                                              binfmt_dir())]


def cannot(why, missing):
    """Stops, naming what is missing; why is None in the forced mode."""
    if why is None:
        first = 'The emulated mode is asked for (OMRAK_EMULATE_I386)'
    else:
        first = 'This host does not start i386 programs (%s), which Wine\'s 32-bit side needs' % why
    lines = ['%s, and CPU emulation cannot be set up here: %s.' % (first, missing),
             'As root, these two commands enable it (then run this command again):']
    lines += ['  ' + c for c in enabling_commands()]
    print('\n'.join(lines), file=sys.stderr)
    return 1


def say_emulated(how):
    if forced():
        print('Emulated mode (OMRAK_EMULATE_I386): i386 programs run under CPU emulation '
              '(%s, %s), about %d times slower; the 32-bit Windows scenarios run the x86_64 '
              'build of the uninstaller.' % (qemu_path(), how, SLOWDOWN))
    else:
        print('This host runs 64-bit code only: 32-bit programs run under CPU emulation '
              '(%s, %s), about %d times slower.' % (qemu_path(), how, SLOWDOWN))


def failed(why):
    """Stops on a failure of the probe that is no refusal by the kernel."""
    hint = ''
    if why.startswith(PROBE[0] + ': ') and not os.path.exists(PROBE[0]):
        hint = ' %s comes with the package libc6:i386 (which wine32:i386 needs).' % PROBE[0]
    print('i386 programs could not be tried on this host (%s). That is no refusal by the '
          'kernel, which says "Exec format error" where it runs 64-bit code only, so no CPU '
          'emulation is set up.%s' % (why, hint), file=sys.stderr)
    return 1


def setup(state):
    started, why = probe()
    if started == 'failed':
        return failed(why)
    ok = started == 'ran'
    folder = binfmt_dir()
    changes = []
    entries = i386_entries()
    active = [e for e in entries or [] if e['enabled']]
    if ok and active:
        # Registered before (by an earlier run or by the host's own set-up).
        named = [e for e in active if os.path.basename(e.get('interpreter', '')).startswith(
            'qemu')] or active
        say_emulated('entry %s reused' % ', '.join('%s/%s' % (folder, e['name']) for e in named))
        return 0
    if ok and not forced():
        return 0
    if ok:
        why = None
    root = os.geteuid() == 0
    if entries is None and root and folder == BINFMT:
        subprocess.run(['mount', '-t', 'binfmt_misc', 'binfmt_misc', BINFMT],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        entries = i386_entries()
        if entries is not None:
            changes.append('mounted ' + BINFMT)
    missing = []
    if not root:
        missing.append('setting it up needs root')
    if entries is None:
        missing.append('no binfmt_misc at %s, and it cannot be mounted' % folder)
    if not os.path.exists(qemu_path()) and not root:
        missing.append('%s is not installed' % qemu_path())
    if missing:
        return cannot(why, '; '.join(missing))
    if not os.path.exists(qemu_path()):
        env = dict(os.environ, DEBIAN_FRONTEND='noninteractive')
        p = subprocess.run(['apt-get', 'update', '-q'], env=env)
        if p.returncode == 0:
            p = subprocess.run(['apt-get', 'install', '-y', '-q', '--no-install-recommends',
                                QEMU_PACKAGE], env=env)
        if p.returncode != 0 or not os.path.exists(qemu_path()):
            return cannot(why, 'installing %s failed' % QEMU_PACKAGE)
    entry = os.path.join(folder, ENTRY)
    try:
        if any(e['name'] == ENTRY for e in entries):
            # Registered before but switched off: switched on again.
            with open(entry, 'w') as f:
                f.write('1')
            how = 'entry %s enabled again' % entry
            changes.append('enabled ' + entry)
        else:
            with open(os.path.join(folder, 'register'), 'w') as f:
                f.write(registration())
            how = 'registered as %s' % entry
            changes.append('registered ' + entry)
    except OSError as e:
        return cannot(why, 'registering %s failed: %s' % (qemu_path(), e.strerror))
    if ok:
        # Asked for on a host that needs none: undone at the end.
        with open(state, 'w') as f:
            f.write(''.join(c + '\n' for c in changes))
    started, after = probe()
    if started != 'ran':
        return cannot(why, 'i386 programs do not start even with %s registered: %s' %
                      (qemu_path(), after))
    say_emulated(how)
    return 0


def undo(state):
    """Undoes, last first, what setup changed for the forced mode."""
    if not os.path.exists(state):
        return 0
    with open(state) as f:
        changes = [line.split(' ', 1) for line in f.read().splitlines() if ' ' in line]
    os.unlink(state)
    done = []
    for change, path in reversed(changes):
        if change in ('registered', 'enabled') and os.path.exists(path):
            with open(path, 'w') as f:
                f.write('-1' if change == 'registered' else '0')
            done.append('%s %s' % (path, 'removed' if change == 'registered' else 'switched off'))
        elif change == 'mounted' and i386_entries() is not None and \
                set(os.listdir(path)) <= {'register', 'status'}:
            # Only where no entry is left that it would hide.
            subprocess.run(['umount', path])
            done.append('%s unmounted' % path)
    if done:
        print('Emulated mode ended: %s.' % ', '.join(done))
    return 0


def main(argv):
    if len(argv) == 2 and argv[0] in ('setup', 'undo'):
        return (setup if argv[0] == 'setup' else undo)(argv[1])
    if argv == ['mode']:
        print(mode())
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

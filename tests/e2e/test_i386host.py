#!/usr/bin/env python3
"""Checks of setup's finding out how this host starts i386 programs, and of
its three outcomes (native, emulated by registration, cannot), with the
probe, the binfmt_misc folder and the emulator replaced: nothing here
changes the machine."""

import contextlib
import io
import os
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), 'scripts'))
import i386host  # noqa: E402

QEMU_ENTRY = '''enabled
interpreter %s
flags: PF
offset 0
magic 7f454c4601010100000000000000000002000300
mask fffffffffffefe00fffffffffffffffffeffffff
'''
# Another architecture's entry (ARM, EM 0x28): i386 programs do not match it.
ARM_ENTRY = '''enabled
interpreter /usr/bin/qemu-arm-static
flags: F
offset 0
magic 7f454c4601010100000000000000000002002800
mask ffffffffffffff00fffffffffffffffffeffffff
'''


def read(path):
    with open(path) as f:
        return f.read()


class Host(unittest.TestCase):
    """A binfmt_misc folder of plain files: the registrations written to
    its register file stay there to be read, as the kernel would take them."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = os.path.join(self.tmp.name, 'binfmt_misc')
        os.mkdir(self.dir)
        self.register = os.path.join(self.dir, 'register')
        open(self.register, 'w').close()
        self.qemu = os.path.join(self.tmp.name, 'qemu-i386-static')
        open(self.qemu, 'w').close()
        self.state = os.path.join(self.tmp.name, 'state')
        # i386 programs start once the emulator is registered or switched on
        # (a "1" written to its entry); before, the kernel refuses them.
        self.probe = ('grep -q qemu-i386 %s || grep -qx -e enabled -e 1 %s/qemu-i386 2>/dev/null'
                      ' || { echo "sh: 1: ld-linux.so.2: Exec format error" >&2; exit 126; }'
                      % (self.register, self.dir))
        self.env = {'OMRAK_BINFMT_DIR': self.dir, 'OMRAK_QEMU_I386': self.qemu,
                    'OMRAK_I386_PROBE': self.probe, 'OMRAK_EMULATE_I386': ''}
        self.uid = 0

    def tearDown(self):
        self.tmp.cleanup()

    def run_main(self, *argv):
        out, err = io.StringIO(), io.StringIO()
        with mock.patch.dict(os.environ, self.env), \
                mock.patch.object(i386host.os, 'geteuid', lambda: self.uid), \
                contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            code = i386host.main(list(argv))
        return code, out.getvalue(), err.getvalue()

    def registered(self):
        return read(self.register)

    def entry(self, name, text):
        with open(os.path.join(self.dir, name), 'w') as f:
            f.write(text)

    def test_native_changes_nothing_and_says_nothing(self):
        self.env['OMRAK_I386_PROBE'] = 'true'
        self.entry('qemu-arm', ARM_ENTRY)
        self.assertEqual((0, '', ''), self.run_main('setup', self.state))
        self.assertEqual('', self.registered())
        self.assertFalse(os.path.exists(self.state))
        self.assertEqual((0, 'native\n', ''), self.run_main('mode'))

    def test_without_ia32_the_emulator_is_registered_once(self):
        self.env['OMRAK_I386_PROBE'] = self.probe
        self.assertEqual((0, 'none\n', ''), self.run_main('mode'))
        code, out, err = self.run_main('setup', self.state)
        self.assertEqual((0, ''), (code, err))
        self.assertEqual(':qemu-i386:M::' + '\\x7f\\x45\\x4c\\x46\\x01\\x01\\x01\\x00\\x00\\x00'
                         '\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff'
                         '\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff'
                         '\\xff\\xff:%s:FP' % self.qemu, self.registered())
        self.assertEqual('This host runs 64-bit code only: 32-bit programs run under CPU '
                         'emulation (%s, registered as %s/qemu-i386), about %d times slower.\n'
                         % (self.qemu, self.dir, i386host.SLOWDOWN), out)
        self.assertEqual(1, out.count('\n'))
        # Not asked for: the registration stays for the next run.
        self.assertFalse(os.path.exists(self.state))

        # The kernel shows the entry; the second run reuses it.
        open(self.register, 'w').close()
        self.entry('qemu-i386', QEMU_ENTRY % self.qemu)
        code, out, err = self.run_main('setup', self.state)
        self.assertEqual((0, ''), (code, err))
        self.assertEqual('', self.registered())
        self.assertIn('entry %s/qemu-i386 reused' % self.dir, out)
        self.assertEqual((0, 'emulated\n', ''), self.run_main('mode'))

    def test_an_entry_of_another_name_is_reused(self):
        self.entry('i386-emulator', QEMU_ENTRY % self.qemu)
        self.env['OMRAK_I386_PROBE'] = 'true'
        code, out, _ = self.run_main('setup', self.state)
        self.assertEqual(0, code)
        self.assertIn('entry %s/i386-emulator reused' % self.dir, out)
        self.assertEqual('', self.registered())

    def test_a_switched_off_entry_is_switched_on(self):
        self.entry('qemu-i386', (QEMU_ENTRY % self.qemu).replace('enabled', 'disabled'))
        self.assertEqual((0, 'none\n', ''), self.run_main('mode'))
        code, out, _ = self.run_main('setup', self.state)
        self.assertEqual(0, code)
        self.assertEqual('1', read(os.path.join(self.dir, 'qemu-i386')))
        self.assertEqual('', self.registered())
        self.assertIn('enabled again', out)

    def test_only_exec_format_error_is_a_refusal(self):
        garbage, missing = self.qemu, os.path.join(self.tmp.name, 'ld-linux.so.2')
        os.chmod(garbage, 0o755)  # empty: no program
        self.env['OMRAK_I386_PROBE'] = ''
        for probe, started in ((garbage, 'refused'), (missing, 'failed'), ('/bin/true', 'ran')):
            with mock.patch.object(i386host, 'PROBE', [probe]), mock.patch.dict(os.environ, self.env):
                self.assertEqual(started, i386host.probe()[0], probe)
        # A missing loader is said to be one, and no emulator is registered.
        with mock.patch.object(i386host, 'PROBE', [missing, '--version']):
            code, out, err = self.run_main('setup', self.state)
        self.assertEqual((1, '', ''), (code, out, self.registered()))
        self.assertIn('(%s: No such file or directory)' % missing, err)
        self.assertIn('comes with the package libc6:i386', err)

    def assert_cannot(self, missing):
        code, out, err = self.run_main('setup', self.state)
        self.assertEqual((1, ''), (code, out))
        self.assertIn('This host does not start i386 programs', err)
        self.assertIn(missing, err)
        self.assertIn('  apt-get install qemu-user-static\n', err)
        self.assertIn("printf ':qemu-i386:M::\\\\x7f\\\\x45", err)
        self.assertIn("> %s/register" % self.dir, err)
        self.assertEqual('', self.registered() if os.path.exists(self.register) else '')
        return err

    def test_cannot_without_binfmt_misc(self):
        os.unlink(self.register)
        err = self.assert_cannot('no binfmt_misc at %s' % self.dir)
        self.assertIn('mount -t binfmt_misc binfmt_misc %s && printf' % self.dir, err)

    def test_cannot_without_root(self):
        self.uid = 1000
        os.unlink(self.qemu)
        err = self.assert_cannot('setting it up needs root')
        self.assertIn('%s is not installed' % self.qemu, err)

    def test_cannot_when_the_emulator_does_not_help(self):
        self.env['OMRAK_I386_PROBE'] = 'echo "Exec format error" >&2; exit 126'
        code, _, err = self.run_main('setup', self.state)
        self.assertEqual(1, code)
        self.assertIn('do not start even with %s registered' % self.qemu, err)
        self.assertIn('Exec format error', err)

    def test_cannot_in_the_forced_mode_says_it_was_asked_for(self):
        self.env.update(OMRAK_I386_PROBE='true', OMRAK_EMULATE_I386='1')
        os.unlink(self.register)
        code, _, err = self.run_main('setup', self.state)
        self.assertEqual(1, code)
        self.assertTrue(err.startswith('The emulated mode is asked for (OMRAK_EMULATE_I386), '
                                       'and CPU emulation cannot be set up here: no binfmt_misc'))

    def test_forced_mode_registers_and_undo_removes_only_its_own(self):
        self.env.update(OMRAK_I386_PROBE='true', OMRAK_EMULATE_I386='1')
        self.assertEqual((0, 'emulated\n', ''), self.run_main('mode'))
        code, out, _ = self.run_main('setup', self.state)
        self.assertEqual(0, code)
        self.assertIn(':qemu-i386:M::', self.registered())
        self.assertTrue(out.startswith('Emulated mode (OMRAK_EMULATE_I386)'))
        entry = os.path.join(self.dir, 'qemu-i386')
        self.assertEqual('registered %s\n' % entry, read(self.state))
        self.entry('qemu-i386', QEMU_ENTRY % self.qemu)
        self.assertEqual(0, self.run_main('undo', self.state)[0])
        self.assertEqual('-1', read(entry))
        self.assertFalse(os.path.exists(self.state))
        # An entry that was there before is reused and left in place.
        self.entry('qemu-i386', QEMU_ENTRY % self.qemu)
        open(self.register, 'w').close()
        self.assertEqual(0, self.run_main('setup', self.state)[0])
        self.assertFalse(os.path.exists(self.state))
        self.run_main('undo', self.state)
        self.assertEqual(QEMU_ENTRY % self.qemu, read(entry))
        # An entry it switched on is switched off again.
        self.entry('qemu-i386', (QEMU_ENTRY % self.qemu).replace('enabled', 'disabled'))
        self.assertEqual(0, self.run_main('setup', self.state)[0])
        self.assertEqual('1', read(entry))
        self.assertIn('%s switched off' % entry, self.run_main('undo', self.state)[1])
        self.assertEqual('0', read(entry))


if __name__ == '__main__':
    unittest.main()

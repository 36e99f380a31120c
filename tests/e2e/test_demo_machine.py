#!/usr/bin/env python3
"""The demo's checks against made-up outcomes: the right outcome passes, and
each way the main job can go wrong is caught. No Wine needed."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_machine as demo  # noqa: E402
import scenario as e2e  # noqa: E402

SCN = e2e.load(demo.MACHINE)
PRODUCT_NODES = ['PHONECOMPOSITE', 'PHONEDIAG', 'PHONEMODEM', 'PHONEPORT']
PRODUCT_FILES = ['oem21.inf', 'oem22.inf', 'oem23.inf', 'omrakphone.inf']
WINE_NODES = ['HTREE\\ROOT\\0\t0']


def debug(prefix, message):
    return [['debug', prefix], ['debug', message]]


def good_runs():
    tidewell = debug('..Tidewell - Omrak', 'Uninstall Device\n') + [['debug', '---OpenAP---']] + \
        debug('..Tidewell64 - Omrak', 'Uninstall Device for 64bit OS\n') + [['exit', '0']] + [
            ['record', 'Result', 'sz', 'clean'], ['record', 'Left', 'multi_sz'],
            ['record', 'Version', 'sz', e2e.release_version()],
            ['record', 'LastRun', 'sz', '2026-03-02T17:09:41-05:30'],
            ['record', 'RebootRequired', 'dword', '0']]
    zorvane = debug('..Zorvane64 - Omrak', 'Setup Device for 64bit OS\n') + [['exit', '1']]
    return [tidewell, zorvane]


class DemoChecks(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.contents = {f.name: f.content for f in SCN.files}
        for f in SCN.files:
            with open(os.path.join(self.tmp.name, f.name), 'wb') as out:
                out.write(f.content)
        self.before = ({n.name: n.hwids for n in SCN.nodes},
                       {f.name: 0x20 for f in SCN.files}, list(WINE_NODES))
        for name in PRODUCT_FILES:
            os.unlink(os.path.join(self.tmp.name, name))
        self.after = ({n.name: n.hwids for n in SCN.nodes if n.name not in PRODUCT_NODES},
                      {f.name: 0x20 for f in SCN.files if f.name not in PRODUCT_FILES},
                      list(WINE_NODES))
        self.runs = good_runs()

    def tearDown(self):
        self.tmp.cleanup()

    def failures(self):
        return demo.checks(SCN, self.before, self.after, self.runs, self.tmp.name, self.contents)

    def test_what_is_the_product(self):
        # usb.inf is Windows' own although a product node was installed from it.
        self.assertEqual(sorted(demo.product_nodes(SCN)), PRODUCT_NODES)
        self.assertEqual(sorted(demo.product_files(SCN)), PRODUCT_FILES)

    def test_the_right_outcome_passes(self):
        self.assertEqual(self.failures(), [])

    def test_a_product_node_or_file_left_is_caught(self):
        self.after[0]['PHONEDIAG'] = ['USB\\VID_1F3C&PID_3A42&MI_00']
        self.after[1]['omrakphone.inf'] = 0x20
        got = self.failures()
        self.assertIn('product node PHONEDIAG is still there', got)
        self.assertIn('product INF omrakphone.inf is still there', got)

    def test_other_nodes_and_files_touched_are_caught(self):
        del self.after[0]['PRINTER']
        self.after[0]['MOUSE'] = ['HID\\VID_046D&PID_C31C']
        del self.after[1]['usb.inf']
        self.after[1]['oem5.inf'] = 0x1
        self.after[1]['oem99.inf'] = 0x20
        with open(os.path.join(self.tmp.name, 'oem7.inf'), 'ab') as f:
            f.write(b'; changed\n')
        self.after[2].append('ROOT\\LEGACY\\0000\t1')
        got = '\n'.join(self.failures())
        for what in ('node PRINTER changed', 'node MOUSE changed', 'file usb.inf changed',
                     'file oem5.inf changed', 'the content of oem7.inf changed',
                     'entries that were not there: oem99.inf', "Wine's own nodes changed"):
            self.assertIn(what, got)

    def test_a_node_that_was_never_seeded_is_caught(self):
        # Otherwise a failed seeding would look like a successful removal.
        del self.before[0]['PHONEPORT']
        self.assertIn('nodes not seeded: PHONEPORT', self.failures())

    def test_exit_codes_and_the_sibling(self):
        self.runs[0][-1] = ['exit', '1']
        self.runs[1][-1] = ['exit', '0']
        self.runs[0] = [r for r in self.runs[0] if r[1] != 'Uninstall Device for 64bit OS\n']
        got = self.failures()
        self.assertIn('TidewellDeploy.exe return code 1, not 0', got)
        self.assertIn('Zorvane64.exe exit code 0, not 1', got)
        self.assertIn('the sibling Tidewell64.exe did not run', got)

    def test_a_record_that_is_not_a_clean_runs_is_caught(self):
        for wrong in (['record', 'Result', 'sz', 'left'], ['record', 'Left', 'multi_sz', 'oem9.inf'],
                      ['record', 'LastRun', 'sz', '2026-03-02T17:09:41']):
            self.runs[0] = [r for r in good_runs()[0] if r[:2] != wrong[:2]] + [wrong]
            self.assertTrue(any('run record' in f for f in self.failures()), wrong)
        self.runs[0] = [r for r in good_runs()[0] if r[0] != 'record']
        self.assertIn("the run record is not a clean run's: none", self.failures())


class TraceReading(unittest.TestCase):
    def test_prefix_and_message_are_joined_and_bare_lines_kept(self):
        records = [['debug', '..Tidewell - Omrak'], ['debug', 'Uninstall Device\n'],
                   ['debug', '---OpenAP---'], ['debug', '..Tidewell - Omrak'],
                   ['debug', 'pFileName: C:\\x.inf'], ['debug', 'CreateProcess failed'],
                   ['debug', '..Tidewell - Omrak']]
        self.assertEqual(demo.trace_lines(records), [
            ('..Tidewell - Omrak', 'Uninstall Device\n'), (None, '---OpenAP---'),
            ('..Tidewell - Omrak', 'pFileName: C:\\x.inf'), (None, 'CreateProcess failed'),
            (None, '..Tidewell - Omrak')])

    def test_wines_failing_install_parameters_are_said_to_be_wines_once(self):
        params = debug('..Tidewell64 - Omrak', demo.WINE_PARAMS + '\n')
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            demo.show_run('Tidewell.exe', params + params + [['exit', '0']])
        lines = out.getvalue().splitlines()[2:]
        self.assertEqual([demo.WINE_PARAMS, demo.WINE_PARAMS_NOTE, demo.WINE_PARAMS],
                         [line.split('  ', 2)[-1].strip() for line in lines])

    def test_readable_drops_only_the_closing_line_break(self):
        self.assertEqual(demo.readable('Need search..\n'), 'Need search..')
        self.assertEqual(demo.readable('a\nb\tc\x01\n\n'), 'a\\nb\\tc\\x01\\n')
        self.assertEqual(demo.readable('Port Name: \\\\.\\COM3'), 'Port Name: \\\\.\\COM3')


if __name__ == '__main__':
    unittest.main()

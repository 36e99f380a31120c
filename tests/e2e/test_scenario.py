#!/usr/bin/env python3
"""Checks of the scenario driver's own reading: Wine's debug lines, the relay
line of a message box, the pairing of prefix lines and messages, scenario
files and the declared differences. Runs without Wine."""

import os
import subprocess
import sys
import tempfile
import textwrap
import types
import unittest
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scenario  # noqa: E402


def load_text(text):
    with tempfile.NamedTemporaryFile('w', suffix='.scn', delete=False) as f:
        f.write(textwrap.dedent(text))
    try:
        return scenario.load(f.name)
    finally:
        os.unlink(f.name)


MINIMAL = """
    [scenario]
    prefix = win32
    program = Tidewell
    [expect]
    exit = 0
    nodes left = none
    files left = none
    result = clean
"""


class WineDebugLines(unittest.TestCase):
    def test_escapes_as_wine_prints_them(self):
        line = r'0128:warn:debugstr:OutputDebugStringA "Port Name: \\\\.\\COM7\n"'
        records = scenario.wine_records(0, b'', line.encode())
        self.assertEqual([['debug', 'Port Name: \\\\.\\COM7\n'], ['exit', '0']], records)

    def test_quote_octal_and_hex_bytes(self):
        text, end = scenario.c_string(r'x "a\"b\344\x7f" tail', 2)
        self.assertEqual('a"b\xe4\x7f', text)
        self.assertEqual(' tail', r'x "a\"b\344\x7f" tail'[end:])

    def test_unterminated_string_is_an_error(self):
        with self.assertRaises(ValueError):
            scenario.c_string('"open', 0)

    def test_other_channels_and_processes_lines_are_ignored_but_children_kept(self):
        err = '\n'.join([
            '0100:err:module:import_dll Library X not found',
            '0128:warn:debugstr:OutputDebugStringA "..Tidewell - Omrak"',
            '0130:warn:debugstr:OutputDebugStringA "..Tidewell64 - Omrak"',
            '0130:warn:debugstr:OutputDebugStringA "child\\n"',
        ]).encode()
        records = scenario.wine_records(3, b'', err)
        self.assertEqual(['..Tidewell - Omrak', '..Tidewell64 - Omrak', 'child\n'],
                         [r[1] for r in records if r[0] == 'debug'])

    def test_message_box_from_relay_with_awkward_strings(self):
        line = ('0128:Call user32.MessageBoxA(00000000,0040c064 "Close \\"all\\", now",'
                '0040c056 "Uninstall Drv",00000030) ret=0040a537')
        records = scenario.wine_records(0, b'', line.encode())
        self.assertEqual(['messagebox', 'Close "all", now', 'Uninstall Drv', '30'], records[0])

    def test_message_box_with_null_caption(self):
        line = '0128:Call user32.MessageBoxA(00000000,0040c064 "Text",00000000,00000000) ret=1'
        self.assertEqual(['messagebox', 'Text', '', '0'],
                         scenario.wine_records(0, b'', line.encode())[0])

    def test_standard_output_line_ends_are_those_of_windows(self):
        o = scenario.outcome_from(
            scenario.wine_records(0, b'CreateProcess failed (2).\r\nnext', b''),
            load_text(MINIMAL))
        self.assertEqual(['CreateProcess failed (2).\\n', 'next'], o.stdout)


class Pairing(unittest.TestCase):
    def outcome(self, debug):
        return scenario.outcome_from([['debug', d] for d in debug], load_text(MINIMAL))

    def test_prefix_and_message_pair_and_bare_lines_stand_alone(self):
        o = self.outcome(['..Tidewell - Omrak', 'Uninstall Device\n', '---OpenAP---',
                          '..Tidewell - Omrak', 'Need search..\n'])
        self.assertEqual(['..Tidewell - Omrak | Uninstall Device\\n', 'bare | ---OpenAP---',
                          '..Tidewell - Omrak | Need search..\\n'], o.log)

    def test_a_prefix_without_its_message_shows(self):
        o = self.outcome(['..Tidewell - Omrak', '..Tidewell - Omrak', 'x'])
        self.assertEqual(['..Tidewell - Omrak | (no message)', '..Tidewell - Omrak | x'], o.log)
        o = self.outcome(['..Zorvane64 - Omrak'])
        self.assertEqual(['..Zorvane64 - Omrak | (no message)'], o.log)

    def test_rendering_keeps_backslashes_and_escapes_control_bytes(self):
        o = self.outcome(['a\\b\t\x01\xe4\r\n'])
        self.assertEqual(['bare | a\\b\\t\\x01\\xE4\\r\\n'], o.log)

    def test_the_run_log_is_checked_block_by_block_against_the_debug_output(self):
        debug = ['..Tidewell - Omrak', 'a\tb\n, line: 1\n', '---OpenAP---',
                 '..Tidewell64 - Omrak', 'x\n', '..Tidewell - Omrak', 'y\n']
        record = [['record', 'Result', 'sz', 'left'], ['record', 'Left', 'multi_sz', 'device X']]
        runs = [('tidewell', [['debug', d] for d in debug] + [['exit', '0']] + record, True)]
        head = '== %s ' + scenario.release_version() + ', process %d, session 1, 32-bit on 64-bit Windows: %s, elevated: yes'
        lines = [(1, head % ('Tidewell', 1, 'yes')), (1, '..Tidewell - Omrak  a\\tb\\n, line: 1'),
                 (1, '---OpenAP---'), (2, head % ('Tidewell64', 2, 'no')),
                 (2, '..Tidewell64 - Omrak  x'), (2, '== exit code 0'),
                 (1, '(reboot check) SetupDiGetDeviceInstallParamsA failed, Error code: 0x5'),
                 (1, '..Tidewell - Omrak  y'), (1, '== result: left'), (1, '== left: device X'),
                 (1, '== exit code 0')]

        def log(lines):
            return ''.join('2026-03-17 09:41:07.250 %s[%d] %s\r\n' % (
                'Tidewell64' if pid == 2 else 'Tidewell', pid, text) for pid, text in lines)
        self.assertEqual([], scenario.run_log_problems(log(lines), runs))
        self.assertEqual([], scenario.last_record_problems(log(lines), runs[0][1]))
        for wrong in (lines[:2] + lines[3:], lines[:-1], lines[3:6] + lines[:3] + lines[6:],
                      lines + lines[3:6], [(1, 'stray')] + lines, lines[:4] + [(2, 'z')] + lines[5:],
                      lines[:8] + [(1, '== result: clean')] + lines[9:], lines[:9] + lines[10:],
                      lines[:7] + lines[8:10] + lines[7:8] + lines[10:]):
            self.assertNotEqual([], scenario.run_log_problems(log(wrong), runs), wrong)
        self.assertNotEqual([], scenario.last_record_problems(log(lines), record[:1]))

    def test_the_record_reads_alike_from_reg_exe_and_the_layer(self):
        export = ('\ufeffWindows Registry Editor Version 5.00\r\n\r\n'
                  '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Omrak\\Device Tools]\r\n'
                  '"LastRun"="2026-03-02T17:09:41+01:00"\r\n'
                  '"Left"=hex(7):52,00,5c,00,30,00,30,00,00,00,61,00,22,00,\\\r\n'
                  '  00,00,00,00\r\n"RebootRequired"=dword:00000001\r\n'
                  '"Result"="a \\"b\\" \\\\c"\r\n"Version"=hex(2):31,00,00,00\r\n')
        native = ('record\tLeft\t7\t525C303000612200\nrecord\tLastRun\t1\t323032362D30332D'
                  '30325431373A30393A34312B30313A303000\nrecord\tRebootRequired\t4\t01000000\n'
                  'record\tResult\t1\t6120226222205C6300\nrecord\tVersion\t2\t3100\n')
        scn = load_text(MINIMAL)
        wine = scenario.outcome_from(scenario.reg_export_records(export), scn).record
        self.assertEqual(['Result: a "b" \\c', 'Left: R\\00', 'Left: a"',
                          'Version (expand_sz): 1', 'LastRun: ' + scenario.LAST_RUN_FORM,
                          'RebootRequired: 1'], wine)
        self.assertEqual(wine, scenario.outcome_from(scenario.parse_records(native), scn).record)

    def test_transport_escapes_round_trip(self):
        self.assertEqual('C:\\x\tA\n\x01', scenario.unescape('C:\\\\x\\tA\\n\\x01'))

    def test_nodes_are_named_and_wines_own_kept_apart(self):
        scn = load_text(MINIMAL + """
            [node Phone1]
            class = USB
        """)
        o = scenario.outcome_from([['node', 'ROOT\\PHONE1\\0000', '0'],
                                   ['node', 'ROOT\\WINE\\WINEBUS', '1', 'root\\winebus'],
                                   ['file', 'b.inf', '21'], ['file', 'A.inf', '20']], scn)
        self.assertEqual(['Phone1'], o.nodes)
        self.assertEqual(['ROOT\\WINE\\WINEBUS\t1\troot\\winebus'], o.foreign)
        self.assertEqual(['A.inf', 'b.inf (readonly)'], o.files)


    def test_a_second_run_is_kept_apart_and_the_machine_is_the_last_runs(self):
        scn = load_text(MINIMAL)
        o = scenario.outcome_from([['debug', 'first'], ['exit', '0'], ['run', '2'],
                                   ['debug', 'second'], ['exit', '0'], ['problem', 'p'],
                                   ['file', 'a.inf', '20']], scn)
        self.assertEqual(['bare | first'], o.log)
        self.assertEqual(['bare | second'], o.again.log)
        self.assertEqual((0, 0), (o.exit, o.again.exit))
        self.assertEqual((['a.inf'], ['p']), (o.files, o.problems))
        self.assertIn('second run log:\n  bare | second\n', o.text())


class ScenarioFiles(unittest.TestCase):
    def test_a_full_scenario(self):
        scn = load_text("""
            # comment
            [scenario]
            title = t
            prefix = win64
            program = Zorvane64
            [node Phone]
            class = modem
            hwid = USB\\Vid_1F3C&Pid_3A41
            hwid = second
            attached = no
            hardware.AttachedTo = COM7
            driver.UpperFilters = multi_sz:a|b
            [file oem1.inf]
            attributes = readonly hidden
            content = <<END
            [Version]
              indented
            END
            [port com7]
            state = held
            [expect]
            trace = Setup Device for 64bit OS\\n
            prefix = ..Other - Omrak
            trace = x
            bare = y
            messagebox = text | caption
            exit = 1
            nodes left = Phone
            files left = oem1.inf (readonly hidden), z.inf
            [difference root]
            setting = locate-fails
            reason = because
        """)
        node = scn.nodes[0]
        self.assertEqual('{4D36E96D-E325-11CE-BFC1-08002BE10318}', node.guid)
        self.assertFalse(node.attached)
        self.assertEqual(['USB\\Vid_1F3C&Pid_3A41', 'second'], node.hwids)
        self.assertEqual([('dev', 'AttachedTo', 'sz', 'COM7'),
                          ('drv', 'UpperFilters', 'multi_sz', 'a|b')], node.values)
        self.assertEqual({'dev': True, 'drv': True}, node.keys)
        self.assertEqual(b'[Version]\n  indented\n', scn.files[0].content)
        self.assertEqual(0x3, scn.files[0].attributes)
        self.assertEqual({'COM7': 'held'}, scn.ports)
        self.assertEqual(['..Zorvane64 - Omrak | Setup Device for 64bit OS\\n',
                          '..Other - Omrak | x', 'bare | y'], scn.expect.log)
        self.assertEqual(['text | caption | 0x0'], scn.expect.boxes)
        self.assertEqual(['oem1.inf (readonly hidden)', 'z.inf'], scn.expect.files)

    def test_mistakes_are_refused(self):
        bad = {
            'a difference without its reason': '[difference d]\nsetting = all-present\n',
            'a replace without its by': '[difference d]\nreplace = x\nreason = r\n',
            'an after without its add': '[difference d]\nafter = x\nreason = r\n',
            'two kinds in one difference':
                '[difference d]\nsetting = all-present\nkeeps = a.pnf\nreason = r\n',
            'a setting that does not exist': '[difference d]\nsetting = fast\nreason = r\n',
            'a node name that is no registry key name': '[node a_b]\nclass = USB\n',
            'a node without a class': '[node A]\nhwid = x\n',
            'an unknown class': '[node A]\nclass = Toaster\n',
            'the same node twice': '[node A]\nclass = USB\n[node a]\nclass = USB\n',
            'a port that is not COMn': '[port LPT1]\n',
            'a file in a folder': '[file a\\b.inf]\n',
            'an unknown key': '[node A]\nclass = USB\ncolour = red\n',
            'an unended block': '[file a.inf]\ncontent = <<END\nx\n',
            'a result that is no word of the record': 'result = gone\n',
            'a store file outside a folder': '[store a.inf]\n',
            'a store file that a published INF is a copy of':
                '[file oem1.inf]\ncontent = x\n[store p\\a.inf]\ncontent = x\n',
            'a plant that does not exist': '[scenario]\nplant = version\n',
            'a 64-bit DLL planted beside a 32-bit program': '[scenario]\nplant = cfgmgr32\n',
            'a station that is not hidden': '[scenario]\nstation = visible\n',
            'two runs without their second expectations': '[scenario]\nruns = 2\n',
            'second expectations for one run': '[expect again]\nexit = 0\n',
            'an interrupt in the only run':
                '[scenario]\nbeside = Tidewell64\ninterrupt = Tidewell64 after x\n',
            'an interrupt of a program that is not beside it':
                '[scenario]\nruns = 2\ninterrupt = Tidewell64 after x\n[expect again]\nexit = 0\n',
        }
        for what, extra in bad.items():
            with self.subTest(what):
                with self.assertRaises(scenario.Failure):
                    load_text(MINIMAL + textwrap.indent(extra, '    '))

    def test_a_64_bit_program_needs_a_64_bit_prefix(self):
        with self.assertRaises(scenario.Failure):
            load_text(MINIMAL.replace('program = Tidewell', 'program = Zorvane64'))

    def test_the_machine_runs_the_32_bit_uninstaller_under_wow64_on_64_bit_only(self):
        scn = load_text(MINIMAL)
        self.assertIn('wow64\t0', scenario.machine_text(scn))
        scn.prefix = 'win64'
        self.assertIn('wow64\t1', scenario.machine_text(scn))
        scn.program = 'zorvane64'
        self.assertIn('wow64\t0', scenario.machine_text(scn))


class Differences(unittest.TestCase):
    def test_replace_touches_whole_messages_only(self):
        scn = load_text(MINIMAL + """
            [difference held]
            replace = error 0x5\\n
            by = error 0x20\\n
            reason = r
        """)
        o = scenario.Outcome()
        o.log = ['..Tidewell - Omrak | error 0x5\\n', '..Tidewell - Omrak | an error 0x5\\n',
                 'bare | error 0x5\\n']
        o.stdout = ['error 0x5\\n']
        got = scenario.apply_differences(o, scn.differences)
        self.assertEqual(['..Tidewell - Omrak | error 0x20\\n',
                          '..Tidewell - Omrak | an error 0x5\\n', 'bare | error 0x20\\n'], got.log)
        self.assertEqual(['error 0x20\\n'], got.stdout)

    def test_added_messages_follow_each_occurrence_with_its_prefix(self):
        scn = load_text(MINIMAL + """
            [difference params]
            after = removed\\n
            add = params failed\\n
            reason = r
            [difference pnf]
            keeps = oem1.pnf
            reason = r
        """)
        o = scenario.Outcome()
        o.log = ['..A - Omrak | removed\\n', '..B - Omrak | removed\\n', 'bare | removed']
        o.files = ['z.inf']
        got = scenario.apply_differences(o, scn.differences)
        self.assertEqual(['..A - Omrak | removed\\n', '..A - Omrak | params failed\\n',
                          '..B - Omrak | removed\\n', '..B - Omrak | params failed\\n',
                          'bare | removed'], got.log)
        self.assertEqual(['oem1.pnf', 'z.inf'], got.files)


class Hosts(unittest.TestCase):
    """What a Wine run starts, and how, on a host that runs i386 programs
    natively and on one that runs them under CPU emulation only."""

    def run_on(self, host, text=MINIMAL):
        args = types.SimpleNamespace(work='/w', win32_build='/b32', win64_build='/b64')
        with mock.patch.object(scenario, 'host', lambda: host):
            run = scenario.WineRun(load_text(text), args)
            with mock.patch('os.path.isfile', lambda p: True):
                exe = run.exe('tidewell')
            return run, exe, scenario.launcher(run.kind, run.is32('tidewell')), \
                scenario.template_kinds()

    def test_natively_32_bit_windows_is_a_32_bit_prefix(self):
        run, exe, wine, kinds = self.run_on('native')
        self.assertEqual(('win32', '/b32', '/b32/Tidewell.exe', 'wine'),
                         (run.kind, run.build, exe, wine))
        self.assertEqual(('win64', 'win32'), kinds)

    def test_under_emulation_the_x86_64_build_stands_in_for_32_bit_windows(self):
        run, exe, wine, kinds = self.run_on('emulated')
        self.assertEqual(('win64', '/b64', '/b64/stand-in/Tidewell.exe', scenario.WINE64),
                         (run.kind, run.build, exe, wine))
        self.assertEqual(('win64',), kinds)

    def test_the_real_uninstaller_still_runs_in_a_64_bit_prefix_under_emulation(self):
        text = MINIMAL.replace('prefix = win32', 'prefix = win64')
        for host in ('native', 'emulated'):
            run, exe, wine, _ = self.run_on(host, text)
            self.assertEqual(('win64', '/b32/Tidewell.exe', 'wine'), (run.kind, exe, wine))
            self.assertEqual(scenario.WINE64, scenario.launcher('win64', run.is32('zorvane64')))

    def test_an_emulator_report_is_a_problem_of_the_run(self):
        err = b'qemu: uncaught target signal 11 (Segmentation fault) - core dumped\n'
        o = scenario.outcome_from(scenario.wine_records(139, b'', err), load_text(MINIMAL))
        self.assertEqual(['the CPU emulator reports: qemu: uncaught target signal 11 '
                          '(Segmentation fault) - core dumped'], o.problems)

    def test_a_program_that_wrote_no_trace_did_not_run(self):
        run, _, _, _ = self.run_on('native')
        died = subprocess.CompletedProcess([], 0, b'', b'wine: could not load kernel32.dll\n')
        with mock.patch.object(run, 'wine', lambda *a, **k: died):
            with self.assertRaisesRegex(scenario.Failure, '(?s)did not run.*could not load kernel32'):
                run.run('tidewell')


if __name__ == '__main__':
    unittest.main()

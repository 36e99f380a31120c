#!/usr/bin/env python3
"""The main job under Wine: the demo machine (scenarios/demo_machine.scn) in a
fresh 64-bit prefix, the programs installed side by side in
C:\\Program Files\\Omrak, the uninstaller run first through TidewellDeploy.exe,
as a deployment system runs it, and Zorvane64.exe after it.

Prints the product's device nodes and inf-folder entries before and after,
each program's trace lines (prefix line and message joined, one line each;
lines written without a prefix line marked) and the exit codes, then the run
log C:\\windows\\Omrak.log, the run record as reg.exe shows it and
TidewellDeploy.exe's return code beside it. Every process of the prefix is
ended at the end.

With --check it also checks the outcome and exits 1 when one check fails:
every product node gone, every product INF gone, every other node and file
untouched (the files byte for byte), Wine's own nodes untouched, the sibling
run, TidewellDeploy.exe's return code 0 and Zorvane64.exe's 1, the run log one
block for each program run holding its trace lines, the run record a clean
run's and what the log's last Tidewell block says, nothing of the prefix left
running.
"""

import argparse
import os
import re
import shutil
import sys
import types

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import scenario as e2e  # noqa: E402

MACHINE = os.path.join(HERE, 'scenarios', 'demo_machine.scn')
FOLDER = 'C:\\Program Files\\Omrak'
TARGET_IDS = ('USB\\Vid_1F3C&Pid_3A41', 'USB\\Vid_1F3C&Pid_3A42')
# Tidewell64's line after each removal under Wine, and what it is, said once
# where it first appears.
WINE_PARAMS = 'SetupDiGetDeviceInstallParamsA failed, Error code: 0xe000020b'
# What Intune and Configuration Manager do with TidewellDeploy's return codes.
RETURN_CODES = {0: 'success', 1618: 'retry soon', 3010: 'soft reboot'}
WINE_PARAMS_NOTE = ("the line above, and each like it below, is Wine's, not Windows': Wine "
                    "forgets a removed device's install parameters (ERROR_NO_SUCH_DEVINST); "
                    "Windows keeps them, which is how Tidewell64 sees a reboot request")


def names_product(text):
    return any(t.lower() in text.lower() for t in TARGET_IDS)


def product_nodes(scn):
    return [n.name for n in scn.nodes if any(names_product(h) for h in n.hwids)]


def product_files(scn):
    """The product's INF files: the OEM INFs its nodes were installed from,
    and every other INF whose text names the product. Windows' own INF
    files (usb.inf) are not the product's, whoever uses them."""
    named = set()
    for n in scn.nodes:
        if n.name in product_nodes(scn):
            named |= {data.lower() for which, vname, _, data in n.values
                      if which == 'drv' and vname == 'InfPath' and data.lower().startswith('oem')}
    return [f.name for f in scn.files if not f.directory and
            (f.name.lower() in named or names_product(f.content.decode('latin-1')))]


def readable(text):
    """A debug message as a line: its closing line break dropped, other
    control bytes written as escapes."""
    if text.endswith('\n'):
        text = text[:-1]
    return e2e.render(text)


# (prefix line or None for a bare line, message) in the order written.
trace_lines = e2e.debug_lines


def exit_code(records):
    return int([r[1] for r in records if r[0] == 'exit'][-1])


def snapshot(run, scn):
    """Scenario nodes (name -> hardware IDs), inf-folder entries (name ->
    attributes) and Wine's own nodes, as seed.exe lists them."""
    nodes, files, foreign = {}, {}, []
    for r in e2e.parse_records(run.seed_tool('list')):
        if r[0] == 'node':
            m = re.fullmatch(r'ROOT\\([A-Za-z0-9]+)\\0000', r[1], re.I)
            mine = [n.name for n in scn.nodes if m and n.name.lower() == m.group(1).lower()]
            if mine:
                nodes[mine[0]] = r[3:]
            else:
                foreign.append('\t'.join(r[1:]))
        elif r[0] == 'file':
            files[r[1]] = int(r[2], 16)
    return nodes, files, sorted(foreign)


def class_name(guid):
    names = [k for k, v in e2e.CLASSES.items() if v == guid]
    return {'hidclass': 'HIDClass', 'usb': 'USB', 'wpd': 'WPD'}.get(
        names[0], names[0].capitalize()) if names else guid


def show_machine(title, scn, nodes, files):
    pnodes, pfiles = product_nodes(scn), [f.lower() for f in product_files(scn)]
    print('\n== %s' % title)
    print('device nodes (* the product):')
    for n in scn.nodes:
        if n.name in nodes:
            print('  %s %-26s %-9s %s' % ('*' if n.name in pnodes else ' ',
                                           'ROOT\\%s\\0000' % n.name, class_name(n.guid),
                                           ', '.join(nodes[n.name])))
    if not any(n.name in nodes for n in scn.nodes):
        print('  none')
    print('C:\\windows\\inf (* names the product):')
    for name in sorted(files, key=str.lower):
        flags = [f for f, bit in e2e.ATTRIBUTE_NAMES if files[name] & bit]
        print('  %s %s%s' % ('*' if name.lower() in pfiles else ' ', name,
                             ' (%s)' % ' '.join(flags) if flags else ''))
    if not files:
        print('  none')


def show_run(program, records):
    print('\n== %s, exit code %d' % (program, exit_code(records)))
    lines = trace_lines(records)
    width = max([len(p) for p, _ in lines if p] + [len('(no prefix)')])
    noted = False
    for prefix, message in lines:
        print('  %-*s  %s' % (width, prefix or '(no prefix)', readable(message)))
        if readable(message) == WINE_PARAMS and not noted:
            print('  %-*s  %s' % (width, '(Wine)', WINE_PARAMS_NOTE))
            noted = True
    for r in records:
        if r[0] == 'stdout':
            for line in r[1].splitlines():
                print('  %-*s  %s' % (width, '(stdout)', line))
        elif r[0] == 'messagebox':
            print('  %-*s  %s | %s' % (width, '(message box)', r[1], r[2]))
        elif r[0] == 'problem':
            print('  %-*s  %s' % (width, '(problem)', r[1]))


def checks(scn, before, after, runs, inf_dir, contents):
    failures = []
    nodes_before, files_before, foreign_before = before
    nodes_after, files_after, foreign_after = after
    pnodes, pfiles = product_nodes(scn), product_files(scn)
    missing = [n.name for n in scn.nodes if n.name not in nodes_before]
    if missing:
        failures.append('nodes not seeded: %s' % ', '.join(missing))
    for name in pnodes:
        if name in nodes_after:
            failures.append('product node %s is still there' % name)
    for n in scn.nodes:
        if n.name not in pnodes and nodes_after.get(n.name) != nodes_before.get(n.name):
            failures.append('node %s changed: %s -> %s' % (n.name, nodes_before.get(n.name),
                                                           nodes_after.get(n.name)))
    for name in pfiles:
        if name in files_after:
            failures.append('product INF %s is still there' % name)
    for f in scn.files:
        if f.name in pfiles:
            continue
        if files_after.get(f.name) != files_before.get(f.name):
            failures.append('file %s changed or went' % f.name)
        elif not f.directory:
            with open(os.path.join(inf_dir, f.name), 'rb') as fh:
                if fh.read() != contents[f.name]:
                    failures.append('the content of %s changed' % f.name)
    extra = sorted(set(files_after) - {f.name for f in scn.files})
    if extra:
        failures.append('entries that were not there: %s' % ', '.join(extra))
    if foreign_after != foreign_before:
        failures.append("Wine's own nodes changed")
    for records in runs:
        failures += [r[1] for r in records if r[0] == 'problem']
    tidewell, zorvane = runs
    if exit_code(tidewell) != 0:
        failures.append('TidewellDeploy.exe return code %d, not 0' % exit_code(tidewell))
    if exit_code(zorvane) != 1:
        failures.append('Zorvane64.exe exit code %d, not 1' % exit_code(zorvane))
    if ('..Tidewell64 - Omrak', 'Uninstall Device for 64bit OS\n') not in trace_lines(tidewell):
        failures.append('the sibling Tidewell64.exe did not run')
    if ('..Zorvane64 - Omrak', 'Setup Device for 64bit OS\n') not in trace_lines(zorvane):
        failures.append('Zorvane64.exe wrote no trace')
    record = e2e.record_lines([(r[1], r[2], r[3:]) for r in tidewell if r[0] == 'record'])
    if record != e2e.expected_record('clean', [], 0):
        failures.append("the run record is not a clean run's: %s" % '; '.join(record or ['none']))
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--work', required=True,
                        help='folder of the prefix template and the demo prefix')
    parser.add_argument('--win32-build', required=True)
    parser.add_argument('--win64-build', required=True)
    parser.add_argument('--check', action='store_true', help='check the outcome')
    opts = parser.parse_args()
    args = types.SimpleNamespace(work=os.path.abspath(opts.work), keep=True,
                                 win32_build=os.path.abspath(opts.win32_build),
                                 win64_build=os.path.abspath(opts.win64_build))

    # The programs are installed where an installer puts them.
    e2e.PROGRAM_FOLDER = FOLDER
    failures = []
    run = None
    try:
        scn = e2e.load(MACHINE)
        scn.program = 'tidewelldeploy'
        scn.beside = ['tidewell', 'tidewell64', 'zorvane64']
        run = e2e.WineRun(scn, args)
        run.dir = os.path.join(args.work, 'machine')
        run.prefix = os.path.join(run.dir, 'prefix')
        run.env = e2e.wine_env(run.prefix, 'win64')
        print('making the demo machine: a fresh 64-bit prefix in %s' % run.prefix)
        run.prepare()
        run.set_up()
        inf_dir = run.path(e2e.WINDOWS_DIR + '\\inf')
        contents = {f.name: f.content for f in scn.files if not f.directory}
        before = snapshot(run, scn)
        print('Wine %s; the programs in %s' % (e2e.wine_version(), FOLDER))
        show_machine('before', scn, before[0], before[1])
        # TidewellDeploy's return code passes 255: onstation.exe, which waits
        # for it, writes it whole.
        runs = [run.run('tidewelldeploy', debug='-all,+debugstr',
                        starter=['C:\\e2e\\onstation.exe', '--visible'])]
        show_run('TidewellDeploy.exe', runs[0])
        runs.append(run.run('zorvane64', debug='-all,+debugstr'))
        show_run('Zorvane64.exe', runs[1])
        runs[0] += run.read_record()
        after = snapshot(run, scn)
        show_machine('after', scn, after[0], after[1])
        log = run.read_file(e2e.RUN_LOG)
        print('\n== the run log %s (%d bytes)' % (e2e.RUN_LOG, len(log)))
        print(''.join('  ' + line + '\n' for line in log.split('\r\n')[:-1]), end='')
        # As an administrator reads it (docs/RELEASE.txt, "Deploying").
        query = ['reg', 'query', e2e.RECORD_KEY, '/reg:64']
        print('\n== the run record: %s' % ' '.join('"%s"' % a if ' ' in a else a for a in query))
        p = run.wine(query)
        print(''.join('  ' + line + '\n' for line in p.stdout.decode('latin-1').splitlines()
                      if line.strip()), end='')
        print('== TidewellDeploy.exe returned %d: %s' % (exit_code(runs[0]), RETURN_CODES.get(
            exit_code(runs[0]), 'failure')))
        if opts.check:
            failures += checks(scn, before, after, runs, inf_dir, contents)
            failures += ['run log: ' + p for p in e2e.run_log_problems(
                log, [('tidewelldeploy', runs[0], True), ('zorvane64', runs[1], False)])]
    except e2e.Failure as e:
        failures.append(str(e))
    finally:
        if run is not None:
            run.end()
            left = e2e.prefix_processes(run.prefix)
            if left:
                failures.append('processes of the prefix still running: %s' % left)
    for f in failures:
        print('\nFAILED: ' + f)
    if opts.check and not failures:
        print('\nchecked: product nodes and INFs gone, the rest untouched, return code 0 and exit '
              'code 1, a block in the run log for each program run, the record of a clean run')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())

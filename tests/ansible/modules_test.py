#!/usr/bin/python3
"""The collection's modules against a stand-in kvboot that answers with set documents of
kvboot's --json and records how it was called: what the modules ask of kvboot (arguments,
the plan they write) and what they make of its answers (changed, failed, message, exit
status, rows). Usage: modules_test.py COLLECTIONS_FOLDER"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

COLLECTIONS = None
STAND_IN = r'''#!/usr/bin/python3
import json, os, sys
arguments = sys.argv[1:]
plan = None
if arguments and arguments[0] == 'plan':
    with open(arguments[1]) as f:
        plan = json.load(f)
with open(os.environ['KV_STAND_IN_RECORD'], 'a') as f:
    f.write(json.dumps({'arguments': arguments, 'plan': plan}) + '\n')
answers = json.loads(os.environ['KV_STAND_IN_ANSWERS'])
key = next((a for a in arguments if a in answers), 'default')
rc, document = answers[key]
print(document if isinstance(document, str) else json.dumps(document))
sys.exit(rc)
'''


def device(exit=0, **fields):
    entry = {'name': 'stage', 'target': '127.0.0.2', 'status': 'ok' if exit == 0 else 'row-failed',
             'exit': exit, 'error': None, 'seconds': 30.0, 'estimate_seconds': 60.0,
             'log': '/data/logfile-stage.txt', 'rows': []}
    entry.update(fields)
    return {'status': entry['status'], 'exit': exit, 'devices': [entry]}


PANEL_ROW = {'row': 0, 'type': 'RV-PNL16', 'now': 'FW:1.4.0', 'file': '/fw/p.hex',
             'file_version': '1.5.0', 'expected': 'FW:1.5.0', 'estimate_seconds': 26.4}
WEB_ROW = {'row': 2, 'type': 'Web Server', 'now': 'FW:6.C.0', 'file': '/fw/w.rom',
           'file_version': None, 'expected': 'FW:6.C.0', 'estimate_seconds': 4.5}
UPGRADE_ARGS = {'address': '127.0.0.2', 'name': 'stage',
                'files': {'RV-PNL16': {'path': '/fw/p.hex', 'sha256': 'AB12'},
                          'Web Server': '/fw/w.rom'},
                'expect': {'RV-PNL16': 'FW:1.5.0', 'Web Server': 'FW:6.C.0'}}
SILENT_CARD = 'Connection loss error #103!3'

# (name, module, arguments, check mode, kvboot's answers {argument: [rc, document]},
#  expected result fields, expected kvboot calls: a list of argument lists, '*' any one)
CASES = [
    ('dry run shows the rows that would change', 'kvboot_upgrade', UPGRADE_ARGS, True,
     {'default': [0, device(would_change=True, rows=[
         dict(PANEL_ROW, action='flash', match='differs'),
         dict(WEB_ROW, action='skip', match='same')])]},
     {'changed': True, 'failed': False, 'rc': 0,
      'rows': [('RV-PNL16', 'FW:1.4.0', 'FW:1.5.0', 'would-flash'),
               ('Web Server', 'FW:6.C.0', 'FW:6.C.0', 'would-skip')]},
     [['plan', '*', '--json', '--dry-run']]),
    ('dry run with every row at its version changes nothing', 'kvboot_upgrade', UPGRADE_ARGS,
     True, {'default': [0, device(would_change=False, rows=[dict(PANEL_ROW, action='skip')])]},
     {'changed': False, 'failed': False}, [['plan', '*', '--json', '--dry-run']]),
    ('a run that wrote is changed, rows from and to', 'kvboot_upgrade', UPGRADE_ARGS, False,
     {'default': [0, device(changed=True, rows=[PANEL_ROW], upgrade={
         'verdict': 'Upgrade successful', 'report': ['UPGRADE PROCEDURE REPORT'],
         'rows': [{'row': 0, 'state': 'ok', 'from': 'FW:1.4.0', 'to': 'FW:1.5.0',
                   'bytes': 4128, 'reason': None}]})]},
     {'changed': True, 'failed': False, 'verdict': 'Upgrade successful',
      'rows': [('RV-PNL16', 'FW:1.4.0', 'FW:1.5.0', 'ok')]},
     [['plan', '*', '--json']]),
    ('a run with every row skipped is ok', 'kvboot_upgrade', UPGRADE_ARGS, False,
     {'default': [0, device(changed=False, rows=[PANEL_ROW], upgrade={
         'rows': [{'row': 0, 'state': 'skipped', 'reason': 'already at FW:1.5.0',
                   'from': 'FW:1.5.0', 'to': 'FW:1.5.0', 'bytes': 0}]})]},
     {'changed': False, 'failed': False, 'rows': [('RV-PNL16', 'FW:1.5.0', 'FW:1.5.0', 'skipped')]},
     [['plan', '*', '--json']]),
    ('a failed row fails the task with its reason', 'kvboot_upgrade', UPGRADE_ARGS, False,
     {'default': [1, device(exit=1, changed=True, rows=[PANEL_ROW], upgrade={
         'verdict': 'Upgrade FAILED',
         'rows': [{'row': 0, 'state': 'failed', 'reason': SILENT_CARD, 'bytes': 20}]})]},
     {'failed': True, 'rc': 1, 'msg': SILENT_CARD, 'changed': True}, [['plan', '*', '--json']]),
    ('a refused plan fails with kvboot\'s message', 'kvboot_upgrade', UPGRADE_ARGS, False,
     {'default': [2, {'status': 'usage', 'exit': 2, 'error': {
         'code': 'bad-input', 'message': 'plan: device 1: file p.hex: digest differs'}}]},
     {'failed': True, 'rc': 2, 'msg': 'digest differs'}, [['plan', '*', '--json']]),
    ('no JSON from kvboot is a failure, not a result', 'kvboot_upgrade', UPGRADE_ARGS, False,
     {'default': [139, 'Segmentation fault']},
     {'failed': True, 'msg': 'printed no JSON'}, [['plan', '*', '--json']]),
    ('inventory fails naming the device that did not answer', 'kvboot_info',
     {'targets': [{'name': 'a', 'address': '127.0.0.2'}, {'port': '/dev/ttyUSB0', 'as': 'HQLX-FBR'}]},
     False,
     {'127.0.0.2': [0, {'status': 'ok', 'device': {'kind': 'network'}, 'rows': [PANEL_ROW]}],
      '/dev/ttyUSB0': [3, {'status': 'unreachable', 'error': {
          'code': 'not-found', 'message': 'the serial port /dev/ttyUSB0 cannot be opened'}}]},
     {'failed': True, 'rc': 3, 'msg': '/dev/ttyUSB0: the serial port /dev/ttyUSB0 cannot be opened'},
     [['inventory', '127.0.0.2', '--json'], ['inventory', '/dev/ttyUSB0', '--as', 'HQLX-FBR', '--json']]),
    ('discovery that finds nothing is no failure', 'kvboot_info', {'discover': True}, True,
     {'default': [3, {'status': 'unreachable', 'modules': [], 'serial_ports': [], 'usb': []}]},
     {'failed': False, 'changed': False}, [['discover', '--wait', '3', '--json']]),
    ('recover is changed when a device was restored', 'kvboot_recover', {'usb': 'KV7'}, False,
     {'default': [0, {'status': 'ok', 'exit': 0, 'recovered': [
         {'device': 'KV7', 'restored': True}]}]},
     {'changed': True, 'failed': False}, [['recover', 'usb:KV7', '--json']]),
    ('recover with nothing open is ok', 'kvboot_recover', {}, False,
     {'default': [0, {'status': 'ok', 'exit': 0, 'recovered': []}]},
     {'changed': False, 'failed': False}, [['recover', '--json']]),
    ('recover that cannot reach a device fails', 'kvboot_recover', {}, False,
     {'default': [3, {'status': 'unreachable', 'exit': 3, 'error': {'message': 'no answer'},
                      'recovered': [{'device': '127.0.0.2', 'restored': False}]}]},
     {'failed': True, 'rc': 3, 'msg': 'no answer'}, [['recover', '--json']]),
    ('recover in check mode only lists the device\'s open entries', 'kvboot_recover',
     {'address': '127.0.0.3'}, True,
     {'default': [0, {'status': 'ok', 'exit': 0, 'open': [{'device': '127.0.0.2'}]}]},
     {'changed': False, 'failed': False, 'recovered': []}, [['status', '--json']]),
]


class Modules(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='kv-modules-')
        self.kvboot = os.path.join(self.folder, 'kvboot')
        with open(self.kvboot, 'w') as f:
            f.write(STAND_IN)
        os.chmod(self.kvboot, 0o755)

    def tearDown(self):
        shutil.rmtree(self.folder)

    def run_module(self, module, arguments, check_mode, answers):
        record = os.path.join(self.folder, 'calls')
        if os.path.exists(record):
            os.remove(record)
        args = dict(arguments, kvboot_path=self.kvboot, _ansible_check_mode=check_mode,
                    _ansible_remote_tmp=self.folder, _ansible_keep_remote_files=False)
        args_file = os.path.join(self.folder, 'args.json')
        with open(args_file, 'w') as f:
            json.dump({'ANSIBLE_MODULE_ARGS': args}, f)
        environment = dict(os.environ, PYTHONPATH=COLLECTIONS, KV_STAND_IN_RECORD=record,
                           KV_STAND_IN_ANSWERS=json.dumps(answers))
        path = os.path.join(COLLECTIONS, 'ansible_collections', 'korvandel', 'bootloader',
                            'plugins', 'modules', module + '.py')
        run = subprocess.run(['/usr/bin/python3', path, args_file], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=environment)
        result = json.loads(run.stdout)
        calls = []
        if os.path.exists(record):
            with open(record) as f:
                calls = [json.loads(line) for line in f]
        return result, calls

    def test_cases(self):
        for name, module, arguments, check_mode, answers, expected, argv in CASES:
            with self.subTest(name):
                result, calls = self.run_module(module, arguments, check_mode, answers)
                self.assertEqual(result.get('failed', False), expected['failed'], result)
                for key, value in expected.items():
                    if key == 'msg':
                        self.assertIn(value, result['msg'])
                    elif key == 'rows':
                        self.assertEqual([(r['type'], r['from'], r['to'], r['state'])
                                          for r in result['rows']], value)
                    elif key != 'failed':
                        self.assertEqual(result.get(key), value, result)
                self.assertEqual(len(calls), len(argv), calls)
                for call, wanted in zip(calls, argv):
                    self.assertEqual(len(call['arguments']), len(wanted), call)
                    for want, given in zip(wanted, call['arguments']):
                        self.assertIn(want, ('*', given), call)

    def test_the_plan_carries_the_device_pins_and_expectations(self):
        _, calls = self.run_module('kvboot_upgrade', dict(UPGRADE_ARGS, quick=True, force=True),
                                   False, {'default': [0, device()]})
        plan = calls[0]['plan']
        self.assertEqual(plan, {'devices': [{
            'name': 'stage', 'address': '127.0.0.2', 'verify': True, 'quick': True,
            'force': True, 'expect': UPGRADE_ARGS['expect'],
            'files': {'RV-PNL16': {'path': '/fw/p.hex', 'sha256': 'ab12'},
                      'Web Server': '/fw/w.rom'}}]})


if __name__ == '__main__':
    COLLECTIONS = os.path.abspath(sys.argv.pop(1))
    if subprocess.run(['/usr/bin/python3', '-c', 'import ansible'],
                      stderr=subprocess.DEVNULL).returncode != 0:
        print('skipped: Debian\'s python3 has no ansible (Debian package ansible-core)')
        sys.exit(77)
    unittest.main(verbosity=2)

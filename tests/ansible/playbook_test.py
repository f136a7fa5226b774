#!/usr/bin/python3
"""The example playbook against two simulated sites.

Two kvsim fleets on two 127.x ranges stand for two sites; an inventory of two hosts with
ansible_connection=local stands for their control machines. The playbook runs in check
mode (nothing written, the report shows the rows that would change), for real (every
memory equal to its file, the versions read back as expected), and again (every task ok,
nothing changed, no flash written). Then, on fresh fleets, one site's device fails in the
middle of its erase: its task fails with kvboot's message and the other site completes.

Runs itself in a private network namespace. Exits 77 (skipped) when ansible-playbook is
missing or the kvboot under test has no expected versions yet.
"""

import argparse
import hashlib
import json
import os
import queue
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading

SKIPPED = 77
IN_NAMESPACE = 'KV_ANSIBLE_TEST_NETNS'
# (host, first address, devices): two sites on two loopback ranges.
SITES = [('site-north', '127.1.0.2', 2), ('site-south', '127.2.0.2', 1)]
FAILING_SITE = 'site-south'
KVSIM_WAIT = 30
PLAYBOOK_WAIT = 900


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Kvsim:
    """One site's fleet: kvsim started, ready, dumped on demand, stopped at the end."""

    def __init__(self, kvsim, folder, first, count, fail=False):
        self.folder = folder
        arguments = [kvsim, '--fleet', str(count), '--fleet-base', first,
                     '--files', os.path.join(folder, 'files'),
                     '--dump', os.path.join(folder, 'dump')] + (['--fail', '1'] if fail else [])
        self.process = subprocess.Popen(arguments, stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self._wait_for('ready')

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def _wait_for(self, wanted):
        while True:
            try:
                line = self.lines.get(timeout=KVSIM_WAIT)
            except queue.Empty:
                raise Failure('kvsim never printed %s' % wanted)
            if line is None:
                raise Failure('kvsim ended before it printed %s' % wanted)
            if line.startswith(wanted):
                return

    def dump(self):
        """Has kvsim write every memory; returns {file: bytes} of what it wrote."""
        self.process.send_signal(signal.SIGUSR1)
        self._wait_for('dumped')
        dump = os.path.join(self.folder, 'dump')
        memories = {}
        for root, _, names in os.walk(dump):
            for name in names:
                with open(os.path.join(root, name), 'rb') as f:
                    content = f.read()
                # What the module took in counts every contact, a dry run's too: only what
                # the devices hold and how they are set up must stay as they were.
                if name == 'state.txt':
                    content = b''.join(line for line in content.splitlines(True)
                                       if not line.startswith(b'contacts '))
                memories[os.path.relpath(os.path.join(root, name), dump)] = content
        return memories

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def flash_writes(sites_dump):
    """Each device's dumped state (its flash-writes count among it), over both sites."""
    return dict(((host, path), text) for host, memories in sites_dump.items()
                for path, text in memories.items()
                if path.endswith('state.txt') and b'flash-writes' in text)


class Sites:
    """Both sites' fleets, the inventory naming them, and the playbook run against them."""

    def __init__(self, options, work, fail=None):
        self.options = options
        self.work = work
        self.fleets = {}
        for host, first, count in SITES:
            folder = os.path.join(work, host)
            shutil.rmtree(os.path.join(folder, 'dump'), ignore_errors=True)
            self.fleets[host] = Kvsim(options.kvsim, folder, first, count, fail == host)

    def stop(self):
        for fleet in self.fleets.values():
            fleet.stop()

    def dump(self):
        return dict((host, fleet.dump()) for host, fleet in self.fleets.items())

    def expectations(self):
        """The version each sample file carries, from kvboot's dry run of kvsim's plan."""
        versions = {}
        for host, fleet in self.fleets.items():
            run = subprocess.run([self.options.kvboot, 'plan', '--dry-run', '--json',
                                  os.path.join(fleet.folder, 'files', 'plan.json')],
                                 stdout=subprocess.PIPE, text=True, env=self.environment(host),
                                 timeout=PLAYBOOK_WAIT)
            out = run.stdout
            check(run.returncode == 0, '%s: the dry run failed: %s' % (host, out))
            document = json.loads(out.strip().splitlines()[-1])
            for device in document['devices']:
                for row in device['rows']:
                    check(row.get('file_version'), '%s %s: the sample file %s names no version'
                          % (host, device['name'], row['file']))
                    versions[(host, device['name'], row['type'])] = row['file_version']
        return versions

    def environment(self, host):
        environment = dict(os.environ)
        environment['XDG_DATA_HOME'] = os.path.join(self.work, host, 'data')
        return environment

    def write_inventory(self, versions):
        hosts = {}
        for host, fleet in self.fleets.items():
            staged = os.path.join(self.work, host, 'staged')
            with open(os.path.join(fleet.folder, 'files', 'plan.json')) as f:
                plan = json.load(f)
            devices = []
            for device in plan['devices']:
                files, expect = {}, {}
                for row, name in device['files'].items():
                    with open(os.path.join(fleet.folder, 'files', name), 'rb') as f:
                        digest = hashlib.sha256(f.read()).hexdigest()
                    files[row] = {'path': os.path.join(staged, name), 'sha256': digest}
                    expect[row] = versions[(host, device['name'], row)]
                devices.append({'name': device['name'], 'address': device['address'],
                                'files': files, 'expect': expect})
            hosts[host] = {
                'ansible_connection': 'local',
                'ansible_python_interpreter': '/usr/bin/python3',
                'kv_kvboot': self.options.kvboot,
                'kv_devices': devices,
                'kv_firmware_source': os.path.join(fleet.folder, 'files'),
                'kv_firmware_dir': staged,
                'kv_environment': {'XDG_DATA_HOME': os.path.join(self.work, host, 'data')},
            }
        inventory = {'all': {'children': {'sites': {
            'hosts': hosts, 'vars': {'kv_report': os.path.join(self.work, 'report.json')}}}}}
        path = os.path.join(self.work, 'inventory.yml')
        with open(path, 'w') as f:
            json.dump(inventory, f, indent=1)  # JSON is YAML
        return path

    def memory_problems(self, host):
        fleet = self.fleets[host]
        run = subprocess.run([self.options.fleet_check, os.path.join(fleet.folder, 'dump'),
                              os.path.join(fleet.folder, 'files', 'plan.json')],
                             stdout=subprocess.PIPE, text=True)
        return run.stdout.strip() if run.returncode != 0 else ''


class PlaybookRun:
    """One ansible-playbook run: its exit status, output, recap per host and report."""

    RECAP = re.compile(r'^(\S+)\s*:\s*ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+'
                       r'failed=(\d+)')

    def __init__(self, options, work, inventory, *extra):
        environment = dict(os.environ)
        environment.update({
            'ANSIBLE_COLLECTIONS_PATH': options.collections,
            'ANSIBLE_CONFIG': os.path.join(work, 'ansible.cfg'),
            'ANSIBLE_LOCAL_TEMP': os.path.join(work, 'ansible-local'),
            'ANSIBLE_REMOTE_TEMP': os.path.join(work, 'ansible-remote'),
            'ANSIBLE_NOCOLOR': '1',
            'ANSIBLE_RETRY_FILES_ENABLED': '0',
        })
        open(environment['ANSIBLE_CONFIG'], 'w').close()
        report = os.path.join(work, 'report.json')
        if os.path.exists(report):
            os.remove(report)
        run = subprocess.run(['ansible-playbook', '-i', inventory, options.playbook] + list(extra),
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                             env=environment, timeout=PLAYBOOK_WAIT)
        self.status = run.returncode
        self.output = run.stdout
        self.recap = {}
        for line in self.output.splitlines():
            match = self.RECAP.match(line)
            if match:
                self.recap[match.group(1)] = dict(zip(
                    ('ok', 'changed', 'unreachable', 'failed'), map(int, match.groups()[1:])))
        check(os.path.exists(report), 'the playbook wrote no report:\n' + self.output)
        with open(report) as f:
            self.report = json.load(f)

    def upgrades(self, host):
        return self.report['sites'][host]['upgrades']

    def expect(self, condition, message):
        check(condition, message + '\n--- playbook output ---\n' + self.output)


def check_run(sites, options, work, inventory):
    before = sites.dump()
    run = PlaybookRun(options, work, inventory, '--check')
    run.expect(run.status == 0, 'check mode failed')
    run.expect(sites.dump() == before, 'check mode changed a simulated device')
    run.expect(run.report['check_mode'], 'the report does not say check mode')
    for host, _, count in SITES:
        upgrades = run.upgrades(host)
        run.expect(len(upgrades) == count, '%s: %d devices in the report' % (host, len(upgrades)))
        for device in upgrades:
            run.expect(device['changed'], '%s %s would not change' % (host, device['device']))
            for row in device['rows']:
                run.expect(row['state'] == 'would-flash' and row['from'] and row['to'] and
                           row['from'] != row['to'],
                           '%s %s: row not shown as changing: %s' % (host, device['device'], row))


def real_run(sites, options, work, inventory):
    run = PlaybookRun(options, work, inventory)
    run.expect(run.status == 0, 'the upgrade failed')
    sites.dump()
    for host, _, _ in SITES:
        run.expect(run.recap[host]['changed'] > 0, '%s: nothing changed' % host)
        problems = sites.memory_problems(host)
        run.expect(not problems, '%s: %s' % (host, problems))
        for device in run.upgrades(host):
            for row in device['rows']:
                run.expect(row['state'] == 'ok' and row['to'] == row['expected'],
                           '%s %s: version not verified: %s' % (host, device['device'], row))


def again_run(sites, options, work, inventory):
    before = flash_writes(sites.dump())
    run = PlaybookRun(options, work, inventory)
    run.expect(run.status == 0, 'the second upgrade failed')
    for host, _, _ in SITES:
        run.expect(run.recap[host]['changed'] == 0 and run.recap[host]['failed'] == 0,
                   '%s: %s on the second run' % (host, run.recap[host]))
        for device in run.upgrades(host):
            run.expect(all(r['state'] == 'skipped' for r in device['rows']),
                       '%s %s: rows not skipped: %s' % (host, device['device'], device['rows']))
    after = flash_writes(sites.dump())
    run.expect(before and after == before, 'the second run wrote flash: %s -> %s' % (before, after))


def failing_run(sites, options, work, inventory):
    run = PlaybookRun(options, work, inventory)
    run.expect(run.status != 0, 'a failing device did not fail the playbook')
    sites.dump()
    for host, _, _ in SITES:
        failed = [d for d in run.upgrades(host) if d['failed']]
        if host != FAILING_SITE:
            run.expect(not failed and run.recap[host]['failed'] == 0, '%s failed too' % host)
            problems = sites.memory_problems(host)
            run.expect(not problems, '%s did not complete: %s' % (host, problems))
            continue
        run.expect(run.recap[host]['failed'] > 0 and len(failed) == 1,
                   '%s: the failing device did not fail its task' % host)
        reasons = [r['reason'] for r in failed[0]['rows'] if r['state'] == 'failed']
        run.expect(reasons and all(reason in failed[0]['msg'] for reason in reasons),
                   "%s: the task's message is not kvboot's: %s" % (host, failed[0]))
        run.expect('failed: [%s]' % host in run.output, 'no failed task for %s' % host)


def skip_reason(options):
    if not shutil.which('ansible-playbook'):
        return 'ansible-playbook is not installed (Debian package ansible-core)'
    usage = subprocess.run([options.kvboot, 'upgrade', '--help'], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True)
    if '--expect' not in usage.stdout:
        return 'this kvboot has no --expect (expected versions) yet'
    return None


def in_own_namespace():
    """A namespace made by unshare -n holds the loopback interface and nothing else."""
    return [name for _, name in socket.if_nameindex()] == ['lo']


def main():
    parser = argparse.ArgumentParser()
    for name in ('kvboot', 'kvsim', 'fleet-check', 'collections', 'playbook'):
        parser.add_argument('--' + name, required=True)
    options = parser.parse_args()
    reason = skip_reason(options)
    if reason:
        print('skipped: ' + reason)
        return SKIPPED
    if not in_own_namespace():
        if os.environ.get(IN_NAMESPACE):
            print('no private network namespace')
            return 1
        os.environ[IN_NAMESPACE] = '1'
        os.execvp('unshare', ['unshare', '-rn', 'sh', '-c', 'ip link set lo up && exec "$0" "$@"',
                              sys.executable] + sys.argv)
    work = tempfile.mkdtemp(prefix='kv-ansible-')
    sites = None
    try:
        sites = Sites(options, work)
        inventory = sites.write_inventory(sites.expectations())
        for step in (check_run, real_run, again_run):
            step(sites, options, work, inventory)
            print('%s: passed' % step.__name__)
        sites.stop()
        sites = Sites(options, work, fail=FAILING_SITE)
        failing_run(sites, options, work, inventory)
        print('failing_run: passed')
        return 0
    except Failure as e:
        print('FAILED: %s' % e)
        return 1
    finally:
        if sites:
            sites.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())

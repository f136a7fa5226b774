#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Korvandel Audio Visual Systems

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: kvboot_upgrade
short_description: Upgrade the firmware of one Korvandel device with kvboot
version_added: "1.0.0"
description:
  - Upgrades the controllers (rows) of one Korvandel device, on the network, on a serial
    port or on USB, by running C(kvboot plan --json) on the machine next to the device.
  - Idempotent when O(expect) is given for a row (or the file carries a version in its
    name) and the device reports that version, such a row is skipped; and when every row
    is skipped the task is C(ok), not C(changed), and nothing is written to the device.
  - In check mode kvboot connects to the device, reads each row's version and reports
    which rows would be written (from -> to) and how long that would take; it writes
    nothing.
  - After a run the device is back in normal operation, whatever happened.
options:
  address:
    description:
      - The device's network module, C(A.B.C.D) or C(A.B.C.D:PORT) (the tunnel port; skips
        the discovery query).
      - Exactly one of O(address), O(port) and O(usb).
    type: str
  port:
    description:
      - The serial port the device is on, for example C(/dev/ttyUSB0).
      - The user running the task needs the C(dialout) group.
    type: str
  usb:
    description:
      - The USB device, by its serial number (C(SERIAL)) or product and serial
        (C(PRODUCT:SERIAL)).
      - The package's udev rule gives the logged-in user and the C(plugdev) group access.
    type: str
  handle_as:
    description:
      - A "Handle as" type (the window's menu name) for a device that does not identify
        itself.
    type: str
    aliases: [ as ]
  files:
    description:
      - The file for each row. The key is a controller type (the first row of that type)
        or a row number as M(korvandel.bootloader.kvboot_info) lists it.
      - The value is the file's path on the machine the task runs on, or a dictionary
        with C(path) and C(sha256), the file's SHA-256 digest; a pinned file whose digest
        differs is refused before the device is touched.
      - Relative paths are taken from the working directory of the task; give absolute
        paths.
    type: dict
    required: true
  expect:
    description:
      - The version each row must run after the upgrade, by row as in O(files), for
        example C(FW:1.5.0). A row that already runs it is skipped; after writing, the
        version read back from the device must equal it.
    type: dict
    default: {}
  force:
    description:
      - Write every row even when it already runs the expected version.
    type: bool
    default: false
  quick:
    description:
      - Quick bootload, leaving out the read-back of each written block (the device's own
        checks still run).
    type: bool
    default: false
  verify:
    description:
      - Read each row's version back after the run and compare it with O(expect).
    type: bool
    default: true
  discovery_wait:
    description:
      - Seconds to wait for the device to answer the discovery query (network devices) or
        to appear (USB devices).
    type: float
  answers:
    description:
      - Answers to questions the program may ask, by name (C(protocol-switch),
        C(unreachable-device), C(usb-bootloader-mode)), each C(yes) or C(no). The upgrade
        question itself is answered C(yes).
    type: dict
    default: {}
  name:
    description:
      - The device's name in kvboot's log file name (C(logfile-NAME.txt)) and in the
        results. Default is the address, port or USB serial.
    type: str
notes:
  - Runs kvboot on the managed host, which must be the machine next to the devices; every
    frame of an upgrade waits for the device's answer, so a long network round trip adds
    minutes to each row.
  - Several network devices of one site can be upgraded at once with C(async); devices on
    one serial port must go one at a time.
seealso:
  - module: korvandel.bootloader.kvboot_info
  - module: korvandel.bootloader.kvboot_recover
extends_documentation_fragment:
  - korvandel.bootloader.kvboot
'''

EXAMPLES = r'''
- name: Upgrade a control panel to its expected versions
  korvandel.bootloader.kvboot_upgrade:
    address: 192.168.1.20
    files:
      RV-PNL16:
        path: /srv/firmware/RV-PNL16-1.5.0.hex
        sha256: 9f2c0d6f0c1e5b4a7d8e3f2a1b0c9d8e7f6a5b4c3d2e1f0a9b8c7d6e5f4a3b2c
      "Web Server": /srv/firmware/web-server-6.C.0.rom
    expect:
      RV-PNL16: FW:1.5.0
      "Web Server": FW:6.C.0
  register: panel

- name: A fibre extender on a serial port, quick bootload
  korvandel.bootloader.kvboot_upgrade:
    port: /dev/ttyUSB0
    as: HQLX-FBR
    files:
      "0": /srv/firmware/fibre-2.1.0.hex
    expect:
      "0": FW:2.1.0
    quick: true

- name: Flash again even where the version is already there
  korvandel.bootloader.kvboot_upgrade:
    usb: KV1234
    files:
      "0": /srv/firmware/usb-panel-1.2.0.hex
    force: true
'''

RETURN = r'''
rows:
  description: One entry per row the task named.
  returned: when kvboot reached the device
  type: list
  elements: dict
  contains:
    row:
      description: The row number.
      type: int
      sample: 0
    type:
      description: The controller type.
      type: str
      sample: RV-PNL16
    file:
      description: The file for the row.
      type: str
      sample: /srv/firmware/RV-PNL16-1.5.0.hex
    from:
      description: The version before the run, as the device reported it, or null.
      type: str
      sample: FW:1.4.0
    to:
      description: >-
        After a run, the version read back from the device (null when not read); in check
        mode, the version the row would get (the expected one, else the one in the file's
        name, else null).
      type: str
      sample: FW:1.5.0
    expected:
      description: The expected version, or null.
      type: str
      sample: FW:1.5.0
    state:
      description: >-
        After a run C(ok), C(skipped) (already at its expected version), C(failed),
        C(not-attempted) or C(interrupted); in check mode C(would-flash) or C(would-skip).
      type: str
      sample: ok
    reason:
      description: Why a row failed or was skipped, in the program's own words, or null.
      type: str
      sample: already at FW:1.5.0
    estimate_seconds:
      description: The estimated time of the row.
      type: float
      sample: 26.4
report:
  description: The upgrade report's lines, as the report window shows them.
  returned: after a run that reached the rows
  type: list
  elements: str
  sample: ["UPGRADE PROCEDURE REPORT", "RV-PNL16...OK"]
verdict:
  description: The report's verdict.
  returned: after a run that reached the rows
  type: str
  sample: Upgrade successful
estimate_seconds:
  description: The estimated time of the whole device, with the restore.
  returned: when kvboot reached the device
  type: float
  sample: 68.7
seconds:
  description: The time the device took.
  returned: when kvboot reached the device
  type: float
  sample: 34.5
log:
  description: kvboot's log file for the device.
  returned: when kvboot wrote one
  type: str
  sample: /home/av/.local/share/Korvandel/KV_bootloader_v3_3_2/logfile-stage-left.txt
status:
  description: kvboot's status (C(ok), C(row-failed), C(usage), C(unreachable), C(interrupted)).
  returned: always
  type: str
  sample: ok
rc:
  description: kvboot's exit status (0 ok, 1 a row failed, 2 bad input or a refused file, 3 unreachable, 4 interrupted).
  returned: always
  type: int
  sample: 0
kvboot:
  description: kvboot's own JSON for the device, as C(kvboot plan --json) gives it.
  returned: when kvboot reached the device
  type: dict
'''

import json
import os
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.six import string_types
from ansible_collections.korvandel.bootloader.plugins.module_utils.kvboot import (
    DEVICE_KEYS, DEVICE_SPEC, EXIT_OK, KVBOOT_PATH_SPEC, KvbootError, device_target,
    error_message, fail, run_kvboot)


def plan_file(params):
    """The value of a files entry as a plan takes it: a path, or a path with its pin."""
    entries = {}
    for row, value in params['files'].items():
        if isinstance(value, dict):
            unknown = set(value) - set(['path', 'sha256'])
            if unknown or not value.get('path'):
                raise KvbootError('files[%s] takes a path, or a dictionary of path and '
                                  'sha256' % row)
            entry = {'path': os.path.abspath(os.path.expanduser(value['path']))}
            if value.get('sha256'):
                entry['sha256'] = str(value['sha256']).lower()
            entries[str(row)] = entry
        elif isinstance(value, string_types) and value:
            entries[str(row)] = os.path.abspath(os.path.expanduser(value))
        else:
            raise KvbootError('files[%s] must name a file' % row)
    if not entries:
        raise KvbootError('files names no row')
    return entries


def plan_device(params):
    """One device of a kvboot plan, from the task's options."""
    target, key, value = device_target(params)
    device = {key: value, 'files': plan_file(params), 'verify': params['verify']}
    device['name'] = params['name'] or value
    if params['handle_as']:
        device['as'] = params['handle_as']
    if params['expect']:
        device['expect'] = dict((str(k), str(v)) for k, v in params['expect'].items())
    if params['force']:
        device['force'] = True
    if params['quick']:
        device['quick'] = True
    if params['discovery_wait'] is not None:
        device['discovery_wait'] = params['discovery_wait']
    if params['answers']:
        device['answers'] = dict((str(k), 'yes' if v in (True, 'yes') else 'no')
                                 for k, v in params['answers'].items())
    return device


def dry_run_row(row):
    """A row of a dry run: what the run would do with it."""
    skip = row.get('action') == 'skip'
    return {
        'row': row.get('row'), 'type': row.get('type'), 'file': row.get('file'),
        'from': row.get('now'), 'to': row.get('expected') or row.get('file_version'),
        'expected': row.get('expected'), 'match': row.get('match'),
        'state': 'would-skip' if skip else 'would-flash',
        'reason': row.get('reason'), 'estimate_seconds': row.get('estimate_seconds'),
    }


def run_row(row, upgraded):
    """A row after a run: the plan's view (versions) joined with the upgrade's (state)."""
    done = next((r for r in upgraded if r.get('row') == row.get('row')), {})
    merged = dict(row)
    merged.update(done)
    return {
        'row': merged.get('row'), 'type': merged.get('type'), 'file': merged.get('file'),
        'from': merged.get('from', row.get('now')), 'to': merged.get('to'),
        'expected': merged.get('expected'), 'state': merged.get('state'),
        'reason': merged.get('reason'), 'bytes': merged.get('bytes'),
        'seconds': merged.get('seconds'), 'estimate_seconds': row.get('estimate_seconds'),
    }


def changed_by(device, check_mode):
    """Whether the device was (check mode: would be) written. kvboot says so itself; a
    kvboot that does not, wrote (would write) every row it reached."""
    if check_mode:
        if 'would_change' in device:
            return bool(device['would_change'])
        return any(r.get('action', 'flash') == 'flash' for r in device.get('rows') or [])
    if 'changed' in device:
        return bool(device['changed'])
    upgrade = device.get('upgrade') or {}
    if 'changed' in upgrade:
        return bool(upgrade['changed'])
    return any(r.get('bytes') for r in upgrade.get('rows') or [])


def main():
    argument_spec = dict(
        files=dict(type='dict', required=True),
        expect=dict(type='dict', default={}),
        force=dict(type='bool', default=False),
        quick=dict(type='bool', default=False),
        verify=dict(type='bool', default=True),
        discovery_wait=dict(type='float'),
        answers=dict(type='dict', default={}),
        name=dict(type='str'),
    )
    argument_spec.update(DEVICE_SPEC)
    argument_spec.update(KVBOOT_PATH_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[DEVICE_KEYS], required_one_of=[DEVICE_KEYS])

    try:
        plan = {'devices': [plan_device(module.params)]}
        folder = tempfile.mkdtemp(prefix='kvboot-plan-', dir=module.tmpdir)
        path = os.path.join(folder, 'plan.json')
        with open(path, 'w') as out:
            json.dump(plan, out)
        arguments = ['plan', path, '--json'] + (['--dry-run'] if module.check_mode else [])
        rc, document, stderr = run_kvboot(module, arguments)
    except KvbootError as e:
        fail(module, str(e), **e.details)

    devices = document.get('devices') or []
    if not devices:
        # The plan was refused before any device was touched.
        fail(module, error_message(document), rc=rc, status=document.get('status'),
             stderr=stderr, kvboot=document)
    device = devices[0]
    upgrade = device.get('upgrade') or {}
    if module.check_mode:
        rows = [dry_run_row(r) for r in device.get('rows') or []]
    else:
        rows = [run_row(r, upgrade.get('rows') or []) for r in device.get('rows') or []]
    result = dict(
        changed=changed_by(device, module.check_mode), rows=rows,
        rc=device.get('exit', rc), status=device.get('status', document.get('status')),
        estimate_seconds=device.get('estimate_seconds'), seconds=device.get('seconds'),
        log=device.get('log'), kvboot=device,
    )
    if upgrade:
        result['report'] = upgrade.get('report') or []
        result['verdict'] = upgrade.get('verdict')
    if result['rc'] != EXIT_OK:
        fail(module, error_message(device), stderr=stderr, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()

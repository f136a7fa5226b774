#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Korvandel Audio Visual Systems

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: kvboot_recover
short_description: Restore Korvandel devices that a run left half-way
version_added: "1.0.0"
description:
  - kvboot records in its run journal what it changes on a device (the module's serial
    set-up, the bootloader mode, the card selected, ...) before it does so. A run that
    died (killed, power cut) leaves its entry open.
  - This module runs C(kvboot recover --json) to restore the given device, or every device
    with an open entry, to normal operation. It is C(changed) when a device was restored.
  - In check mode it lists the open entries (C(kvboot status --json)) and restores
    nothing.
options:
  address:
    description:
      - Restore only this network device (C(A.B.C.D)).
      - At most one of O(address), O(port) and O(usb); none restores every device with an
        open entry.
    type: str
  port:
    description:
      - Restore only the device on this serial port.
    type: str
  usb:
    description:
      - Restore only this USB device (C(SERIAL) or C(PRODUCT:SERIAL)).
    type: str
notes:
  - Needs a kvboot with the run journal (C(kvboot recover)); with an older one the task
    fails with kvboot's message.
seealso:
  - module: korvandel.bootloader.kvboot_upgrade
extends_documentation_fragment:
  - korvandel.bootloader.kvboot
'''

EXAMPLES = r'''
- name: Restore whatever an interrupted run left behind on this site
  korvandel.bootloader.kvboot_recover:

- name: Restore one device
  korvandel.bootloader.kvboot_recover:
    address: 192.168.1.20
'''

RETURN = r'''
recovered:
  description: >-
    One entry per device with an open journal entry (in check mode: the open entries,
    none restored).
  returned: always
  type: list
  elements: dict
  contains:
    device:
      description: The device's address, port or USB serial.
      type: str
      sample: 192.168.1.20
    kind:
      description: C(network), C(serial) or C(usb).
      type: str
      sample: network
    row:
      description: The controller type of the row the run was at, or null.
      type: str
      sample: RV-BTN16
    stopped_at:
      description: When the run stopped (ISO time).
      type: str
    changes:
      description: What the run had changed and left open.
      type: list
      elements: str
      sample: ["serial-setup", "bootloader-mode"]
    restored:
      description: Whether the device is back in normal operation (not in check mode).
      type: bool
    message:
      description: kvboot's line about the device.
      type: str
status:
  description: kvboot's status.
  returned: always
  type: str
  sample: ok
rc:
  description: kvboot's exit status (0 all restored or nothing open, 3 a device did not answer).
  returned: always
  type: int
  sample: 0
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.korvandel.bootloader.plugins.module_utils.kvboot import (
    DEVICE_KEYS, EXIT_OK, KVBOOT_PATH_SPEC, KvbootError, device_target, error_message, fail,
    run_kvboot)


def main():
    argument_spec = dict(
        address=dict(type='str'),
        port=dict(type='str'),
        usb=dict(type='str'),
    )
    argument_spec.update(KVBOOT_PATH_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True,
                           mutually_exclusive=[DEVICE_KEYS])

    target = value = None
    try:
        if any(module.params[key] for key in DEVICE_KEYS):
            target, dummy, value = device_target(module.params)
        if module.check_mode:
            rc, document, stderr = run_kvboot(module, ['status', '--json'])
            entries = document.get('open') or []
            if target is not None:
                entries = [e for e in entries if e.get('device') == value]
        else:
            rc, document, stderr = run_kvboot(module, ['recover'] + ([target] if target else [])
                                              + ['--json'])
            entries = document.get('recovered') or []
    except KvbootError as e:
        fail(module, str(e), **e.details)

    result = dict(
        changed=bool(entries) if module.check_mode else any(e.get('restored') for e in entries),
        recovered=entries, rc=document.get('exit', rc), status=document.get('status'))
    if result['rc'] != EXIT_OK:
        fail(module, error_message(document), stderr=stderr, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()

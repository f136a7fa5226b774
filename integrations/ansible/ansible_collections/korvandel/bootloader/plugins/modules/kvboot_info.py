#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 Korvandel Audio Visual Systems

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: kvboot_info
short_description: List Korvandel devices and the versions their controllers run
version_added: "1.0.0"
description:
  - Runs C(kvboot discover --json) (optional) and C(kvboot inventory --json) for each
    given target on the machine next to the devices, and returns the devices with their
    controller rows and versions.
  - Reading the inventory connects to the device and returns it to normal operation
    afterwards; nothing is written to it, so the module runs in check mode too.
options:
  discover:
    description:
      - Look for devices first, that is network modules that answer the discovery broadcast on
        the host's LANs, the serial ports that open and the maker's USB devices.
    type: bool
    default: false
  discovery_wait:
    description:
      - Seconds the discovery listens for answers.
    type: float
    default: 3
  targets:
    description:
      - The devices whose inventory is read. Each is a dictionary with one of C(address),
        C(port) or C(usb) and optionally C(as) (a "Handle as" type) and C(name); further
        keys (for example C(files) and C(expect) of the same device list) are ignored.
    type: list
    elements: dict
    default: []
notes:
  - The task fails when a target cannot be read; the devices that could be read are
    returned all the same.
seealso:
  - module: korvandel.bootloader.kvboot_upgrade
extends_documentation_fragment:
  - korvandel.bootloader.kvboot
'''

EXAMPLES = r'''
- name: What answers on this site's LAN
  korvandel.bootloader.kvboot_info:
    discover: true
  register: found

- name: The versions every device of the site runs
  korvandel.bootloader.kvboot_info:
    targets: "{{ kv_devices }}"
  register: inventory

- name: Show each row's version
  ansible.builtin.debug:
    msg: "{{ item.0.name }} row {{ item.1.row }} {{ item.1.type }}: {{ item.1.firmware }}"
  loop: "{{ inventory.devices | subelements('rows') }}"
'''

RETURN = r'''
discovered:
  description: What the discovery found (only with O(discover)).
  returned: when discover is true
  type: dict
  contains:
    modules:
      description: Network modules that answered, with C(address), C(ident), C(serial), C(mac), C(module_version) and C(tunnel_port).
      type: list
      elements: dict
    serial_ports:
      description: Serial ports that open.
      type: list
      elements: str
    usb:
      description: The maker's USB devices, with C(product) and C(serial).
      type: list
      elements: dict
devices:
  description: One entry per target, in the order given.
  returned: always
  type: list
  elements: dict
  contains:
    name:
      description: The target's name (its C(name), else its address, port or USB serial).
      type: str
      sample: stage-left
    target:
      description: The target as kvboot took it.
      type: str
      sample: 192.168.1.20
    status:
      description: kvboot's status for the target (C(ok), C(unreachable), ...).
      type: str
      sample: ok
    rc:
      description: kvboot's exit status for the target.
      type: int
      sample: 0
    error:
      description: Why the target could not be read (C(code) and C(message)), or null.
      type: dict
    device:
      description: What the device said about itself (C(kind), C(address), C(name), C(serial), C(firmware_number), ...).
      type: dict
    rows:
      description: The controller rows, each with C(row), C(type), C(hardware), C(bootloader) and C(firmware) (the version it runs).
      type: list
      elements: dict
      sample: [{"row": 0, "type": "RV-PNL16", "hardware": "HW:1.0", "bootloader": "BL:1.0", "firmware": "FW:1.4.0"}]
    log:
      description: kvboot's log file for the device.
      type: str
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.korvandel.bootloader.plugins.module_utils.kvboot import (
    EXIT_OK, EXIT_UNREACHABLE, KVBOOT_PATH_SPEC, KvbootError, device_target, error_message,
    fail, run_kvboot)


def discover(module):
    wait = module.params['discovery_wait']
    rc, document, stderr = run_kvboot(module, ['discover', '--wait', '%g' % wait, '--json'])
    # Exit status 3 only says that no module and no USB device answered.
    if rc not in (EXIT_OK, EXIT_UNREACHABLE):
        raise KvbootError(error_message(document), rc=rc, stderr=stderr)
    keys = ('modules', 'serial_ports', 'usb', 'open_entries')
    return dict((k, document[k]) for k in keys if k in document)


def inventory(module, target):
    text, key, value = device_target(target)
    arguments = ['inventory', text, '--json']
    if target.get('as'):
        arguments[2:2] = ['--as', target['as']]
    rc, document, stderr = run_kvboot(module, arguments)
    entry = {
        'name': target.get('name') or value, 'target': text, 'rc': rc,
        'status': document.get('status'), 'error': document.get('error'),
        'device': document.get('device'), 'rows': document.get('rows') or [],
        'log': document.get('log'),
    }
    if 'recovered' in document:
        entry['recovered'] = document['recovered']
    return entry


def main():
    argument_spec = dict(
        discover=dict(type='bool', default=False),
        discovery_wait=dict(type='float', default=3),
        targets=dict(type='list', elements='dict', default=[]),
    )
    argument_spec.update(KVBOOT_PATH_SPEC)
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)

    result = dict(changed=False, devices=[])
    try:
        if module.params['discover']:
            result['discovered'] = discover(module)
        for target in module.params['targets']:
            result['devices'].append(inventory(module, target))
    except KvbootError as e:
        details = dict(e.details)
        details.update(result)
        fail(module, str(e), **details)

    unread = [d for d in result['devices'] if d['rc'] != EXIT_OK]
    if unread:
        fail(module, '; '.join('%s: %s' % (d['name'], error_message(d)) for d in unread),
             rc=max(d['rc'] for d in unread), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()

# -*- coding: utf-8 -*-
# Copyright: 2026 Korvandel Audio Visual Systems
"""What the korvandel.bootloader modules share: finding kvboot, running it with --json
as an argument list (never through a shell), reading its one JSON document, and turning
its exit status and error into a failed task."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# kvboot's exit statuses (kvboot(1)).
EXIT_OK = 0
EXIT_ROW_FAILED = 1
EXIT_USAGE = 2
EXIT_UNREACHABLE = 3
EXIT_INTERRUPTED = 4

# The options every module takes to name kvboot, and those that name one device.
KVBOOT_PATH_SPEC = dict(kvboot_path=dict(type='path', default='kvboot'))
DEVICE_SPEC = dict(
    address=dict(type='str'),
    port=dict(type='str'),
    usb=dict(type='str'),
    handle_as=dict(type='str', aliases=['as']),
)
DEVICE_KEYS = ('address', 'port', 'usb')


class KvbootError(Exception):
    """kvboot could not be run or said nothing a module can read."""

    def __init__(self, message, **details):
        super(KvbootError, self).__init__(message)
        self.details = details


def find_kvboot(module):
    """The kvboot program: kvboot_path as given when it names a file, else looked up on
    the PATH (and the usual sbin folders)."""
    path = module.params['kvboot_path']
    if os.sep in path:
        if not (os.path.isfile(path) and os.access(path, os.X_OK)):
            raise KvbootError('kvboot_path %s is no program that can be run' % path)
        return path
    found = module.get_bin_path(path, required=False)
    if not found:
        raise KvbootError('%s is not on the PATH; install the korvandel-bootloader package '
                          'or give kvboot_path' % path)
    return found


def parse_document(stdout):
    """kvboot --json prints one JSON document on one line, the last line of its output.
    Returns the document, or None when there is none."""
    for line in reversed(stdout.splitlines()):
        line = line.strip()
        if not line.startswith('{'):
            continue
        try:
            document = json.loads(line)
        except ValueError:
            return None
        return document if isinstance(document, dict) else None
    return None


def run_kvboot(module, arguments):
    """Runs kvboot with the arguments (a list) and returns (exit status, document, stderr).
    Raises KvbootError when kvboot cannot be found or prints no JSON."""
    argv = [find_kvboot(module)] + [str(a) for a in arguments]
    rc, stdout, stderr = module.run_command(argv)
    document = parse_document(stdout)
    if document is None:
        raise KvbootError('kvboot printed no JSON (exit status %d): %s'
                          % (rc, (stderr or stdout).strip() or 'no output'),
                          rc=rc, cmd=argv, stdout=stdout, stderr=stderr)
    return rc, document, stderr


def error_message(document, fallback='kvboot failed'):
    """kvboot's own words for what went wrong: the failed rows' reasons and its error,
    else the verdict."""
    rows = document.get('rows') or []
    upgrade = document.get('upgrade')
    if isinstance(upgrade, dict):
        rows = upgrade.get('rows') or rows
    parts = ['row %s %s: %s' % (r.get('row'), r.get('type'), r.get('reason') or r.get('state'))
             for r in rows if r.get('state') in ('failed', 'interrupted')]
    error = document.get('error')
    if isinstance(error, dict) and error.get('message'):
        parts.append(error['message'])
    if parts:
        return '; '.join(parts)
    if isinstance(upgrade, dict) and upgrade.get('verdict'):
        return upgrade['verdict']
    return document.get('verdict') or document.get('status') or fallback


def fail(module, message, rc=None, **result):
    """Ends the task as failed with kvboot's message and exit status."""
    if rc is not None:
        result['rc'] = rc
    module.fail_json(msg=message, **result)


def device_target(params):
    """The device the options name, as kvboot's TARGET argument and as a plan's key:
    (target text, plan key, value)."""
    given = [key for key in DEVICE_KEYS if params.get(key)]
    if len(given) != 1:
        raise KvbootError('give exactly one of address, port and usb')
    key = given[0]
    value = params[key]
    return ('usb:' + value if key == 'usb' else value), key, value

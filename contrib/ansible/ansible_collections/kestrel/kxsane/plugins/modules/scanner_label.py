#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: scanner_label
short_description: Save, restore or drop a labelled copy of the scanner configuration
version_added: "1.1.0"
description:
  - Saves the device configuration file under a label before a change, puts a saved
    configuration back, or removes a label that is no longer needed.
  - Saves with C(kxsaneconfig4 -s:LABEL) and restores with C(kxsaneconfig4 -l:LABEL), so
    that the tool's lock and its failure-safe copy apply. It compares the files first, so
    a label that already holds the configuration, or a configuration that already is the
    label's, is left alone.
  - A label is the file C(/etc/opt/kestrel/scanner/kxscan4/LABEL.kxsaneconfig4).
options:
  label:
    description:
      - The label. It must not be empty, start with C(.), or hold C(/), whitespace or
        control characters.
    type: str
    required: true
  state:
    description:
      - C(saved) saves the device configuration file under the label, replacing what the
        label held.
      - C(restored) makes the device configuration file the one saved under the label; the
        task fails when there is no such label.
      - C(absent) removes the label.
    type: str
    choices: [saved, restored, absent]
    default: saved
attributes:
  check_mode:
    support: full
    description: Reports whether a file would change, and changes nothing.
  diff_mode:
    support: full
    description: Shows the file that changes before and after, under headers naming it
      (the label file for C(saved) and C(absent), the device configuration file for
      C(restored)).
notes:
  - Runs as root on the managed host, like C(kxsaneconfig4) itself (use I(become)).
extends_documentation_fragment:
  - kestrel.kxsane.kxsaneconfig
seealso:
  - module: kestrel.kxsane.scanner
  - module: kestrel.kxsane.scanner_logging
'''

EXAMPLES = r'''
- name: Save the configuration before moving the scanners
  kestrel.kxsane.scanner_label:
    label: before-move

- name: Put it back
  kestrel.kxsane.scanner_label:
    label: before-move
    state: restored

- name: Drop the label once the move is done
  kestrel.kxsane.scanner_label:
    label: before-move
    state: absent
'''

RETURN = r'''
path:
  description: The label file.
  returned: always
  type: str
  sample: /etc/opt/kestrel/scanner/kxscan4/before-move.kxsaneconfig4
'''

import os
import re

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import (
    CONFIG_DIR,
    DEVICE_CONFIG,
    LABEL_SUFFIX,
    fail_refused,
    file_diff,
    find_tool,
    read_file,
    run_change,
)

BAD_LABEL = re.compile(r'^$|^\.|[/\s\x00-\x1f\x7f]')


def saved_labels():
    try:
        names = os.listdir(CONFIG_DIR)
    except OSError:
        return []
    return sorted(n[:-len(LABEL_SUFFIX)] for n in names
                  if n.endswith(LABEL_SUFFIX) and len(n) > len(LABEL_SUFFIX))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            label=dict(type='str', required=True),
            state=dict(type='str', default='saved', choices=['saved', 'restored', 'absent']),
            executable=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    label, state = module.params['label'], module.params['state']
    if BAD_LABEL.search(label):
        module.fail_json(msg='label %r is not a label: it must not be empty, start with ".", or '
                         'hold "/", whitespace or control characters' % label)
    tool = find_tool(module)
    path = CONFIG_DIR + label + LABEL_SUFFIX
    saved = read_file(module, path)
    config = read_file(module, DEVICE_CONFIG)
    if state == 'restored' and saved is None:
        labels = saved_labels()
        module.fail_json(msg='cannot restore the label "%s": there is no %s (saved labels: %s)'
                         % (label, path, ', '.join(labels) if labels else 'none'), path=path)

    if state == 'saved' and config is None:
        module.fail_json(msg='cannot save the label "%s": there is no device configuration '
                         'file %s' % (label, DEVICE_CONFIG), path=path)

    # What changes: (the file, its text before, its text after), or None.
    if state == 'saved':
        change = (path, saved, config) if saved != config else None
    elif state == 'restored':
        change = (DEVICE_CONFIG, config, saved) if saved != config else None
    else:
        change = (path, saved, None) if saved is not None else None
    result = dict(changed=change is not None, path=path)
    if change is None:
        module.exit_json(**result)
    if module._diff:
        result['diff'] = file_diff(change[0], change[1] or '', change[2] or '')
    if module.check_mode:
        module.exit_json(**result)

    if state == 'absent':
        try:
            os.unlink(path)
        except OSError as e:
            module.fail_json(msg='removing the label "%s" failed: %s: %s'
                             % (label, path, e.strerror), **result)
        module.exit_json(**result)
    option = '-s:' if state == 'saved' else '-l:'
    asked = ('saving the configuration under the label "%s"' if state == 'saved'
             else 'restoring the configuration saved under the label "%s"') % label
    refused = run_change(module, asked, [tool, option + label])
    if refused:
        result['changed'] = read_file(module, change[0]) != change[1]
        fail_refused(module, refused, **result)
    if read_file(module, change[0]) != change[2]:
        module.fail_json(msg='%s failed: %s does not hold what was asked afterwards'
                         % (asked, change[0]), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()

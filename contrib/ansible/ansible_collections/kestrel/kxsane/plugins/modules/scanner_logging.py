#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: scanner_logging
short_description: Switch the scanner backend's logging line on or off with kxsaneconfig4
version_added: "1.1.0"
description:
  - Makes sure that the logging line of the device configuration file is at its top
    (C(state=on)), or that the file holds no logging entry (C(state=off)), for a support
    case on a whole group of hosts.
  - Reads the device configuration file to know the current state, and changes it only
    through C(kxsaneconfig4 -LI) and C(kxsaneconfig4 -LO), so that the tool's lock and
    its failure-safe rewrite apply. After a change it reads the file again and fails
    unless it is in the state asked for.
  - The logging line is C(log=/tmp/kx_sane.log , 1 , w); the backend then logs to
    C(/tmp/kx_sane.log).
options:
  state:
    description:
      - C(on) puts the logging line at the top of the device configuration file, unless
        it already is there.
      - C(off) takes every logging entry out of the file, unless it holds none.
    type: str
    choices: ['on', 'off']
    required: true
attributes:
  check_mode:
    support: full
    description: Reports whether the file would change, and changes nothing.
  diff_mode:
    support: full
    description: Shows the device configuration file before and after (in check mode,
      as the tool would leave it), under headers naming it.
notes:
  - Both tool options merge runs of equal adjacent lines of the file when they rewrite it.
  - Runs as root on the managed host, like C(kxsaneconfig4) itself (use I(become)).
extends_documentation_fragment:
  - kestrel.kxsane.kxsaneconfig
seealso:
  - module: kestrel.kxsane.scanner_label
'''

EXAMPLES = r'''
- name: Switch logging on for a support case
  kestrel.kxsane.scanner_logging:
    state: 'on'

- name: And off again
  kestrel.kxsane.scanner_logging:
    state: 'off'
'''

RETURN = r'''
state:
  description: C(on) or C(off), as the device configuration file is after the task (in check
    mode, as it would be).
  returned: always
  type: str
  sample: 'on'
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import (
    DEVICE_CONFIG,
    LOGGING_LINE,
    fail_refused,
    file_diff,
    find_tool,
    read_file,
    run_change,
    uniq,
)

OPTIONS = {'on': '-LI', 'off': '-LO'}


def logging_state(text):
    """'on' when the logging line is the file's first line, 'off' when the
    file holds no logging entry, None in between (a logging entry elsewhere)."""
    text = text or ''
    if text.startswith(LOGGING_LINE):
        return 'on'
    return 'off' if 'log=' not in text else None


def switched(text, state):
    """The file as the tool leaves it after switching to `state`."""
    lines = (text or '').splitlines(True)
    if state == 'on':
        return ''.join(uniq([LOGGING_LINE] + lines))
    return ''.join(uniq(line.split('log=', 1)[0] for line in lines))


def main():
    module = AnsibleModule(
        argument_spec=dict(
            state=dict(type='str', required=True, choices=list(OPTIONS)),
            executable=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    state = module.params['state']
    tool = find_tool(module)
    before = read_file(module, DEVICE_CONFIG)
    changed = logging_state(before) != state
    result = dict(changed=changed, state=state)
    if not changed:
        module.exit_json(**result)
    after = switched(before, state)
    if not module.check_mode:
        argv = [tool, OPTIONS[state]]
        refused = run_change(module, 'switching logging %s' % state, argv)
        after = read_file(module, DEVICE_CONFIG)
        result['changed'] = after != before
        if refused:
            fail_refused(module, refused, **result)
        if logging_state(after) != state:
            module.fail_json(msg='switching logging %s failed: after %s the device configuration '
                             'file %s is not switched %s' % (state, ' '.join(argv), DEVICE_CONFIG,
                                                             state), **result)
    if module._diff:
        result['diff'] = file_diff(DEVICE_CONFIG, before or '', after or '')
    module.exit_json(**result)


if __name__ == '__main__':
    main()

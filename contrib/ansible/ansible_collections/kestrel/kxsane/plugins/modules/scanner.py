#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: scanner
short_description: Register a network scanner with kxsaneconfig4, or remove it
version_added: "1.0.0"
description:
  - Makes sure that one network scanner is registered under a friendly name with a
    given model and network address, or that no scanner is registered under that name.
  - Reads the registered scanners with C(kxsaneconfig4 -q) and changes them only
    through C(kxsaneconfig4 -a) and C(kxsaneconfig4 -r), so that the tool's lock, its
    checks and its failure-safe rewrite of the device configuration file apply. After a
    change it reads the registry again and fails unless it shows what was asked for.
  - Any message that the tool prints for a change (for example C(Invalid name), an
    invalid address named after C(Invalid IP address), or C(Could not update) followed by
    the reason) means that the change was refused; the task fails with a message that
    names the change asked for and quotes the tool, and the registry is left as it was.
  - A scanner registered under the name with another model or address is replaced, by
    removing it and registering it again (two changes, one after the other). The
    configuration is saved under a temporary label just before; should the tool refuse
    the new registration, that saved configuration is put back, so the old one stays.
options:
  name:
    description:
      - The friendly name of the scanner (letters, digits, C(-) and C(_)).
    type: str
    required: true
  model:
    description:
      - The model name, without double quotes, as C(kxsaneconfig4 -q) lists it, exactly and in
        the same case. Required with C(state=present).
      - A model that the host's model description files do not list fails the task before
        anything changes, naming the closest listed models, unless I(allow_unknown_model)
        is set.
    type: str
  allow_unknown_model:
    description:
      - Registers a model that the model description files do not list, as
        C(kxsaneconfig4 -a) does, with the USB ID text C(Unknown); the task then warns.
    type: bool
    default: false
    version_added: "1.1.0"
  ip:
    description:
      - The IPv4 address of the scanner.
    type: str
  nodename:
    description:
      - The node name of the scanner, instead of an I(ip).
    type: str
  state:
    description:
      - C(present) registers the scanner, or replaces a registration under its name
        whose model or address differs. It needs I(model) and exactly one of I(ip) and
        I(nodename).
      - C(absent) removes every registration under the name; I(model), I(ip) and
        I(nodename) are then ignored.
    type: str
    choices: [ present, absent ]
    default: present
attributes:
  check_mode:
    support: full
    description: Reports what would change and changes nothing. It cannot know whether
      the tool would refuse the change.
  diff_mode:
    support: full
    description: Shows the scanner's entry before and after, as name, quoted model and
      C(I:) address or C(N:) node name, under headers naming the device configuration
      file.
notes:
  - Names, models and addresses hold no whitespace; a value with whitespace is refused
    before anything is run.
  - Runs as root on the managed host, like C(kxsaneconfig4) itself (use I(become)).
extends_documentation_fragment:
  - kestrel.kxsane.kxsaneconfig
seealso:
  - module: kestrel.kxsane.scanner_info
  - module: kestrel.kxsane.scanner_discovery
'''

EXAMPLES = r'''
- name: Register the office scanner by its IPv4 address
  kestrel.kxsane.scanner:
    name: office
    model: KX-100
    ip: 10.0.0.5

- name: Register the lab scanner by its node name
  kestrel.kxsane.scanner:
    name: lab
    model: KX-200
    nodename: KXN_00012

- name: Register a model that this host's model files do not list yet
  kestrel.kxsane.scanner:
    name: annex
    model: KX-900
    ip: 10.0.0.9
    allow_unknown_model: true

- name: Remove the hall scanner
  kestrel.kxsane.scanner:
    name: hall
    state: absent

- name: Use a kxsaneconfig4 outside the usual places
  kestrel.kxsane.scanner:
    name: office
    model: KX-100
    ip: 10.0.0.5
    executable: /opt/kestrel/bin/kxsaneconfig4
'''

RETURN = r'''
device:
  description:
    - The scanner as registered under the name after the task; empty when none is.
    - In check mode, the scanner as it would be registered.
  returned: always
  type: dict
  contains:
    name:
      description: The friendly name.
      type: str
      sample: office
    model:
      description: The model name, without double quotes.
      type: str
      sample: KX-100
    address_type:
      description: C(ip) or C(nodename); null for an entry without an address.
      type: str
      sample: ip
    address:
      description: The IPv4 address or the node name.
      type: str
      sample: 10.0.0.5
  sample:
    name: office
    model: KX-100
    address_type: ip
    address: 10.0.0.5
'''

import os
import re

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import (
    CONFIG_DIR,
    DEVICE_CONFIG,
    LABEL_SUFFIX,
    device_line,
    fail_refused,
    file_diff,
    find_tool,
    make_device,
    query,
    run_change,
    unknown_model_message,
)

WHITESPACE = re.compile(r'\s')


def registered(devices, name):
    """Every registration under the name, in the report's order."""
    return [d for d in devices if d['name'] == name]


def wanted_device(params):
    address_type = 'ip' if params['ip'] is not None else 'nodename'
    return make_device(params['name'], params['model'], address_type, params[address_type])


def add_argv(tool, device):
    return [tool, '-a', 'name=' + device['name'], 'model=' + device['model'],
            device['address_type'] + '=' + device['address']]


def describe(device):
    return '"%s" (model %s, %s %s)' % (device['name'], device['model'], device['address_type'],
                                       device['address'])


def replace(module, tool, device):
    """Removes the registration under the device's name and registers the
    device; when the tool refuses the new one, the configuration saved just
    before is put back. Returns the tool's Refusal, or None."""
    label = 'ansible-replace-%d' % os.getpid()
    refused = run_change(module, 'saving the configuration before replacing "%s"'
                         % device['name'], [tool, '-s:' + label])
    if refused:
        return refused
    keep_label = False
    try:
        refused = run_change(module, 'removing "%s" to register it anew' % device['name'],
                             [tool, '-r', device['name']])
        if refused:
            return refused
        refused = run_change(module, 'registering ' + describe(device), add_argv(tool, device))
        if refused:
            not_restored = run_change(module, 'putting the old configuration back',
                                      [tool, '-l:' + label])
            if not_restored:
                keep_label = True
                refused.asked += ('; %s (it stays saved under the label %s)'
                                  % (not_restored.message(), label))
        return refused
    finally:
        if not keep_label:
            try:
                os.unlink(CONFIG_DIR + label + LABEL_SUFFIX)
            except OSError:
                pass


def main():
    module = AnsibleModule(
        argument_spec=dict(
            name=dict(type='str', required=True),
            model=dict(type='str'),
            allow_unknown_model=dict(type='bool', default=False),
            ip=dict(type='str'),
            nodename=dict(type='str'),
            state=dict(type='str', default='present', choices=['present', 'absent']),
            executable=dict(type='path'),
        ),
        mutually_exclusive=[('ip', 'nodename')],
        required_if=[('state', 'present', ('ip', 'nodename'), True),
                     ('state', 'present', ('model',))],
        supports_check_mode=True,
    )
    params = module.params
    present = params['state'] == 'present'
    for key in ('name', 'model', 'ip', 'nodename'):
        if params[key] is not None and WHITESPACE.search(params[key]):
            module.fail_json(msg='%s must not hold whitespace: %r' % (key, params[key]))

    tool = find_tool(module)
    models, devices = query(module, tool)
    if present:
        unknown = unknown_model_message(params['model'], models)
        if unknown and not params['allow_unknown_model']:
            module.fail_json(msg='not registering "%s": %s; set allow_unknown_model to register '
                             'it with the USB IDs "Unknown"' % (params['name'], unknown))
        if unknown:
            module.warn('registering "%s" with the USB IDs "Unknown": %s'
                        % (params['name'], unknown))
    before = registered(devices, params['name'])
    wanted = wanted_device(params) if present else {}
    wanted_after = [wanted] if present else []
    changed = before != wanted_after
    result = dict(changed=changed, device=before[0] if before and not changed else wanted)
    if module._diff:
        result['diff'] = file_diff(DEVICE_CONFIG, ''.join(device_line(d) for d in before),
                                   device_line(wanted))
    if not changed or module.check_mode:
        module.exit_json(**result)

    if not present:
        refused = run_change(module, 'removing "%s"' % params['name'], [tool, '-r', params['name']])
    elif before:
        refused = replace(module, tool, wanted)
    else:
        refused = run_change(module, 'registering ' + describe(wanted), add_argv(tool, wanted))
    after = registered(query(module, tool)[1], params['name'])
    result.update(changed=after != before, device=after[0] if after else {})
    if refused:
        fail_refused(module, refused, **result)
    if after != wanted_after:
        asked = ('registering ' + describe(wanted)) if present else 'removing "%s"' % params['name']
        module.fail_json(msg='%s failed: %s printed nothing, yet its registry shows %r under the '
                         'name, not %r' % (asked, tool, [device_line(d).strip() for d in after],
                                           device_line(wanted).strip()), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()

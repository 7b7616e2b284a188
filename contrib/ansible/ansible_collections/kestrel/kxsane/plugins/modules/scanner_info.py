#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: scanner_info
short_description: List the supported scanner models and the registered network scanners
version_added: "1.0.0"
description:
  - Runs C(kxsaneconfig4 -q) and returns its two lists, the models that the installed
    model description files support and the registered network scanners.
  - Changes nothing.
extends_documentation_fragment:
  - kestrel.kxsane.kxsaneconfig
  - kestrel.kxsane.kxsaneconfig.read_only
seealso:
  - module: kestrel.kxsane.scanner
'''

EXAMPLES = r'''
- name: Read the registered scanners
  kestrel.kxsane.scanner_info:
  register: scanners

- name: Show the names of the registered scanners
  ansible.builtin.debug:
    msg: "{{ scanners.devices | map(attribute='name') | list }}"

- name: Fail where the KX-100 model is not supported
  ansible.builtin.assert:
    that: "'KX-100' in scanners.models"
'''

RETURN = r'''
models:
  description: The supported model names, without double quotes, in the order of the
    report.
  returned: always
  type: list
  elements: str
  sample: [KX-100, KX-200]
devices:
  description:
    - The registered network scanners, in the order of the report (the last registered
      first).
    - Each is a dict like the I(device) that M(kestrel.kxsane.scanner) returns, with the
      keys C(name), C(model) (without double quotes), C(address_type) (C(ip), C(nodename),
      or null for an entry without an address) and C(address).
  returned: always
  type: list
  elements: dict
  sample:
    - {name: office, model: KX-100, address_type: ip, address: 10.0.0.5}
    - {name: lab, model: KX-200, address_type: nodename, address: KXN_00012}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import find_tool, query


def main():
    module = AnsibleModule(
        argument_spec=dict(executable=dict(type='path')),
        supports_check_mode=True,
    )
    models, devices = query(module, find_tool(module))
    module.exit_json(changed=False, models=models, devices=devices)


if __name__ == '__main__':
    main()

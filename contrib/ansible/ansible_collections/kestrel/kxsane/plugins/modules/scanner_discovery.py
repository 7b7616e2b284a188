#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: scanner_discovery
short_description: Find the network scanners that announce themselves, with kxsanefind4
version_added: "1.1.0"
description:
  - Runs C(kxsanefind4 --json --timeout TIMEOUT) on the managed host (with
    C(--subnet NETWORK) for each of I(subnets)) and returns the scanners it found on the
    host's network, each matched to a supported model where
    one fits and marked as already registered or not, together with the registered
    scanners that were not seen.
  - Changes nothing. Feed what it returns to M(kestrel.kxsane.scanner) to register the
    new scanners.
  - C(kxsanefind4) browses DNS-SD through the host's Avahi daemon; without a running
    C(avahi-daemon) the task fails with its message.
options:
  timeout:
    description:
      - How many seconds C(kxsanefind4) waits at most for the network's answers; it
        finishes earlier once every answer is in.
    type: int
    default: 3
  subnets:
    description:
      - Networks past the router, as C(A.B.C.D/N), whose every address is also asked
        over WS-Discovery and SNMP (C(kxsanefind4 --subnet)); at most 4096 addresses in
        all. A /24 takes about 1.5 seconds; larger ones want a longer I(timeout).
    type: list
    elements: str
    default: []
    version_added: "1.3.0"
  executable:
    description:
      - The path of C(kxsanefind4).
      - By default it is looked up on C(PATH), then in C(/sbin), C(/usr/sbin) and
        C(/usr/local/sbin).
    type: path
author:
  - kxsaneconfig4 maintainers (@kestrel)
extends_documentation_fragment:
  - kestrel.kxsane.kxsaneconfig.read_only
seealso:
  - module: kestrel.kxsane.scanner
  - module: kestrel.kxsane.scanner_info
'''

EXAMPLES = r'''
- name: Find the scanners on the network
  kestrel.kxsane.scanner_discovery:
    timeout: 5
  register: found

- name: Find the scanners on the network and on two subnets past the router
  kestrel.kxsane.scanner_discovery:
    subnets: [10.20.1.0/24, 10.20.2.0/24]
  register: found

- name: Register each new scanner whose model is supported, under its suggested name
  kestrel.kxsane.scanner:
    name: "{{ item.name }}"
    model: "{{ item.model }}"
    ip: "{{ item.address }}"
  loop: "{{ found.scanners | rejectattr('registered') | selectattr('model') | list }}"
  loop_control:
    label: "{{ item.name }} {{ item.address }}"

- name: Name the registered scanners that did not answer
  ansible.builtin.debug:
    msg: "{{ found.scanners | selectattr('registered') | rejectattr('services') | map(attribute='name') | list }}"
'''

RETURN = r'''
scanners:
  description:
    - One dict per scanner, as C(kxsanefind4 --json) lists them; registered scanners that
      were not seen are in the list too, with empty I(services).
  returned: success
  type: list
  elements: dict
  contains:
    name:
      description: The registered name, or for a new scanner a suggested one.
      type: str
      sample: office
    model:
      description: The supported model the announcement matched, without double quotes;
        null when none did.
      type: str
      sample: KX-100
    announced:
      description: The make and model the scanner announced.
      type: str
      sample: Kestrel KX-100 Office
    address:
      description: The IPv4 address.
      type: str
      sample: 10.0.0.5
    host:
      description: The host name the scanner announced.
      type: str
      sample: kx100-office.local
    services:
      description: What it was seen with, in the order DNS-SD, WS-Discovery, SNMP - the
        DNS-SD service types, C(wsd) and C(snmp).
      type: list
      elements: str
      sample: [_uscan._tcp, _scanner._tcp, snmp]
    registered:
      description: Whether the scanner is registered already.
      type: bool
      sample: false
'''

import json

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import (
    command_text,
    find_tool,
)

FINDER = 'kxsanefind4'
MAX_TIMEOUT = 60
KEYS = ('name', 'model', 'announced', 'address', 'host', 'services', 'registered')


def parse_scanners(text):
    """The list from "kxsanefind4 --json"; ValueError when the text is not a
    JSON array of objects with the expected keys."""
    scanners = json.loads(text)
    if not isinstance(scanners, list):
        raise ValueError('not a JSON array')
    for scanner in scanners:
        if not isinstance(scanner, dict):
            raise ValueError('an element is not an object: %r' % (scanner,))
        missing = [k for k in KEYS if k not in scanner]
        if missing:
            raise ValueError('an element lacks %s: %r' % (', '.join(missing), scanner))
    return scanners


def main():
    module = AnsibleModule(
        argument_spec=dict(
            timeout=dict(type='int', default=3),
            subnets=dict(type='list', elements='str', default=[]),
            executable=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    timeout = module.params['timeout']
    if not 1 <= timeout <= MAX_TIMEOUT:
        module.fail_json(msg='timeout must be from 1 to %d seconds, not %d'
                         % (MAX_TIMEOUT, timeout))
    argv = [find_tool(module, FINDER), '--json', '--timeout', str(timeout)]
    for subnet in module.params['subnets']:
        argv += ['--subnet', subnet]
    rc, out, err = module.run_command(argv)
    details = dict(cmd=argv, rc=rc, stdout=out, stderr=err)
    if rc != 0:
        module.fail_json(msg='finding the scanners on the network failed: %s said: status %d: %s'
                         % (command_text(argv), rc, (err or out).strip()), **details)
    try:
        scanners = parse_scanners(out)
    except ValueError as e:
        module.fail_json(msg='cannot read the list that %s printed: %s' % (command_text(argv), e),
                         **details)
    module.exit_json(changed=False, scanners=scanners)


if __name__ == '__main__':
    main()

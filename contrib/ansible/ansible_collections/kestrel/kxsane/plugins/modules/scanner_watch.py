#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: scanner_watch
short_description: Configure and run the scanner watcher, kxsanefind4.service
version_added: "1.2.0"
description:
  - Sets the options of the scanner watcher (C(kxsanefind4 --watch)) in
    C(/etc/default/kxsanefind4) and starts, stops, enables or disables its service,
    C(kxsanefind4.service), which the package installs but does not enable.
  - Of C(/etc/default/kxsanefind4) it manages only the C(KXSANEFIND4_OPTIONS) line. It
    puts that line where the file has one (removing any further one), else after the
    commented-out example the package ships, else at the end; every other line, the
    comments among them, stays. The file is replaced in one rename, keeping its owner and
    mode, and is only written when it changes.
  - The service is handled as M(ansible.builtin.systemd_service) handles one, with
    C(systemctl show), C(enable), C(disable), C(start) and C(stop); enabling comes first.
    When the options change and the service runs (and I(state) is not C(stopped)), it is
    restarted, so that it runs with them.
  - The watcher registers new scanners only with I(add), and never removes a
    registration; without options it only reports what it sees, in the journal.
options:
  state:
    description:
      - C(started) starts the service unless it runs; C(stopped) stops it if it runs.
      - Left out, the service is neither started nor stopped (but restarted when it runs
        and its options change).
    type: str
    choices: [started, stopped]
  enabled:
    description:
      - Whether the service starts at boot. Left out, that stays as it is.
    type: bool
  add:
    description:
      - Register each new scanner of a known model as soon as it is seen (C(--add)).
    type: bool
  follow:
    description:
      - Change a registered scanner's address when it turns up at a new one (C(--follow)).
    type: bool
  allow:
    description:
      - The IPv4 networks, such as C(192.168.1.0/24), at whose addresses the watcher
        registers or follows scanners (one C(--allow) each). A network must be written
        without host bits (C(192.168.1.0/24), not C(192.168.1.5/24)).
      - Left out, the networks of the host's own IPv4 interfaces.
    type: list
    elements: str
  max_new:
    description:
      - At most this many new registrations an hour (C(--max-new)); the watcher's default
        is 16.
    type: int
  gone_after:
    description:
      - The minutes after which a scanner not seen is reported as gone (C(--gone-after));
        the watcher's default is 60. Its registration always stays.
    type: int
attributes:
  check_mode:
    support: full
    description: Reports what would change, and changes nothing.
  diff_mode:
    support: full
    description: Shows C(/etc/default/kxsanefind4) before and after, and the service's
      enabled and started state before and after, each under a header naming it.
notes:
  - I(add), I(follow), I(allow), I(max_new) and I(gone_after) together are the watcher's
    whole command line. When the task gives none of them, the options line is left as
    it is; when it gives any, the line holds those given and nothing else (leaving out
    I(add) then means no C(--add)).
  - Needs systemd on the managed host, and the package that installs the service. Runs
    as root (use I(become)).
author:
  - kxsaneconfig4 maintainers (@kestrel)
seealso:
  - module: kestrel.kxsane.scanner_discovery
  - module: ansible.builtin.systemd_service
'''

EXAMPLES = r'''
- name: Register new scanners on the office network as they appear, and follow moves
  kestrel.kxsane.scanner_watch:
    add: true
    follow: true
    allow: [192.168.1.0/24]
    max_new: 4
    state: started
    enabled: true

- name: Only report what it sees, a scanner as gone after two hours without a word
  kestrel.kxsane.scanner_watch:
    gone_after: 120
    state: started
    enabled: true

- name: Stop the watcher and keep it from starting at boot, options left as they are
  kestrel.kxsane.scanner_watch:
    state: stopped
    enabled: false
'''

RETURN = r'''
options:
  description: The value of C(KXSANEFIND4_OPTIONS) in C(/etc/default/kxsanefind4) after
    the task (in check mode, as it would be); empty when the file sets none.
  returned: always
  type: str
  sample: --add --allow 192.168.1.0/24
state:
  description: C(started) or C(stopped), as the service is after the task (in check mode,
    as it would be).
  returned: always
  type: str
  sample: started
enabled:
  description: Whether the service starts at boot after the task (in check mode, as it
    would).
  returned: always
  type: bool
  sample: true
actions:
  description: The C(systemctl) commands run, in order (in check mode, those that would
    be); a C(restart) applies changed options.
  returned: always
  type: list
  elements: str
  sample: [enable, start]
'''

import ipaddress
import os
import re
import shlex
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import (
    Refusal,
    fail_refused,
    file_diff,
    find_tool,
    read_file,
)

UNIT = 'kxsanefind4.service'
DEFAULTS_FILE = '/etc/default/kxsanefind4'
VARIABLE = 'KXSANEFIND4_OPTIONS'
OPTION_PARAMS = ('add', 'follow', 'allow', 'max_new', 'gone_after')

_ASSIGNMENT = re.compile(r'^\s*(export\s+)?%s=' % VARIABLE)
_EXAMPLE = re.compile(r'^\s*#\s*%s=' % VARIABLE)
# What "systemctl show" says of a unit that runs, or is about to.
ACTIVE_STATES = ('active', 'activating', 'reloading')
ENABLED_STATES = ('enabled', 'enabled-runtime')
# What each systemctl command leaves the service as: running, enabled.
ACTIVE_AFTER = {'start': True, 'stop': False, 'restart': True}
ENABLED_AFTER = {'enable': True, 'disable': False}


def watcher_options(params):
    """The watcher's options for the module's parameters, as one string in a
    fixed order: None when no option parameter is given. Raises ValueError,
    naming the parameter, for a network or a number the watcher would refuse.
    Every value is checked here, so none holds a quote or a blank."""
    if all(params[p] is None for p in OPTION_PARAMS):
        return None
    words = ['--' + flag for flag in ('add', 'follow') if params[flag]]
    for cidr in params['allow'] or []:
        try:
            network = ipaddress.IPv4Network(cidr)
        except ValueError as e:
            raise ValueError('allow: %r is not an IPv4 network: %s' % (cidr, e))
        words += ['--allow', str(network)]
    for name in ('max_new', 'gone_after'):
        value = params[name]
        if value is None:
            continue
        if value < 1:
            raise ValueError('%s must be a positive number, not %d' % (name, value))
        words += ['--' + name.replace('_', '-'), str(value)]
    return ' '.join(words)


def options_in(text):
    """The value the options file gives the variable (its last assignment,
    as the shell and systemd read it); '' when it gives none."""
    value = ''
    for line in (text or '').splitlines():
        if _ASSIGNMENT.match(line):
            raw = line.split('=', 1)[1]
            try:
                value = ' '.join(shlex.split(raw, comments=True))
            except ValueError:
                value = raw.strip()
    return value


def with_options(text, options):
    """The options file with one assignment of the variable, to `options`:
    in place of the first one (further ones dropped), else after the last
    commented-out example, else at the end. Every other line is kept."""
    line = '%s="%s"\n' % (VARIABLE, options)
    lines = []
    placed = False
    for old in (text or '').splitlines(True):
        if _ASSIGNMENT.match(old):
            if not placed:
                lines.append(line)
                placed = True
            continue
        lines.append(old)
    if not placed:
        examples = [i for i, old in enumerate(lines) if _EXAMPLE.match(old)]
        at = examples[-1] + 1 if examples else len(lines)
        if at and not lines[at - 1].endswith('\n'):
            lines[at - 1] += '\n'
        lines.insert(at, line)
    return ''.join(lines)


def plan(active, enabled, state, want_enabled, options_changed):
    """The systemctl commands that take the service from (active, enabled)
    to what is asked, in order: enabling first, then starting or stopping,
    or a restart that applies changed options to a service that runs."""
    actions = []
    if want_enabled is not None and want_enabled != enabled:
        actions.append('enable' if want_enabled else 'disable')
    if state == 'started' and not active:
        actions.append('start')
    elif state == 'stopped' and active:
        actions.append('stop')
    elif active and options_changed and state != 'stopped':
        actions.append('restart')
    return actions


def unit_state(module, systemctl):
    """(active, enabled) of the service; fails the module when systemctl
    cannot tell, or the service is not installed."""
    argv = [systemctl, 'show', UNIT, '--property=LoadState,ActiveState,UnitFileState']
    rc, out, err = module.run_command(argv)
    if rc != 0:
        fail_refused(module, Refusal('reading the state of %s' % UNIT, argv, rc, out, err))
    props = dict(line.split('=', 1) for line in out.splitlines() if '=' in line)
    if props.get('LoadState') == 'not-found':
        module.fail_json(msg='%s is not installed on this host: install the kxsaneconfig4 '
                         'package' % UNIT)
    return props.get('ActiveState') in ACTIVE_STATES, props.get('UnitFileState') in ENABLED_STATES


def write_atomically(module, path, text):
    """Replaces `path` with `text` in one rename, from a file written beside
    it; the new file keeps the old one's owner and mode."""
    directory, name = os.path.split(path)
    try:
        fd, staging = tempfile.mkstemp(prefix='.%s.' % name, dir=directory)
    except OSError as e:
        module.fail_json(msg='cannot write %s: %s' % (path, e.strerror))
    try:
        with os.fdopen(fd, 'wb') as f:
            f.write(text.encode('utf-8', 'surrogateescape'))
            f.flush()
            os.fsync(f.fileno())
        module.atomic_move(staging, path)
    except OSError as e:
        module.fail_json(msg='cannot write %s: %s' % (path, e.strerror))
    finally:
        if os.path.lexists(staging):
            os.unlink(staging)


def service_text(active, enabled):
    return 'enabled: %s\nstate: %s\n' % (str(enabled).lower(), 'started' if active else 'stopped')


def manage(module, systemctl, path):
    """Brings the options file at `path` and the service to what the
    parameters ask; returns the module's result."""
    params = module.params
    try:
        options = watcher_options(params)
    except ValueError as e:
        module.fail_json(msg=str(e))
    active, enabled = unit_state(module, systemctl)
    before = read_file(module, path)
    after = before if options is None else with_options(before, options)
    options_changed = after != before
    actions = plan(active, enabled, params['state'], params['enabled'], options_changed)
    after_active, after_enabled = active, enabled
    for action in actions:
        after_active = ACTIVE_AFTER.get(action, after_active)
        after_enabled = ENABLED_AFTER.get(action, after_enabled)
    result = dict(changed=options_changed or bool(actions), options=options_in(after),
                  state='started' if after_active else 'stopped', enabled=after_enabled,
                  actions=actions)
    if module._diff:
        result['diff'] = []
        if options_changed:
            result['diff'].append(file_diff(path, before or '', after))
        if (active, enabled) != (after_active, after_enabled):
            result['diff'].append(dict(before_header=UNIT, after_header=UNIT,
                                       before=service_text(active, enabled),
                                       after=service_text(after_active, after_enabled)))
    if module.check_mode:
        return result
    if options_changed:
        write_atomically(module, path, after)
    for action in actions:
        argv = [systemctl, action, UNIT]
        rc, out, err = module.run_command(argv)
        if rc != 0:
            fail_refused(module, Refusal('%s %s' % (action, UNIT), argv, rc, out, err), **result)
    return result


def main():
    module = AnsibleModule(
        argument_spec=dict(
            state=dict(type='str', choices=['started', 'stopped']),
            enabled=dict(type='bool'),
            add=dict(type='bool'),
            follow=dict(type='bool'),
            allow=dict(type='list', elements='str'),
            max_new=dict(type='int'),
            gone_after=dict(type='int'),
        ),
        supports_check_mode=True,
    )
    module.exit_json(**manage(module, find_tool(module, 'systemctl'), DEFAULTS_FILE))


if __name__ == '__main__':
    main()

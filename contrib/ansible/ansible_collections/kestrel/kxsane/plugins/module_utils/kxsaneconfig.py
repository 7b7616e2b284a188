# -*- coding: utf-8 -*-
# What the kestrel.kxsane modules share: finding kxsaneconfig4, reading the
# registry from its "-q" report, and running one change through it.
#
# The tool always exits with status 0 and prints nothing when a change
# succeeds; every refusal is one line on standard output. So any output of a
# change is taken as the reason it was refused.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import re

TOOL = 'kxsaneconfig4'

# Where the tool keeps its saved configurations; its paths are fixed.
CONFIG_DIR = '/etc/opt/kestrel/scanner/kxscan4/'
LABEL_SUFFIX = '.kxsaneconfig4'

DEVICES_HEADING = '\nDevices on network\n'
ADDRESS_TYPES = {'I:': 'ip', 'N:': 'nodename'}
ADDRESS_PREFIXES = dict((v, k) for k, v in ADDRESS_TYPES.items())
_NUMBERED = re.compile(r'^ *\d+ (.*)$')


class QueryFormatError(ValueError):
    """The "-q" report did not have the expected shape."""


def find_tool(module):
    """The executable option, else kxsaneconfig4 on PATH, then in the sbin
    directories. Fails the module when there is none."""
    return module.params['executable'] or module.get_bin_path(TOOL, required=True)


def bare_model(quoted):
    """The model name as given to "-a": the report shows it in double quotes."""
    if len(quoted) >= 2 and quoted[0] == '"' and quoted[-1] == '"':
        return quoted[1:-1]
    return quoted


def make_device(name, model, address_type, address):
    return dict(name=name, model=model, address_type=address_type, address=address)


def _parse_device(rest):
    fields = rest.split()
    address_type = address = None
    if fields and fields[-1][:2] in ADDRESS_TYPES:
        address_type = ADDRESS_TYPES[fields[-1][:2]]
        address = fields.pop()[2:]
    if len(fields) == 2:
        name, model = fields
    elif len(fields) == 1:
        # An empty name or model leaves only padding in its column.
        name, model = ('', fields[0]) if fields[0].startswith('"') else (fields[0], '')
    elif not fields:
        name = model = ''
    else:
        raise QueryFormatError('unexpected device line: %r' % rest)
    return make_device(name, bare_model(model), address_type, address)


def parse_query(text):
    """(models, devices) from the text of "-q": the model names and one dict
    per registered device, both in the report's order, models without their
    quotes."""
    model_text, heading, device_text = text.partition(DEVICES_HEADING)
    if not heading:
        raise QueryFormatError('no "Devices on network" heading')
    models = []
    devices = []
    sections = ((model_text, bare_model, models), (device_text, _parse_device, devices))
    for lines, parse, into in sections:
        for line in lines.splitlines():
            numbered = _NUMBERED.match(line)
            if not numbered:
                raise QueryFormatError('unexpected line: %r' % line)
            into.append(parse(numbered.group(1)))
    return models, devices


def device_line(device):
    """One device as a line for diffs: name, quoted model and address in the
    report's notation."""
    if not device:
        return ''
    address = ''
    if device['address_type']:
        address = ' ' + ADDRESS_PREFIXES[device['address_type']] + device['address']
    return '%s "%s"%s\n' % (device['name'], device['model'], address)


def query(module, tool):
    """(models, devices) as the tool reports them now; fails the module when
    the tool cannot be run or its report cannot be read."""
    rc, out, err = module.run_command([tool, '-q'])
    if rc != 0:
        module.fail_json(msg='%s -q failed with status %d: %s' % (tool, rc, err.strip()))
    try:
        return parse_query(out)
    except QueryFormatError as e:
        module.fail_json(msg='cannot read the report of %s -q: %s' % (tool, e), stdout=out)


def run_change(module, argv):
    """Runs one change; returns None when it was made, else the tool's
    message (or why it could not run)."""
    rc, out, err = module.run_command(argv)
    if rc != 0:
        return '%s exited with status %d: %s' % (argv[0], rc, (out + err).strip())
    return out.strip() or None

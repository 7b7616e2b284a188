# -*- coding: utf-8 -*-
# What the kestrel.kxsane modules share: finding the programs, reading the
# registry from the "-q" report, checking a model against it, reading the
# tool's files, and running one change through the tool.
#
# kxsaneconfig4 always exits with status 0 and prints nothing when a change
# succeeds; every refusal is one line on standard output. So any output of a
# change is taken as the reason it was refused.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import difflib
import errno
import os
import re
import stat

TOOL = 'kxsaneconfig4'

# Searched after PATH, where the package and a local install put the tools.
SBIN_DIRS = ('/sbin', '/usr/sbin', '/usr/local/sbin')

# The tool's paths are fixed.
CONFIG_DIR = '/etc/opt/kestrel/scanner/kxscan4/'
DEVICE_CONFIG = CONFIG_DIR + 'kxsanenetdevice4.cfg'
LABEL_SUFFIX = '.kxsaneconfig4'
# What "-LI" puts at the top of the device configuration file.
LOGGING_LINE = 'log=/tmp/kx_sane.log , 1 , w\n'

DEVICES_HEADING = '\nDevices on network\n'
ADDRESS_TYPES = {'I:': 'ip', 'N:': 'nodename'}
ADDRESS_PREFIXES = dict((v, k) for k, v in ADDRESS_TYPES.items())
_NUMBERED = re.compile(r'^ *\d+ (.*)$')

# How alike a listed model must be to be named as a likely meant one, and how
# many are named at most.
CLOSE_ENOUGH = 0.6
MAX_CLOSEST = 3

# A device configuration file or a label file larger than this is not read
# into a diff or a comparison.
MAX_FILE_SIZE = 16 * 1024 * 1024


class QueryFormatError(ValueError):
    """The "-q" report did not have the expected shape."""


def search_path(name, path_env):
    """Where `name` is looked for, in order: each directory of `path_env`,
    then the sbin directories not already among them."""
    dirs = [d for d in path_env.split(os.pathsep) if d]
    dirs += [d for d in SBIN_DIRS if d not in dirs]
    return [os.path.join(d, name) for d in dirs]


def _is_program(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def find_tool(module, name=TOOL):
    """The executable option (of a module that has one), else `name` on PATH,
    then in the sbin directories. Fails the module, naming what was tried,
    when there is none."""
    given = module.params.get('executable')
    if given:
        if _is_program(given):
            return given
        why = 'does not exist' if not os.path.lexists(given) else 'is not an executable file'
        module.fail_json(msg='cannot run %s: the executable %s %s' % (name, given, why))
    tried = search_path(name, os.environ.get('PATH', ''))
    for path in tried:
        if _is_program(path):
            return path
    module.fail_json(msg='cannot find %s: tried %s; install it, or name it with the '
                     'executable option' % (name, ', '.join(tried)), tried=tried)


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


def unknown_model_message(model, models):
    """None when the model files list `model` exactly (case and all);
    otherwise why it is refused, naming the closest listed models."""
    if model in models:
        return None
    seen = set()
    listed = [m for m in models if m and not (m in seen or seen.add(m))]
    if not listed:
        return 'model "%s" is not listed: the model description files on this host list no model' \
            % model
    # Closeness disregards case, so that "kx-100" points to "KX-100"; equally
    # close models keep the order of the model files.
    matcher = difflib.SequenceMatcher()
    matcher.set_seq2(model.casefold())
    scored = []
    for index, m in enumerate(listed):
        matcher.set_seq1(m.casefold())
        score = matcher.ratio()
        if score >= CLOSE_ENOUGH:
            scored.append((-score, index, m))
    closest = [m for _, _, m in sorted(scored)[:MAX_CLOSEST]]
    if closest:
        hint = 'the closest listed: ' + ', '.join(closest)
    else:
        hint = 'none of the %d listed models is close' % len(listed)
    return 'model "%s" is not listed in the model description files on this host (%s)' \
        % (model, hint)


def device_line(device):
    """One device as a line for diffs: name, quoted model and address in the
    report's notation."""
    if not device:
        return ''
    address = ''
    if device['address_type']:
        address = ' ' + ADDRESS_PREFIXES[device['address_type']] + device['address']
    return '%s "%s"%s\n' % (device['name'], device['model'], address)


def command_text(argv):
    return ' '.join(argv)


def query(module, tool):
    """(models, devices) as the tool reports them now; fails the module when
    the tool cannot be run or its report cannot be read."""
    argv = [tool, '-q']
    rc, out, err = module.run_command(argv)
    if rc != 0:
        module.fail_json(msg='listing the models and scanners with %s failed: status %d: %s'
                         % (command_text(argv), rc, (err or out).strip()),
                         cmd=argv, rc=rc, stdout=out, stderr=err)
    try:
        return parse_query(out)
    except QueryFormatError as e:
        module.fail_json(msg='cannot read the report of %s: %s' % (command_text(argv), e),
                         cmd=argv, rc=rc, stdout=out, stderr=err)


class Refusal(object):
    """A change the tool did not make: what was asked, the command, and what
    the tool said."""

    def __init__(self, asked, argv, rc, out, err):
        self.asked = asked
        self.argv = argv
        self.rc = rc
        self.out = out
        self.err = err

    def said(self):
        said = (self.out + self.err).strip()
        if self.rc != 0:
            return 'status %d: %s' % (self.rc, said)
        return said

    def message(self):
        return '%s failed: %s said: %s' % (self.asked, command_text(self.argv), self.said())

    def details(self):
        """What Ansible's own command modules return about a command."""
        return dict(cmd=self.argv, rc=self.rc, stdout=self.out, stderr=self.err)


def run_change(module, asked, argv):
    """Runs one change, `asked` saying what it is for; returns None when it
    was made, else a Refusal."""
    rc, out, err = module.run_command(argv)
    if rc != 0 or out.strip():
        return Refusal(asked, argv, rc, out, err)
    return None


def fail_refused(module, refusal, **result):
    result.update(refusal.details())
    module.fail_json(msg=refusal.message(), **result)


def read_file(module, path):
    """The text of a regular file, or None when there is none. Fails the
    module when `path` is something else (a FIFO, a device, a directory),
    too large, or a symbolic link owned by someone but root or the module's
    user, as the tool would: the modules run as root, never block on such a
    file, and never show a file that someone else pointed them to."""
    try:
        link = os.lstat(path)
        if stat.S_ISLNK(link.st_mode) and link.st_uid not in (0, os.geteuid()):
            module.fail_json(msg='cannot read %s: a symbolic link owned by user %d, not followed'
                             % (path, link.st_uid))
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, 'O_CLOEXEC', 0))
    except OSError as e:
        if e.errno == errno.ENOENT:
            return None
        module.fail_json(msg='cannot read %s: %s' % (path, e.strerror))
    try:
        info = os.fstat(fd)
        if not stat.S_ISREG(info.st_mode):
            module.fail_json(msg='cannot read %s: it is not a regular file' % path)
        if info.st_size > MAX_FILE_SIZE:
            module.fail_json(msg='cannot read %s: larger than %d bytes' % (path, MAX_FILE_SIZE))
        with os.fdopen(os.dup(fd), 'rb') as f:
            return f.read(MAX_FILE_SIZE + 1).decode('utf-8', 'surrogateescape')
    finally:
        os.close(fd)


def uniq(lines):
    """The lines with each run of equal adjacent lines merged into one, as
    the tool's rewrite merges them; every line ends with a line break."""
    merged = []
    for line in lines:
        if not line.endswith('\n'):
            line += '\n'
        if not merged or merged[-1] != line:
            merged.append(line)
    return merged


def file_diff(path, before, after):
    return dict(before_header=path, after_header=path, before=before, after=after)

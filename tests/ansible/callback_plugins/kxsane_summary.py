# A stdout callback for the tests: one block per task of a kestrel.kxsane
# module, "TASK: STATUS", then what the task returned that the tests look at,
# one indented line each. Tasks of other modules are left out.
#
# With KXSANE_SNAPSHOT_DIR set, the configuration directory is copied after
# each such task to KXSANE_SNAPSHOT_DIR/N (N counting those tasks from 0), so
# the tests see what every task left without a copying task of their own.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = '''
name: kxsane_summary
type: stdout
short_description: what the kestrel.kxsane tasks of a play came to, for the tests
description: One block per task of a kestrel.kxsane module; other tasks are left out.
'''

import os
import shutil

from ansible.plugins.callback import CallbackBase

CONFIG_DIR = '/etc/opt/kestrel/scanner/kxscan4'


def device(d):
    if not d:
        return 'none'
    address = {'ip': ' I:', 'nodename': ' N:'}.get(d['address_type'], '') + (d['address'] or '')
    return '%s "%s"%s' % (d['name'], d['model'], address)


def scanner(s):
    return '%s %s %s%s' % (s['name'], s['address'], s['model'],
                           ' registered' if s['registered'] else '')


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'kxsane_summary'

    def __init__(self):
        super(CallbackModule, self).__init__()
        self._tasks = 0

    def _snapshot(self):
        snapshots = os.environ.get('KXSANE_SNAPSHOT_DIR')
        if snapshots:
            shutil.copytree(CONFIG_DIR, os.path.join(snapshots, str(self._tasks)), symlinks=True)
        self._tasks += 1

    def _summarise(self, result, status):
        if not result._task.action.startswith('kestrel.kxsane.'):
            return
        self._snapshot()
        r = result._result
        lines = ['%s: %s' % (result._task.get_name(), status)]
        if status == 'failed':
            lines.append('  msg: ' + r['msg'])
        for warning in r.get('warnings', []):
            lines.append('  warning: ' + warning)
        if 'device' in r:
            lines.append('  device: ' + device(r['device']))
        if 'diff' in r:
            d = r['diff']
            lines.append('  diff: %s%r -> %r' % (d['before_header'] + ': ' if 'before_header' in d
                                                 else '', d['before'], d['after']))
        if 'models' in r:
            lines.append('  models: ' + ', '.join(r['models']))
        if 'devices' in r:
            lines.append('  devices: ' + '; '.join(device(d) for d in r['devices']))
        if 'scanners' in r:
            lines.append('  scanners: ' + '; '.join(scanner(s) for s in r['scanners']))
        self._display.display('\n'.join(lines))

    def v2_runner_on_ok(self, result):
        self._summarise(result, 'changed' if result._result.get('changed') else 'ok')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._summarise(result, 'failed')

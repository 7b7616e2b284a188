# A stdout callback for the tests: one block per task of a kestrel.kxsane
# module, "TASK: STATUS", then what the task returned that the tests look at,
# one indented line each. Tasks of other modules are left out.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = '''
name: kxsane_summary
type: stdout
short_description: what the kestrel.kxsane tasks of a play came to, for the tests
description: One block per task of a kestrel.kxsane module; other tasks are left out.
'''

from ansible.plugins.callback import CallbackBase


def device(d):
    if not d:
        return 'none'
    address = {'ip': ' I:', 'nodename': ' N:'}.get(d['address_type'], '') + (d['address'] or '')
    return '%s "%s"%s' % (d['name'], d['model'], address)


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'kxsane_summary'

    def _summarise(self, result, status):
        if not result._task.action.startswith('kestrel.kxsane.'):
            return
        r = result._result
        lines = ['%s: %s' % (result._task.get_name(), status)]
        if status == 'failed':
            lines.append('  msg: ' + r['msg'])
        if 'device' in r:
            lines.append('  device: ' + device(r['device']))
        if 'diff' in r:
            lines.append('  diff: %r -> %r' % (r['diff']['before'], r['diff']['after']))
        if 'models' in r:
            lines.append('  models: ' + ', '.join(r['models']))
        if 'devices' in r:
            lines.append('  devices: ' + '; '.join(device(d) for d in r['devices']))
        self._display.display('\n'.join(lines))

    def v2_runner_on_ok(self, result):
        self._summarise(result, 'changed' if result._result.get('changed') else 'ok')

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._summarise(result, 'failed')

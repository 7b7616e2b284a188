"""Reads the output of ansible-playbook's json callback on stdin and prints
one block per task of a kestrel.kxsane module: "TASK: STATUS", then what the
task returned that the tests look at, one indented line each. Tasks of other
modules are left out."""

import json
import sys


def device(d):
    if not d:
        return 'none'
    address = {'ip': ' I:', 'nodename': ' N:'}.get(d['address_type'], '') + (d['address'] or '')
    return '%s "%s"%s' % (d['name'], d['model'], address)


def status(r):
    if r.get('failed'):
        return 'failed'
    return 'changed' if r.get('changed') else 'ok'


for play in json.load(sys.stdin)['plays']:
    for task in play['tasks']:
        for result in task['hosts'].values():
            if not result.get('action', '').startswith('kestrel.kxsane.'):
                continue
            print('%s: %s' % (task['task']['name'], status(result)))
            if result.get('failed'):
                print('  msg: ' + result['msg'])
            if 'device' in result:
                print('  device: ' + device(result['device']))
            if 'diff' in result:
                print('  diff: %r -> %r' % (result['diff']['before'], result['diff']['after']))
            if 'models' in result:
                print('  models: ' + ', '.join(result['models']))
            if 'devices' in result:
                print('  devices: ' + '; '.join(device(d) for d in result['devices']))

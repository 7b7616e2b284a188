"""How scanner_watch writes the watcher's options line and drives its
service: through a stub systemctl that keeps the service's state, and an
options file in a temporary directory."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import shutil
import tempfile
import unittest

from ansible_collections.kestrel.kxsane.plugins.modules.scanner_watch import (
    manage,
    plan,
    watcher_options,
    with_options,
)

PACKAGED = '# Options of the watcher.\n#KXSANEFIND4_OPTIONS="--add"\n# (end)\n'
OPTIONS = ('state', 'enabled', 'add', 'follow', 'allow', 'max_new', 'gone_after')


class Failed(Exception):
    pass


class StubModule(object):
    def __init__(self, unit, check_mode, **params):
        self.params = dict(dict.fromkeys(OPTIONS), **params)
        self.check_mode = check_mode
        self._diff = True
        self.unit = dict(unit)
        self.run = []

    def run_command(self, argv):
        verb = argv[1]
        if verb == 'show':
            return 0, 'LoadState=loaded\nActiveState=%s\nUnitFileState=%s\n' % (
                'active' if self.unit['active'] else 'inactive',
                'enabled' if self.unit['enabled'] else 'disabled'), ''
        self.run.append(verb)
        key, value = {'start': ('active', True), 'restart': ('active', True),
                      'stop': ('active', False), 'enable': ('enabled', True),
                      'disable': ('enabled', False)}[verb]
        self.unit[key] = value
        return 0, '', ''

    def atomic_move(self, src, dest):
        os.rename(src, dest)

    def fail_json(self, msg, **result):
        raise Failed(msg)


class Options(unittest.TestCase):
    def test_options_line(self):
        none = dict.fromkeys(OPTIONS)
        rows = [
            ({}, None),
            ({'add': False}, ''),
            ({'add': True, 'follow': True, 'max_new': 4, 'gone_after': 120},
             '--add --follow --max-new 4 --gone-after 120'),
            ({'allow': ['10.0.0.0/255.255.255.0', '192.168.1.7']},
             '--allow 10.0.0.0/24 --allow 192.168.1.7/32'),
            ({'allow': ['10.0.0.5/24']}, "allow: '10.0.0.5/24' is not an IPv4 network"),
            ({'allow': ['10.0.0.0/24 --x']}, 'is not an IPv4 network'),
            ({'allow': ['fe80::/64']}, 'is not an IPv4 network'),
            ({'max_new': 0}, 'max_new must be a positive number, not 0'),
        ]
        for params, expected in rows:
            with self.subTest(params=params):
                try:
                    self.assertEqual(watcher_options(dict(none, **params)), expected)
                except ValueError as e:
                    self.assertIn(expected, str(e))

    def test_only_the_options_line_changes(self):
        line = 'KXSANEFIND4_OPTIONS="--follow"\n'
        rows = [
            (None, line),
            (PACKAGED, PACKAGED.replace('"\n', '"\n' + line, 1)),
            ('A=1\n KXSANEFIND4_OPTIONS=--add # x\nB=2\nexport KXSANEFIND4_OPTIONS=\n',
             'A=1\n' + line + 'B=2\n'),
            ('#KXSANEFIND4_OPTIONS=', '#KXSANEFIND4_OPTIONS=\n' + line),
            ('A=1', 'A=1\n' + line),
        ]
        for text, expected in rows:
            with self.subTest(text=text):
                self.assertEqual(with_options(text, '--follow'), expected)

    def test_plan_follows_systemd_service(self):
        rows = [
            # active, enabled, state, enabled asked, options changed
            ((False, False, 'started', True, False), ['enable', 'start']),
            ((True, True, 'started', True, False), []),
            ((True, True, 'started', None, True), ['restart']),
            ((True, True, None, False, True), ['disable', 'restart']),
            ((True, True, 'stopped', None, True), ['stop']),
            ((False, True, None, None, True), []),
        ]
        for args, expected in rows:
            with self.subTest(args=args):
                self.assertEqual(plan(*args), expected)


class Manage(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.path = os.path.join(self.dir, 'kxsanefind4')
        self.addCleanup(shutil.rmtree, self.dir)

    def write(self, text):
        if text is not None:
            with open(self.path, 'w') as f:
                f.write(text)
        elif os.path.exists(self.path):
            os.unlink(self.path)

    def read(self):
        if not os.path.exists(self.path):
            return None
        with open(self.path) as f:
            return f.read()

    def test_task_is_idempotent_and_check_mode_changes_nothing(self):
        stopped = dict(active=False, enabled=False)
        running = dict(active=True, enabled=True)
        asked = dict(state='started', enabled=True, add=True, allow=['10.0.0.0/24'])
        packaged_with = PACKAGED.replace('"\n', '"\nKXSANEFIND4_OPTIONS="%s"\n', 1)
        rows = [
            # unit, file, check mode, parameters; the commands, the file after
            (stopped, PACKAGED, False, asked,
             ['enable', 'start'], packaged_with % '--add --allow 10.0.0.0/24'),
            (stopped, PACKAGED, True, asked, ['enable', 'start'], PACKAGED),
            (running, PACKAGED, False, dict(state='started', follow=True),
             ['restart'], packaged_with % '--follow'),
            (running, PACKAGED, False, dict(state='stopped'), ['stop'], PACKAGED),
            (stopped, None, False, dict(enabled=False, gone_after=5),
             [], 'KXSANEFIND4_OPTIONS="--gone-after 5"\n'),
        ]
        for unit, text, check_mode, params, actions, after in rows:
            with self.subTest(unit=unit, params=params, check_mode=check_mode):
                self.write(text)
                module = StubModule(unit, check_mode, **params)
                result = manage(module, 'systemctl', self.path)
                self.assertEqual(result['actions'], actions)
                self.assertEqual(module.run, [] if check_mode else actions)
                self.assertEqual(self.read(), after)
                self.assertTrue(result['changed'])
                if check_mode:
                    self.assertEqual([d['before_header'] for d in result['diff']],
                                     [self.path, 'kxsanefind4.service'])
                    self.assertEqual(result['diff'][1]['after'], 'enabled: true\nstate: started\n')
                    continue
                again = StubModule(module.unit, False, **params)
                repeated = manage(again, 'systemctl', self.path)
                self.assertEqual((repeated['changed'], again.run, repeated['diff']),
                                 (False, [], []))
                self.assertEqual((repeated['state'], repeated['enabled']),
                                 (result['state'], result['enabled']))

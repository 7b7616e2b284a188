"""What the kestrel.kxsane modules share: reading the "-q" report (on
reports the tool prints for entries written by hand or in large numbers),
checking a model against it, and finding the tool."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import shutil
import tempfile
import unittest

from ansible_collections.kestrel.kxsane.plugins.module_utils import kxsaneconfig
from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import (
    QueryFormatError,
    find_tool,
    parse_query,
    read_file,
    unknown_model_message,
)

HEADING = '\nDevices on network\n'


def device(name, model, address_type=None, address=None):
    return dict(name=name, model=model, address_type=address_type, address=address)


class ParseQuery(unittest.TestCase):
    def test_devices(self):
        rows = [
            ('  0 office              "KX-100"            I:10.0.0.5\n',
             device('office', 'KX-100', 'ip', '10.0.0.5')),
            ('  1 lab                 ""                  N:KXN_1\n',
             device('lab', '', 'nodename', 'KXN_1')),
            ('1000 a-name-of-nineteen "M" N:h\n',
             device('a-name-of-nineteen', 'M', 'nodename', 'h')),
            ('  2 bare                "M"                 \n', device('bare', 'M')),
            ('  3                     "M"                 I:1.2.3.4\n',
             device('', 'M', 'ip', '1.2.3.4')),
            ('  4 x                   M\n', device('x', 'M')),
        ]
        for line, expected in rows:
            with self.subTest(line=line):
                self.assertEqual(parse_query(HEADING + line), ([], [expected]))

    def test_models_keep_the_report_order(self):
        self.assertEqual(parse_query('  0 "KX-100"\n  1 "B"\n  2 \n' + HEADING),
                         (['KX-100', 'B', ''], []))

    def test_other_text_is_refused(self):
        for text in ['', 'Devices on network\n', HEADING + 'stub ping: x\n',
                     HEADING + '  0 a "M" b I:1.2.3.4\n', 'Invalid parameter\n' + HEADING]:
            with self.subTest(text=text):
                self.assertRaises(QueryFormatError, parse_query, text)


class UnknownModel(unittest.TestCase):
    MODELS = ['KX-100', 'KX-200', 'KX-1000 Duplex', '']

    def test_message_names_the_closest_listed_models(self):
        rows = [
            ('KX-100', self.MODELS, None),
            ('KX-1000 Duplex', self.MODELS, None),
            # A typo and a wrong case point to the listed spelling.
            ('KX-1OO', self.MODELS, '"KX-1OO" is not listed'),
            ('KX-1OO', self.MODELS, 'the closest listed: KX-100)'),
            ('kx-100', self.MODELS, 'the closest listed: KX-100,'),
            ('kx-1000 duplex', self.MODELS, 'the closest listed: KX-1000 Duplex'),
            ('Laser 9', self.MODELS, 'none of the 3 listed models is close'),
            # An empty model is never taken for the empty line of a model file.
            ('', ['KX-100'], '"" is not listed'),
            ('KX-100', [], 'list no model'),
        ]
        for model, models, expected in rows:
            with self.subTest(model=model, models=models):
                message = unknown_model_message(model, models)
                if expected is None:
                    self.assertIsNone(message)
                else:
                    self.assertIn(expected, message)


class Failed(Exception):
    pass


class FakeModule(object):
    def __init__(self, executable=None):
        self.params = dict(executable=executable)

    def fail_json(self, msg, **kwargs):
        raise Failed(msg)


class FindTool(unittest.TestCase):
    def setUp(self):
        self.saved = kxsaneconfig.SBIN_DIRS, kxsaneconfig.os.environ.get('PATH')
        kxsaneconfig.SBIN_DIRS = ('/nonexistent/sbin', '/nonexistent/bin')

    def tearDown(self):
        kxsaneconfig.SBIN_DIRS, path = self.saved
        kxsaneconfig.os.environ['PATH'] = path

    def test_found_or_every_tried_path_named(self):
        rows = [
            # (executable option, PATH, program, the path or a part of the failure)
            (None, '/nonexistent/a:/bin', 'sh', '/bin/sh'),
            ('/bin/sh', '', 'kx', '/bin/sh'),
            (None, '/nonexistent/a::/nonexistent/bin', 'kx',
             'cannot find kx: tried /nonexistent/a/kx, /nonexistent/bin/kx, '
             '/nonexistent/sbin/kx; install it'),
            ('/nonexistent/kx', '/bin', 'sh', 'the executable /nonexistent/kx does not exist'),
            ('/bin', '/bin', 'sh', 'the executable /bin is not an executable file'),
        ]
        for executable, path, program, expected in rows:
            with self.subTest(executable=executable, path=path):
                kxsaneconfig.os.environ['PATH'] = path
                try:
                    found = find_tool(FakeModule(executable), program)
                except Failed as e:
                    found = str(e)
                self.assertIn(expected, found)


class ReadFile(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_only_regular_files_are_read(self):
        with open(self.path('cfg'), 'w') as f:
            f.write('DEVICE=a\n')
        os.mkfifo(self.path('fifo'))
        os.symlink('cfg', self.path('own-link'))
        rows = [
            ('cfg', 'DEVICE=a\n'),
            ('missing', None),
            ('own-link', 'DEVICE=a\n'),
            # Read as the tool reads: a FIFO would block, a directory is no file.
            ('fifo', 'it is not a regular file'),
            ('.', 'it is not a regular file'),
        ]
        if os.geteuid() == 0:
            os.symlink('cfg', self.path('foreign-link'))
            os.lchown(self.path('foreign-link'), 1, 1)
            rows.append(('foreign-link', 'a symbolic link owned by user 1, not followed'))
        for name, expected in rows:
            with self.subTest(name=name):
                try:
                    got = read_file(FakeModule(), self.path(name))
                except Failed as e:
                    got = str(e)
                if expected is None:
                    self.assertIsNone(got)
                else:
                    self.assertIn(expected, got)

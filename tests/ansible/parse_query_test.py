"""The kestrel.kxsane modules' reading of the "-q" report, on reports the
tool prints for entries written by hand or in large numbers."""

import unittest

from ansible_collections.kestrel.kxsane.plugins.module_utils.kxsaneconfig import (
    QueryFormatError,
    parse_query,
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


if __name__ == '__main__':
    unittest.main()

"""How scanner_logging tells the state of the device configuration file,
and the file it predicts for check mode."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import unittest

from ansible_collections.kestrel.kxsane.plugins.modules.scanner_logging import (
    logging_state,
    switched,
)

LOG = 'log=/tmp/kx_sane.log , 1 , w\n'
DEV = 'DEVICE=a , "M" , Unknown , IP-ADDRESS=10.0.0.5 \n'


class LoggingState(unittest.TestCase):
    def test_state_of_the_file(self):
        rows = [
            (None, 'off'),
            ('', 'off'),
            (DEV, 'off'),
            (LOG + DEV, 'on'),
            (LOG, 'on'),
            # A logging entry further down is neither: "-LI" puts the line on
            # top, "-LO" takes it out.
            (DEV + LOG, None),
            ('log=/var/log/other , 1 , w\n' + DEV, None),
        ]
        for text, state in rows:
            with self.subTest(text=text):
                self.assertEqual(logging_state(text), state)

    def test_switched_file_is_what_the_tool_writes(self):
        rows = [
            (None, 'on', LOG),
            (DEV, 'on', LOG + DEV),
            (LOG + DEV, 'on', LOG + DEV),
            (DEV + LOG, 'on', LOG + DEV + LOG),
            # The entry is cut off where it starts; equal adjacent lines merge.
            (LOG + DEV, 'off', '\n' + DEV),
            (DEV + DEV + 'x log=y\n', 'off', DEV + 'x \n'),
            ('\n\n' + DEV.rstrip('\n'), 'off', '\n' + DEV),
        ]
        for text, state, expected in rows:
            with self.subTest(text=text, state=state):
                self.assertEqual(switched(text, state), expected)

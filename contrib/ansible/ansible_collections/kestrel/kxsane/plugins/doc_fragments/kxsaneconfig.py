# -*- coding: utf-8 -*-
# What the kestrel.kxsane modules have in common: the executable option and
# the authors; and the attributes of the modules that only read.

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  executable:
    description:
      - The path of C(kxsaneconfig4).
      - By default it is looked up on C(PATH), then in C(/sbin), C(/usr/sbin) and
        C(/usr/local/sbin).
    type: path
author:
  - kxsaneconfig4 maintainers (@kestrel)
'''

    # Modules that change nothing: kestrel.kxsane.kxsaneconfig.read_only
    READ_ONLY = r'''
attributes:
  check_mode:
    support: full
    description: Runs in check mode as in a normal run; it changes nothing in either.
  diff_mode:
    support: none
    description: There is nothing to show.
'''

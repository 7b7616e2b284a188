# -*- coding: utf-8 -*-
# What every kestrel.kxsane module has: the executable option and its authors.

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

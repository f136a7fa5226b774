# -*- coding: utf-8 -*-
# Copyright: 2026 Korvandel Audio Visual Systems

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    """What every module of the collection documents alike: the kvboot it runs, its
    author and its attributes."""

    DOCUMENTATION = r'''
options:
  kvboot_path:
    description:
      - The kvboot program. A name is looked up on the PATH.
    type: path
    default: kvboot
author:
  - Korvandel Audio Visual Systems (@korvandel)
attributes:
  check_mode:
    description: Can run in check mode and say what would change without changing it.
    support: full
  diff_mode:
    description: Shows no diff.
    support: none
'''

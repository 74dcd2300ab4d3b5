#!/usr/bin/env python3
"""Prints, as JSON lines, the role and name of every accessible object of the running
programs on the session's accessibility bus whose process id is given, depth first."""
import json
import sys

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402


def walk(node, depth, out):
    if node is None or depth > 60:
        return
    try:
        out.append({'role': node.get_role_name(), 'name': node.get_name() or '', 'depth': depth})
        count = node.get_child_count()
    except Exception:  # an object that went away meanwhile
        return
    for i in range(count):
        try:
            walk(node.get_child_at_index(i), depth + 1, out)
        except Exception:
            pass


def main():
    pids = {int(p) for p in sys.argv[1:]}
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None:
            continue
        try:
            pid = app.get_process_id()
        except Exception:
            continue
        if pids and pid not in pids:
            continue
        out = []
        walk(app, 0, out)
        for row in out:
            row['pid'] = pid
            print(json.dumps(row))


main()

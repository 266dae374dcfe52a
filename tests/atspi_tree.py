#!/usr/bin/env python3
"""Prints the accessibility tree of one window of a program, as a screen reader gets it over AT-SPI,
and checks that every input field and button in it has a name, and no two the same name.

Usage: atspi_tree.py PROGRAM WINDOW-TITLE
Exit code 0 when the names are fine, 1 when not, 2 when the window never showed up."""
import sys
import time

import pyatspi

FIELDS = {"text", "password text", "entry", "combo box", "spin button"}
BUTTONS = {"push button"}


def walk(node, depth, rows):
    try:
        role, name, description = node.getRoleName(), node.name or "", node.description or ""
    except Exception:  # a node that went away while we walked
        return
    rows.append((depth, role, name, description))
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1, rows)


def find_window(program, title):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is None or app.name != program:
            continue
        for j in range(app.childCount):
            window = app.getChildAtIndex(j)
            if window is not None and window.name == title:
                return window
    return None


def main():
    program, title = sys.argv[1], sys.argv[2]
    window = None
    for _ in range(50):
        window = find_window(program, title)
        if window is not None:
            break
        time.sleep(0.1)
    if window is None:
        print(f"no window '{title}' of {program} in the accessibility tree")
        return 2
    rows = []
    walk(window, 0, rows)
    problems = []
    seen = {}
    for depth, role, name, description in rows:
        print(f"{'  ' * depth}{role} | {name} | {description}".rstrip())
        if depth == 0 or (role not in FIELDS and role not in BUTTONS):
            continue
        if not name:
            problems.append(f"a {role} without a name")
        elif name in seen:
            problems.append(f"two controls named '{name}'")
        seen[name] = role
    for problem in problems:
        print("PROBLEM:", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Walks the accessible tree that the running program shows on the
accessibility bus (AT-SPI, as a screen reader sees it) and fails on a shown
push button, link, entry, check box, combo box or table cell without a name.
A table cell's name may come from its contents, as for any cell.

Usage: a11y_tree.py WINDOW_TITLE_PART [SECONDS [ELEMENT_ID]]
With ELEMENT_ID, the walk waits until a shown element of that id is in the
tree (a dialog's page has loaded), not only for the first controls.
Exit status 0: every control named; 1: some are not (listed); 2: the
program or the window did not appear on the bus in time."""
import sys
import time

import pyatspi

CHECKED = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_LINK, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TABLE_CELL,
}


def text_of(node):
    try:
        t = node.queryText()
        return t.getText(0, -1)
    except Exception:
        return ''


def attributes(node):
    try:
        return dict(a.split(':', 1) for a in node.getAttributes() if ':' in a)
    except Exception:
        return {}


def describe(node):
    attrs = attributes(node)
    return '%s <%s id=%s>' % (node.getRoleName(), attrs.get('tag', '?'), attrs.get('id', ''))


def walk(node, depth, found):
    if node is None or depth > 80:
        return
    try:
        role = node.getRole()
        name = (node.name or '').strip()
        showing = node.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return
    found['nodes'] += 1
    if showing and found['marker'] and attributes(node).get('id') == found['marker']:
        found['marked'] = True
    if role in CHECKED and showing:
        found['controls'] += 1
        if not name and not (role == pyatspi.ROLE_TABLE_CELL and text_of(node).strip()):
            found['unnamed'].append(describe(node))
    for i in range(node.childCount):
        try:
            walk(node.getChildAtIndex(i), depth + 1, found)
        except Exception:
            pass


def main():
    title = sys.argv[1]
    deadline = time.time() + (float(sys.argv[2]) if len(sys.argv) > 2 else 30)
    marker = sys.argv[3] if len(sys.argv) > 3 else ''
    desktop = pyatspi.Registry.getDesktop(0)
    while True:
        frames = []
        for app in desktop:
            if app is None or 'vorta' not in (app.name or '').lower():
                continue
            for i in range(app.childCount):
                w = app.getChildAtIndex(i)
                if w is not None and title in (w.name or '') and w.getState().contains(pyatspi.STATE_SHOWING):
                    frames.append(w)
        found = {'nodes': 0, 'controls': 0, 'unnamed': [], 'marker': marker, 'marked': not marker}
        for w in frames:
            walk(w, 0, found)
        # The page's tree fills in as the page loads: wait for its controls.
        if (found['controls'] > 0 and found['marked']) or time.time() > deadline:
            break
        time.sleep(0.5)
    if found['controls'] == 0 or not found['marked']:
        print('no window "%s" with controls%s on the accessibility bus' % (title, ' and #' + marker if marker else ''))
        return 2
    print('%s%s: %d nodes, %d controls' % (title, ' #' + marker if marker else '', found['nodes'], found['controls']))
    for line in found['unnamed']:
        print('  no name: ' + line)
    return 1 if found['unnamed'] else 0


if __name__ == '__main__':
    sys.exit(main())

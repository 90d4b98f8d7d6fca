#!/usr/bin/python3
# What a screen reader hears of qv840n through AT-SPI: run by atspi_walk.sh inside its own D-Bus
# session, with the accessibility bus and an X server, while qv840n --simulate starts. Takes the
# start-up dialogs with Select, then checks the main window: a frame, every control that takes
# the keyboard named, each message a button named by its terminals and text and described by
# its state, the address a spin button with its value. Exit 1 on the first wrong thing.
import sys
import time

import gi

gi.require_version('Atspi', '2.0')
from gi.repository import Atspi  # noqa: E402


def fail(why):
    print('FAIL: ' + why)
    sys.exit(1)


def application():
    for _ in range(60):
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name() == 'QV840N':
                return app
        time.sleep(0.5)
    fail('QV840N never appeared on the accessibility bus')


def nodes(node, depth=0):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield child
            if depth < 12:
                yield from nodes(child, depth + 1)


def window(title):
    for _ in range(40):
        app = application()
        for i in range(app.get_child_count()):
            w = app.get_child_at_index(i)
            if w is not None and title in (w.get_name() or ''):
                return w
        time.sleep(0.5)
    fail('no window "%s"' % title)


def press_select(title):
    buttons = [n for n in nodes(window(title)) if n.get_name() == 'Select']
    if not buttons:
        fail('no Select in "%s"' % title)
    buttons[0].do_action(0)


press_select('Connection configuration')
press_select('Serial Communication Speed')
main = window('Interlock Annunciator')
if main.get_role_name() not in ('frame', 'window'):
    fail('the main window is a ' + main.get_role_name())
messages = 0
for n in nodes(main):
    states = n.get_state_set()
    if not (states.contains(Atspi.StateType.FOCUSABLE) and
            states.contains(Atspi.StateType.SHOWING)):
        continue
    name, role = n.get_name() or '', n.get_role_name()
    if not name.strip():
        fail('a %s without a name' % role)
    if name.startswith('Terminals '):
        messages += 1
        if role != 'push button' or n.get_description() != 'not read from unit 1':
            fail('%s: a %s described "%s"' % (name, role, n.get_description()))
    if name == 'Unit address' and role == 'spin button':
        if n.get_current_value() != 1:
            fail('the unit address is not 1')
        messages += 100
if messages != 120:
    fail('%d messages and %d address spinners heard' % (messages % 100, messages // 100))
print('PASS: the main window as a screen reader hears it')

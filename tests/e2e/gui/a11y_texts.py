#!/usr/bin/python3
"""Prints the texts a program shows, read through the accessibility bus.

    a11y_texts.py PID

One line per text: the title of its top-level window (empty for an untitled one), a
tab, and a line of a label or text view inside it, or a button's caption in
brackets. Exit 2 when the program is not
on the bus, 3 when the accessibility library is missing.
"""
import sys

try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
except (ImportError, ValueError) as e:
    print(f"no accessibility library: {e}", file=sys.stderr)
    sys.exit(3)

TEXT_ROLES = {Atspi.Role.LABEL, Atspi.Role.TEXT, Atspi.Role.PARAGRAPH}


def texts(node, depth=0):
    if node is None or depth > 40:
        return
    try:
        role = node.get_role()
    except Exception:
        return
    if role == Atspi.Role.PUSH_BUTTON:
        yield f"[{node.get_name() or ''}]"
        return
    if role in TEXT_ROLES:
        if "Text" in (node.get_interfaces() or []):
            yield Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))
        elif node.get_name():
            yield node.get_name()
    for i in range(node.get_child_count()):
        yield from texts(node.get_child_at_index(i), depth + 1)


def main():
    pid = int(sys.argv[1])
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        try:
            if app is None or app.get_process_id() != pid:
                continue
        except Exception:
            continue
        for w in range(app.get_child_count()):
            win = app.get_child_at_index(w)
            if win is None or not win.get_state_set().contains(Atspi.StateType.SHOWING):
                continue
            title = win.get_name() or ""
            for text in texts(win):
                for line in text.splitlines() or [""]:
                    print(f"{title}\t{line}")
        return 0
    print(f"program {pid} is not on the accessibility bus", file=sys.stderr)
    return 2


sys.exit(main())

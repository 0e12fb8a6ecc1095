#!/usr/bin/python3
"""What pyatspi sees in a real application, the reference the application checks judge by.

  reference.py ready PID editable|page|button|any    whether the application of PID is on the bus
                                                       with such an element in its active window
                                                       (page: an editable one inside a document)
  reference.py focused PID                            the focused element as one JSON line
  reference.py verdict PID BUNDLE NAME                the `info` line that tells the same
  reference.py frontmost PID BUNDLE NAME              the `frontmost` line for the application
  reference.py focus PID editable|button [SECONDS]    grab the focus for such an element (the
                                                       largest text, the first control) and wait
                                                       until the reference sees it there
  reference.py point PID editable|button             a point inside that element, in the window
  reference.py caret-end PID                          the caret to the end of the focused text
  reference.py text PID                               the text of the focused editable element
  reference.py tree PID                               the active window, indented (for debugging)

The focused element is the one a screen reader would announce: among the elements of the active
window that claim the focused state, an editable one, else one that can take the focus, else any;
of those the innermost.
Its character count is what the user sees: an embedded-object character (U+FFFC) counts the
characters of the text its object holds, recursively. Every wait is bounded by its seconds; a
peer that does not answer fails the command rather than hanging it.
"""

import json
import sys
import time

import pyatspi
from gi.repository import Atspi, GLib

NODE_CAP = 4000
DEPTH_CAP = 64
EMBEDDED = "\ufffc"
TEXT_ENTRY = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_TERMINAL}
BUTTONS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_RADIO_BUTTON}
OTHER_CONTROLS = {pyatspi.ROLE_LABEL, pyatspi.ROLE_LINK, pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_MENU_ITEM}
DOCUMENTS = {pyatspi.ROLE_DOCUMENT_WEB, pyatspi.ROLE_DOCUMENT_FRAME, pyatspi.ROLE_DOCUMENT_TEXT}
# Containers whose children are many rows or cells: the focused element is never deep inside.
MANY = {pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_LIST}

Atspi.set_timeout(2000, 5000)


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        try:
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def states(node):
    try:
        return node.getState()
    except Exception:
        return None


def has(node, state):
    s = states(node)
    return s is not None and s.contains(state)


def active_window(app):
    frames = []
    for i in range(app.childCount):
        try:
            frame = app.getChildAtIndex(i)
        except Exception:
            continue
        if frame is not None:
            frames.append(frame)
    return next((f for f in frames if has(f, pyatspi.STATE_ACTIVE)), None)


def role(node):
    try:
        return node.getRole()
    except Exception:
        return None


def children(node):
    try:
        count = min(node.childCount, 500)
    except Exception:
        return []
    out = []
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        if child is not None:
            out.append(child)
    return out


def walk(window):
    """Every node of the window below the cap, with its depth and its ancestors' positions."""
    nodes, stack = [], [(window, 0, ())]
    seen = set()
    while stack and len(nodes) < NODE_CAP:
        node, depth, path = stack.pop()
        key = hash(node)
        if key in seen:
            continue
        seen.add(key)
        nodes.append((node, depth, path))
        if depth >= DEPTH_CAP or role(node) in MANY and not has(node, pyatspi.STATE_FOCUSED):
            continue
        for i, child in reversed(list(enumerate(children(node)))):
            stack.append((child, depth + 1, path + (key,)))
    return nodes


def editable(node):
    return role(node) in TEXT_ENTRY or has(node, pyatspi.STATE_EDITABLE)


def stage(node):
    r = role(node)
    if r in TEXT_ENTRY or (r == pyatspi.ROLE_COMBO_BOX and has(node, pyatspi.STATE_EDITABLE)):
        return "role"
    if has(node, pyatspi.STATE_EDITABLE):
        return "editable_ancestor"
    return "not_editable"


def focused(app):
    window = active_window(app)
    if window is None:
        return None
    claims = [(n, d, p) for n, d, p in walk(window) if has(n, pyatspi.STATE_FOCUSED)]
    # Qt marks a text view's viewport, the current tab and ancestors as focused too: an editable
    # claimant wins, then those that can take the focus at all, each time the innermost.
    for pick in (lambda n: editable(n), lambda n: has(n, pyatspi.STATE_FOCUSABLE), lambda n: True):
        chosen = [(n, d, p) for n, d, p in claims if pick(n)]
        ancestors = {key for _, _, p in chosen for key in p}
        leaves = [(n, d) for n, d, _ in chosen if hash(n) not in ancestors]
        if leaves:
            return max(leaves, key=lambda nd: nd[1])[0]
    return None


def text_of(node, depth=0):
    """The text the user sees: embedded objects give their own text in their place."""
    try:
        text = node.queryText()
        raw = text.getText(0, -1)
    except Exception:
        return None
    if EMBEDDED not in raw or depth >= 16:
        return raw
    try:
        hypertext = node.queryHypertext()
    except Exception:
        hypertext = None
    out, link = [], 0
    for i, char in enumerate(raw):
        if char != EMBEDDED:
            out.append(char)
            continue
        child = None
        try:
            if hypertext is not None:
                child = hypertext.getLink(hypertext.getLinkIndex(i)).getObject(0)
        except Exception:
            child = None
        if child is None:
            kids = children(node)
            child = kids[link] if link < len(kids) else None
        link += 1
        inner = text_of(child, depth + 1) if child is not None else None
        out.append(inner if inner is not None else "")
    return "".join(out)


def describe(app, node):
    if node is None:
        return {"app": app.name if app else None, "stage": "no_focused_element", "editable": False,
                "valueLen": None}
    text = text_of(node)
    return {"app": app.name, "stage": stage(node), "editable": stage(node) != "not_editable",
            "valueLen": None if text is None else len(text), "role": role(node).value_nick if role(node) else None,
            "name": node.name}


def settled(app):
    """The focused element's description once two readings 100 ms apart agree: Firefox fills in
    an object's text only after it is first asked for, and says 0 characters until then."""
    seen = describe(app, focused(app) if app else None)
    context = GLib.MainContext.default()
    for _ in range(10):
        time.sleep(0.1)
        while context.pending():
            context.iteration(False)
        pyatspi.Registry.getDesktop(0).clear_cache()
        again = describe(app, focused(app) if app else None)
        if again == seen:
            break
        seen = again
    return seen


def find(app, kind):
    """An element of the window that can take the focus: the largest editable one, or the first
    control that is not (a button, else a label or link that takes the focus)."""
    window = active_window(app)
    if window is None:
        return None
    # Qt's status-bar buttons claim the focus all the time: a button that does not is better.
    buttons, claiming, others, texts = [], [], [], []
    nodes = walk(window)
    # GTK 4 sets no showing state below the window: there, visible is all there is.
    shown = pyatspi.STATE_SHOWING if any(has(n, pyatspi.STATE_SHOWING) for n, _, _ in nodes[1:]) \
        else pyatspi.STATE_VISIBLE
    documents = {hash(n) for n, _, _ in nodes if role(n) in DOCUMENTS}
    for node, _, path in nodes:
        s = states(node)
        if s is None or not s.contains(shown) or not s.contains(pyatspi.STATE_FOCUSABLE):
            continue
        if kind == "any":
            return node
        if kind in ("editable", "page"):
            if editable(node):
                texts.append((node, any(key in documents for key in path)))
            continue
        if editable(node):
            continue
        r = role(node)
        if r in BUTTONS:
            (claiming if s.contains(pyatspi.STATE_FOCUSED) else buttons).append(node)
        elif r in OTHER_CONTROLS:
            others.append(node)
    if kind == "page":
        texts = [t for t in texts if t[1]]
    if kind in ("editable", "page"):
        # The document, not a search field or a browser's address bar: one inside a document,
        # else the largest that is not a combo box; of equals the outermost (a Wayland window
        # may not know its elements' sizes).
        best = max(texts, key=lambda t: (t[1], role(t[0]) != pyatspi.ROLE_COMBO_BOX, area(t[0])), default=None)
        return best[0] if best else None
    return next(iter(buttons + claiming + others), None)


def area(node):
    try:
        _, _, w, h = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        return max(w, 0) * max(h, 0)
    except Exception:
        return 0


def same(a, b):
    # libatspi hands out one object per element, so identity is sameness.
    return a is not None and b is not None and hash(a) == hash(b)


def poll(seconds, probe):
    deadline = time.monotonic() + seconds
    context = GLib.MainContext.default()
    while True:
        # libatspi keeps its cache current from the bus's events: let them in, or start afresh.
        while context.pending():
            context.iteration(False)
        pyatspi.Registry.getDesktop(0).clear_cache()
        result = probe()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(0.2)


def main(argv):
    command, pid = argv[1], int(argv[2])
    app = application(pid)
    if command == "ready":
        return 0 if app is not None and find(app, argv[3]) is not None else 1
    if command == "focused":
        print(json.dumps(settled(app), separators=(",", ":")))
        return 0
    if command in ("verdict", "frontmost"):
        # The lines focusprobe should print: the names are the window's identifier and the
        # accessible application's name, else the window's instance name.
        bundle, fallback = argv[3], argv[4]
        name = app.name if app is not None and app.name else fallback
        if command == "frontmost":
            print("%s|%s|%d" % (name, bundle, pid))
            return 0
        seen = settled(app)
        print(json.dumps({"bundleId": bundle, "appName": name, "editable": seen["editable"], "stage": seen["stage"],
                          "valueLen": seen["valueLen"]}, separators=(",", ":")))
        return 0
    if app is None:
        print("no application with pid %d on the accessibility bus" % pid, file=sys.stderr)
        return 1
    if command == "focus":
        target = find(app, argv[3])
        if target is None:
            print("no %s element to focus" % argv[3], file=sys.stderr)
            return 1
        try:
            target.queryComponent().grabFocus()
        except Exception as error:
            print("grabFocus failed: %s" % error, file=sys.stderr)
            return 1
        seconds = float(argv[4]) if len(argv) > 4 else 5.0
        return 0 if poll(seconds, lambda: same(focused(app), target)) else 1
    if command == "point":
        target = find(app, argv[3])
        if target is None:
            return 1
        # Relative to the window: GTK 4 on X11 does not know where its window is on the screen.
        x, y, w, h = target.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        print("%d %d" % (x + min(w // 2, 40), y + min(h // 2, 20)))
        return 0
    if command == "caret-end":
        node = focused(app)
        try:
            text = node.queryText()
            return 0 if text.setCaretOffset(text.characterCount) else 1
        except Exception:
            return 1
    if command == "text":
        node = focused(app)
        text = text_of(node) if node is not None else None
        if text is None:
            return 1
        print(text)
        return 0
    if command == "tree":
        window = active_window(app)
        for node, depth, _ in walk(window) if window else []:
            s = states(node)
            flags = [name for name, st in (("focused", pyatspi.STATE_FOCUSED), ("editable", pyatspi.STATE_EDITABLE),
                                           ("focusable", pyatspi.STATE_FOCUSABLE), ("active", pyatspi.STATE_ACTIVE), ("showing", pyatspi.STATE_SHOWING), ("visible", pyatspi.STATE_VISIBLE))
                     if s is not None and s.contains(st)]
            text = text_of(node)
            print("%s%s %r %s%s" % ("  " * depth, role(node).value_nick if role(node) else "?", node.name,
                                    ",".join(flags), "" if text is None else " text=%d" % len(text)))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))

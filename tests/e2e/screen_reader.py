#!/usr/bin/python3
# What a screen reader hears from final_inst, read over the accessibility bus.
#
#   screen_reader.py watch LOG   records, until SIGTERM, every event final_inst
#                                sends and, several times a second, every node
#                                of its tree, as JSON lines in LOG
#   screen_reader.py check LOG   says what a screen reader user would miss;
#                                exits 1 when something is
#
# Debian's pyatspi lives in the system's Python, hence /usr/bin/python3.
import json
import signal
import sys
import time

APP = "final_inst"
# Roles that only hold other nodes: a screen reader passes over them unnamed.
CONTAINERS = {"filler", "panel", "scroll pane", "viewport", "layered pane", "unknown", "section",
              "internal frame", "redundant object", "document web", "document frame", "paragraph",
              "application", "tool bar", "menu bar"}
# What a top-level window of ours may be: our windows and our boxes.
WINDOW_ROLES = {"dialog", "alert", "file chooser"}


def role_of(node):
    try:
        return node.getRoleName()
    except Exception:
        return "?"


def states_of(node):
    import pyatspi
    try:
        state = node.getState()
    except Exception:
        return []
    names = {pyatspi.STATE_SHOWING: "showing", pyatspi.STATE_FOCUSABLE: "focusable", pyatspi.STATE_FOCUSED: "focused",
             pyatspi.STATE_ACTIVE: "active", pyatspi.STATE_VISIBLE: "visible", pyatspi.STATE_ENABLED: "enabled"}
    return [name for code, name in names.items() if state.contains(code)]


def value_of(node):
    try:
        value = node.queryValue()
        return [value.minimumValue, value.currentValue, value.maximumValue]
    except Exception:
        return None


def find_app(desktop):
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == APP:
            return app
    return None


def walk(node, path, out, depth=0):
    if node is None or depth > 40:
        return
    entry = {"path": path, "role": role_of(node), "name": node.name or "", "states": states_of(node)}
    value = value_of(node) if entry["role"] in ("progress bar", "slider", "spin button", "scroll bar") else None
    if value is not None:
        entry["value"] = value
    out.append(entry)
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(min(count, 200)):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        walk(child, path + [i], out, depth + 1)


def watch(log_path):
    import pyatspi
    from gi.repository import GLib

    log = open(log_path, "w", buffering=1)
    started = time.monotonic()

    def write(kind, **fields):
        fields.update(kind=kind, t=round(time.monotonic() - started, 3))
        log.write(json.dumps(fields, ensure_ascii=False) + "\n")

    def on_event(event):
        # The bus is this run's own; an event whose source is already gone
        # (a progress window closed at once) still counts as heard.
        try:
            source = event.source
            try:
                app = source.getApplication().name
            except Exception:
                app = None
            if app not in (APP, None):
                return
            role = role_of(source)
            try:
                name = source.name or ""
            except Exception:
                name = ""
            write("event", type=event.type, role=role, name=name, detail1=event.detail1,
                  any_data=str(event.any_data)[:200], value=value_of(source) if role == "progress bar" else None)
        except Exception as error:
            write("note", text="event unreadable: %s" % error)

    for kind in ("window:", "object:", "focus:", "document:"):
        pyatspi.Registry.registerEventListener(on_event, kind)

    def snapshot():
        try:
            app = find_app(pyatspi.Registry.getDesktop(0))
            if app is not None:
                nodes = []
                walk(app, [], nodes)
                write("tree", nodes=nodes)
        except Exception as error:
            write("note", text="tree unreadable: %s" % error)
        return True

    GLib.timeout_add(100, snapshot)
    signal.signal(signal.SIGTERM, lambda *_: pyatspi.Registry.stop())
    write("ready")
    pyatspi.Registry.start()
    log.close()


def check(log_path):
    events, trees = [], []
    with open(log_path) as log:
        for line in log:
            record = json.loads(line)
            (events if record["kind"] == "event" else trees if record["kind"] == "tree" else []).append(record)
    problems = []
    seen = {}

    def problem(text):
        if text not in problems:
            problems.append(text)

    if not trees:
        problem("final_inst never appeared on the accessibility bus")
    for tree in trees:
        nodes = tree["nodes"]
        for node in nodes:
            key = (node["role"], node["name"])
            seen.setdefault(key, node)
            where = "%s \"%s\"" % (node["role"], node["name"])
            if len(node["path"]) == 1:
                if node["role"] not in WINDOW_ROLES:
                    problem("top-level window %s: not a dialog" % where)
                if "offscreen" in node["name"].lower():
                    problem("a top-level window that is not on the screen: %s" % where)
            if "showing" not in node["states"]:
                continue
            if node["role"] in ("invalid", "?"):
                problem("a node with no role, under %s" % parent_name(nodes, node))
            elif node["role"] not in CONTAINERS and not node["name"].strip() and "focusable" in node["states"]:
                problem("control without a name: %s under %s" % (node["role"], parent_name(nodes, node)))
            if node["role"] == "progress bar":
                if not node["name"].strip():
                    problem("progress bar without a name under %s" % parent_name(nodes, node))
                if node.get("value") is None:
                    problem("progress bar \"%s\" reports no value" % node["name"])
    progress = [n for (role, _), n in seen.items() if role == "progress bar"]
    if trees and not progress:
        problem("no progress bar was ever in the tree during the long steps")
    # A step here may last less than a second: a bar already gone when asked ("?") still spoke.
    values = [e for e in events if e["role"] in ("progress bar", "?") and "accessible-value" in e["type"]]
    if progress and not values:
        problem("no progress bar told its value changed")

    # A long step's window coming up and going away must be heard: the bus
    # carries its activation (or the focus moving into it) and its end.
    # A window may be gone before its name is asked for; its window events carry its title.
    def titled(e):
        return e["name"] or (e["any_data"] if e["type"].startswith("window:") else "")
    for title in ["Template Installation"]:
        began = [e for e in events if titled(e) == title and e["type"].startswith(("window:activate", "window:create"))]
        if not began:
            problem("the start of a long step (window \"%s\") was never announced" % title)
        ended = [e for e in events if titled(e) == title and e["type"].startswith(("window:deactivate", "window:destroy"))]
        if not ended:
            problem("the end of a long step (window \"%s\") was never announced" % title)
        began_at = [e["t"] for e in began]
        # Its end is heard as the focus coming back with the step's outcome.
        outcome = [e for e in events if e["role"] == "status bar" and "accessible-name" in e["type"]
                   and began_at and e["t"] > min(began_at)]
        if began and not outcome:
            problem("nothing was said after the long step (window \"%s\") ended" % title)
    named = [e for e in events if e["type"].startswith("window:activate") and not titled(e)]
    for e in named:
        problem("a window came up with no title to announce (%s)" % e["role"])
    alerts = [e for e in events if "announcement" in e["type"] or e["type"].startswith("object:system-alert")
              or e["role"] == "status bar" and "accessible-name" in e["type"]]
    if trees and not alerts:
        problem("no status change or announcement was ever sent")

    print("screen_reader: %d events, %d tree readings, %d distinct nodes" % (len(events), len(trees), len(seen)))
    for (role, name), node in sorted(seen.items()):
        extra = " value=%s" % node["value"] if "value" in node else ""
        print("screen_reader:   %-14s %s%s" % (role, json.dumps(name, ensure_ascii=False), extra))
    kinds = sorted({(e["type"], e["role"], e["name"]) for e in events if not e["type"].startswith("object:bounds")})
    for kind in kinds[:200]:
        print("screen_reader:   event %s from %s \"%s\"" % kind)
    for text in problems:
        print("screen_reader: PROBLEM: %s" % text)
    return 1 if problems else 0


def parent_name(nodes, node):
    path = node["path"]
    while path:
        path = path[:-1]
        for other in nodes:
            if other["path"] == path and other["name"]:
                return "%s \"%s\"" % (other["role"], other["name"])
    return "the application"


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("watch", "check"):
        sys.exit("usage: screen_reader.py watch|check LOG")
    sys.exit(watch(sys.argv[2]) if sys.argv[1] == "watch" else check(sys.argv[2]))

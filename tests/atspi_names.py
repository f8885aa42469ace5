# What a screen reader hears: starts the window (argv[1]) and reads every control's role and name
# over the accessibility bus, as Orca would. Run by atspi_test.sh inside a display and a session bus.
import os
import subprocess
import sys
import time

import pyatspi

BUTTONS = ["Add Selected Folder", "Add Selected File", "Make New Folder Here",
           "Remove Selected Entry", "Clear List", "Save File Copy List", "Load File Copy List",
           "Process Files!", "Make Archive of Source Files"]
# (role, name) pairs that must be heard; roles as the bus names them.
EXPECTED = [("combo box", "Source drive"), ("combo box", "Destination drive"),
            ("list", "Source folders"), ("list", "Files"), ("list", "Destination folders"),
            ("list", "File Transfer Queue")] + [("push button", b) for b in BUTTONS]


def heard(node, out):
    for child in node:
        if child is None:
            continue
        out.append((child.getRoleName(), child.name))
        heard(child, out)
    return out


def application(pid, timeout=30):
    end = time.time() + timeout
    while time.time() < end:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.get_process_id() == pid:
                return app
        time.sleep(0.2)
    sys.exit("the window never appeared on the accessibility bus")


def window(app, name, timeout=15):
    end = time.time() + timeout
    while time.time() < end:
        for w in app:
            if w is not None and w.name.startswith(name):
                return w
        time.sleep(0.2)
    sys.exit(f"no window named {name!r} on the bus")


env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
program = subprocess.Popen([sys.argv[1]], env=env)
try:
    app = application(program.pid)
    main = window(app, "Mivex Version")
    said = heard(main, [])
    for role, name in said:
        print(f"{role}: {name}")
    faults = [f"{role} {name!r} not heard" for role, name in EXPECTED if (role, name) not in said]
    faults += [f"the main window is a {main.getRoleName()}"] if main.getRoleName() != "frame" else []
    # The help window, opened through its menu item's action as a screen reader user would.
    item = next(i for i in pyatspi.findAllDescendants(main, lambda n: n.name == "Mivex Help")
                if i.getRoleName() == "menu item")
    item.queryAction().doAction(0)
    help_window = window(app, "Mivex Help")
    print(f"{help_window.getRoleName()}: {help_window.name}")
    if help_window.getRoleName() != "frame":
        faults.append(f"the help window is a {help_window.getRoleName()}")
    for fault in faults:
        print("FAULT:", fault)
    sys.exit(1 if faults else 0)
finally:
    program.kill()
    program.wait()

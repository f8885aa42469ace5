# What a screen reader hears: starts the window (argv[1]) and reads every control's role and name
# over the accessibility bus, as Orca would. Run by atspi_test.sh inside a display and a session bus.
import os, subprocess, sys, time
import pyatspi

EXPECTED = [("combo box", "Source drive"), ("combo box", "Destination drive")] + [
    ("list", n) for n in ["Source folders", "Files", "Destination folders", "File Transfer Queue"]
] + [("push button", b) for b in ["Add Selected Folder", "Add Selected File", "Clear List",
     "Make New Folder Here", "Remove Selected Entry", "Save File Copy List", "Process Files!",
     "Load File Copy List", "Make Archive of Source Files"]]


def heard(node):
    for child in filter(None, node):
        yield (child.getRoleName(), child.name)
        yield from heard(child)


def wait_for(find, what):
    for _ in range(150):
        found = next((x for x in find() if x is not None), None)
        if found is not None:
            return found
        time.sleep(0.2)
    sys.exit(f"{what} never appeared on the accessibility bus")


env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
program = subprocess.Popen([sys.argv[1]], env=env)
try:
    app = wait_for(lambda: (a for a in pyatspi.Registry.getDesktop(0)
                            if a and a.get_process_id() == program.pid), "the program")
    window = lambda name: wait_for(lambda: (w for w in app if w and w.name.startswith(name)), name)
    main = window("Mivex Version")
    said = list(heard(main))
    print("\n".join(f"{role}: {name}" for role, name in said))
    faults = [f"{role} {name!r} not heard" for role, name in EXPECTED if (role, name) not in said]
    # Each drive list tells the drive it shows: as its description, and as the selected item of
    # its list of drives.
    for combo in pyatspi.findAllDescendants(main, lambda n: n.getRoleName() == "combo box"):
        shown = [item.name for items in combo for item in items
                 if item.getState().contains(pyatspi.STATE_SELECTED)]
        print(f"{combo.name}: {combo.description!r}, selected {shown}")
        if not combo.description.startswith("/") or shown != [combo.description]:
            faults.append(f"{combo.name!r} does not tell the drive it shows")
    # The help window, opened through its menu item as a screen reader's user would.
    item = pyatspi.findDescendant(main, lambda n: n.name == "Mivex Help" and
                                  n.getRoleName() == "menu item")
    item.queryAction().doAction(0)
    faults += [f"the window {w.name!r} is announced as a {w.getRoleName()}"
               for w in (main, window("Mivex Help")) if w.getRoleName() != "frame"]
    print("\n".join("FAULT: " + f for f in faults))
    sys.exit(1 if faults else 0)
finally:
    program.kill()
    program.wait()

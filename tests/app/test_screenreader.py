"""What a screen reader on Linux reads of the real client through AT-SPI,
as Orca would: the log-in dialog's labelled fields and a refused password,
then the main window
while a watched folder's three files go through the queue (the queued
files as list items with their progress and buttons, the tabs' counts,
the status bar's batch line, the focus moving with the arrow keys and the
names changing with the files' states, a running file cancelled through its
button and the question it asks).
    test_screenreader.py BIN_DIR
Exits 77 (skipped) when pyatspi or the AT-SPI bus launcher is missing."""

import importlib.util
import os
import re
import subprocess
import sys
import time

from screenreader_session import SKIP, Session, find_program, write_tone

FILES = ["interview-part1.wav", "interview-part2.wav", "podcast.wav"]
PRESS = ("press", "click")


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Reader:
    """The AT-SPI side: the client's accessible tree and the events it sends."""

    def __init__(self, pid):
        import pyatspi
        from gi.repository import GLib
        self.atspi = pyatspi
        self.context = GLib.MainContext.default()
        self.pid = pid
        self.events = []
        pyatspi.Registry.registerEventListener(self.events.append, "object:property-change:accessible-name",
                                               "object:state-changed:focused", "object:property-change:accessible-value")

    def pump(self):
        while self.context.iteration(False):
            pass

    def wait(self, what, find, seconds=60):
        """The first answer of `find` that is not None, pumping the events meanwhile."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.pump()
            try:
                found = find()
            except Exception:
                found = None
            if found is not None:
                return found
            time.sleep(0.1)
        raise Failure("not seen within %d s: %s" % (seconds, what() if callable(what) else what))

    def application(self):
        desktop = self.atspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == self.pid:
                return app
        return None

    def all(self, role, root=None):
        """Every showing node of `role` (an AT-SPI role name) below `root`, in reading order."""
        found = []
        pending = [root or self.application()]
        while pending:
            node = pending.pop()
            if node is None or not node.getState().contains(self.atspi.STATE_SHOWING):
                continue
            if node.getRoleName() == role:
                found.append(node)
            pending.extend(node.getChildAtIndex(i) for i in reversed(range(node.childCount)))
        return found

    def named(self, role, name, root=None):
        return next((node for node in self.all(role, root) if node.name == name), None)

    def states(self, node):
        return {self.atspi.stateToString(state) for state in node.getState().getStates()}

    def press(self, node):
        action = node.queryAction()
        names = [action.getName(i).lower() for i in range(action.nActions)]
        check(any(name in PRESS for name in names), "%s %r has no press action: %s" % (node.getRoleName(), node.name, names))
        # A press that waits for a question it opens holds the reader until it times out.
        started = time.monotonic()
        try:
            action.doAction(next(i for i, name in enumerate(names) if name in PRESS))
        except Exception as error:
            raise Failure("pressing %r held the reader %.0f s: %s" % (node.name, time.monotonic() - started, error))


def describe(item):
    return "%r (%r)" % (item.name, item.description)


def focus_window(session, title):
    """Gives the X input focus to the window: no window manager does it under Xvfb."""
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", title, "windowfocus", "--sync"],
                   env=session.env, timeout=20, check=True, stdout=subprocess.DEVNULL)


def log_in(reader, session):
    dialog = reader.wait("the log-in dialog", lambda: reader.named("dialog", "Log in"))
    user = reader.named("text", "Username", dialog)
    password = reader.named("password text", "Password", dialog)
    check(user and password, "the log-in fields are not labelled: %s" %
          [(n.getRoleName(), n.name) for n in reader.all("text", dialog) + reader.all("password text", dialog)])
    for name in ("Log in", "Cancel"):
        check(reader.named("push button", name, dialog), "no %r button in the log-in dialog" % name)
    # A mistyped password: the refusal comes with the focus back on the field.
    focus_window(session, "^Log in$")
    user.queryEditableText().setTextContents("demo@sonvira.local")
    password.queryEditableText().setTextContents("wrong")
    reader.press(reader.named("push button", "Log in", dialog))
    reader.wait(lambda: "the refusal on the password field: %r %s" % (password.description, reader.states(password)),
                lambda: "Invalid username/password" in password.description
                and "focused" in reader.states(password) or None, 30)
    password.queryEditableText().setTextContents("demo")
    reader.press(reader.named("push button", "Log in", dialog))


def item_states(reader):
    """The queue list's items by name once one is running with a share shown."""
    queue = reader.named("list", "Queue")
    if queue is None:
        return None
    items = reader.all("list item", queue)
    running = [item for item in items if item.name.endswith(", Running")
               and re.search(r"^Progress: [1-9]\d* %$", item.description, re.M)]
    return (queue, items, running[0]) if running and len(items) == 3 else None


def check_item(reader, item):
    file_name, _, state = item.name.partition(", ")
    check(file_name in FILES and state, "list item named %s" % describe(item))
    buttons = reader.all("push button", item)
    check(len(buttons) == 3 and all(button.name for button in buttons),
          "%s: buttons %s" % (item.name, [b.name for b in buttons]))
    for button in buttons:
        action = button.queryAction()
        names = [action.getName(i).lower() for i in range(action.nActions)]
        check(any(name in PRESS for name in names), "%s: %r acts %s" % (item.name, button.name, names))


def check_running(reader, item):
    shown = int(re.search(r"^Progress: (\d+) %$", item.description, re.M).group(1))
    bars = reader.all("progress bar", item)
    check(len(bars) == 1, "%s: progress bars %d" % (item.name, len(bars)))
    value = bars[0].queryValue()
    check((value.minimumValue, value.maximumValue) == (0, 100), "%s: bar from %s to %s" %
          (item.name, value.minimumValue, value.maximumValue))
    # The bar may move on between the two reads, never back.
    check(value.currentValue >= shown, "%s: bar at %s, description says %d %%" % (item.name, value.currentValue, shown))


def cancel(reader, item):
    """Cancels a running file with its close button, answering the question."""
    file_name = item.name.partition(", ")[0]
    reader.press(reader.named("push button", "Cancel the processing of this file", item))
    question = reader.wait("the question whether to cancel", lambda: next(
        (box for box in reader.all("alert") + reader.all("dialog") if file_name in box.name + box.description
         or any(file_name in label.name for label in reader.all("label", box))), None), 20)
    reader.press(reader.named("push button", "Yes", question))
    reader.press(reader.wait(lambda: "the Error tab counting it: %s" % [tab.name for tab in reader.all("page tab")],
                             lambda: reader.named("page tab", "Error (1)"), 30))
    cancelled = reader.wait("the cancelled file in the Error list",
                            lambda: reader.all("list item", reader.named("list", "Files with errors"))[0], 20)
    check(cancelled.name.startswith(file_name + ", ") and "Error: Cancelled by the user" in cancelled.description,
          "cancelled item %s" % describe(cancelled))


def batch_text(reader):
    bar = reader.all("status bar")
    labels = reader.all("label", bar[0]) if bar else []
    return [label.name for label in labels]


def check_focus_moves(reader, session, items):
    """The arrow keys move the focus between the items, and it is announced."""
    focus_window(session, "^Sonvira desktop")
    first, second = items[0], items[1]
    reader.wait("the focus on the first item", lambda: first.queryComponent().grabFocus()
                and "focused" in reader.states(first) or None, 20)
    del reader.events[:]
    subprocess.run(["xdotool", "key", "Down"], env=session.env, timeout=20, check=True)
    reader.wait("the focus on %r after Down" % second.name, lambda: "focused" in reader.states(second) or None, 20)
    reader.wait("a focus event from %r" % second.name, lambda: next(
        (e for e in reader.events if e.type.startswith("object:state-changed:focused") and e.detail1 == 1
         and e.source.name == second.name), None), 20)


def run(session):
    folder = session.path("in")
    os.makedirs(folder)
    os.makedirs(session.path("out"))
    for number, name in enumerate(FILES):
        write_tone(os.path.join(folder, name), 2, 300 + 100 * number)
    session.start_service("--step-ms", "1500", "--workers", "1")
    session.write_config("""<?xml version="1.0" encoding="UTF-8"?>
<Settings>
    <showFirstTime_AddWatchFolderDialog>false</showFirstTime_AddWatchFolderDialog>
    <hideWhenClosed>false</hideWhenClosed>
    <apiURL>%s</apiURL>
    <ScanPath>
        <path>%s</path>
        <showDialog>false</showDialog>
        <preset>1: Speech -16 LUFS</preset>
        <outputPath>%s</outputPath>
        <outputSuffix>-done</outputSuffix>
        <enabled>true</enabled>
    </ScanPath>
</Settings>
""" % (session.url, folder, session.path("out")))
    session.start_client()
    os.environ.update({key: session.env[key] for key in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY")})
    reader = Reader(session.client.pid)
    reader.wait("the client on the AT-SPI bus", reader.application)
    log_in(reader, session)

    queue, items, running = reader.wait("a running file with its share", lambda: item_states(reader), 90)
    # "Item 2 of 3": each item knows its place in a list that counts them.
    check([item.getIndexInParent() for item in items] == [0, 1, 2] and queue.childCount == 3,
          "places in the queue list of %d: %s" % (queue.childCount, [item.getIndexInParent() for item in items]))
    for item in items:
        check_item(reader, item)
    check_running(reader, running)
    check(any(re.fullmatch(r"\d of 3 files, \d+ %.*", text) for text in batch_text(reader)),
          "status bar while the batch runs: %s" % batch_text(reader))
    waiting = [item for item in items if item.name.endswith(", Waiting")]
    check(len(waiting) == 2, "waiting items: %s" % [describe(item) for item in items])
    cancel(reader, running)
    queued = reader.all("list item", queue)
    check(len(queued) == 2, "queue after the cancel: %s" % [describe(item) for item in queued])
    check_focus_moves(reader, session, queued)

    # A waiting file's name follows it to Done, and says so; so does the
    # Done tab's count of the files finished since the last notice.
    last = queued[-1].name.partition(", ")[0]
    reader.wait(lambda: "the batch done in the status bar: %s" % batch_text(reader),
                lambda: "All 3 files done, 1 error" in batch_text(reader) or None, 120)
    changed = [(e.source.getRoleName(), e.source.name) for e in reader.events
               if e.type.startswith("object:property-change:accessible-name")]
    names = [name for role, name in changed if role == "list item" and name.startswith(last + ", ")]
    check(names and names[-1] == last + ", Done", "name changes of %s: %s" % (last, names))
    tabs = [name for role, name in changed if role == "page tab"]
    check(any(re.fullmatch(r"Done \(\d\)", name) for name in tabs), "name changes of the tabs: %s" % tabs)
    bars = [e for e in reader.events if e.type.startswith("object:property-change:accessible-value")
            and e.source.getRoleName() == "progress bar"]
    check(bars, "no progress bar told its value changed")
    reader.press(next(tab for tab in reader.all("page tab") if tab.name.startswith("Done")))
    done = reader.wait("the Done list", lambda: reader.all("list item", reader.named("list", "Done files")) or None)
    check(len(done) == 2, "Done list: %s" % [describe(item) for item in done])
    for item in done:
        check(not re.search(r"^Progress", item.description, re.M), "Done item %s" % describe(item))


def main():
    bin_dir = sys.argv[1]
    if importlib.util.find_spec("pyatspi") is None:
        print("SKIPPED: pyatspi is not installed for %s (scripts/install-deps installs python3-pyatspi)" % sys.executable)
        return SKIP
    launcher = find_program("at-spi-bus-launcher", ["/usr/libexec", "/usr/lib/at-spi2-core", "/usr/lib/at-spi2"])
    missing = [name for name in ("Xvfb", "dbus-daemon", "xdotool") if not find_program(name)]
    if launcher is None or missing:
        print("SKIPPED: %s not installed (scripts/install-deps installs at-spi2-core, dbus, xvfb and xdotool)"
              % ", ".join(missing + ([] if launcher else ["at-spi-bus-launcher"])))
        return SKIP
    session = Session(bin_dir)
    try:
        session.start_display()
        session.start_buses(launcher)
        run(session)
        print("PASS: the screen reader reads the log-in, the queue, its progress, the tabs and the batch")
        return 0
    except (Failure, RuntimeError) as failure:
        print("FAIL:", failure)
        print("---- client log (end) ----\n" + session.log("client.log")[-4000:])
        return 1
    finally:
        session.stop()


if __name__ == "__main__":
    sys.exit(main())

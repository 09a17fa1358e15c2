"""A desktop of its own for the real client, as a screen reader meets it on
Linux: an X server (Xvfb), a private D-Bus session bus with the AT-SPI bus
on it, the local reference service and the client with its own folders.
Nothing of the user's own desktop, buses or settings is touched."""

import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import wave

SKIP = 77


def find_program(name, folders=()):
    """A program on PATH or in one of `folders`; None when there is none."""
    found = shutil.which(name)
    if found:
        return found
    for folder in folders:
        path = os.path.join(folder, name)
        if os.access(path, os.X_OK):
            return path
    return None


def write_tone(path, seconds, frequency):
    """A 16-bit stereo 48 kHz sine tone at a third of full scale."""
    import math
    rate = 48000
    frames = bytearray()
    for i in range(int(seconds * rate)):
        value = int(10000 * math.sin(2 * math.pi * frequency * i / rate))
        sample = value.to_bytes(2, "little", signed=True)
        frames += sample + sample
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(bytes(frames))


def read_line(process, deadline, what):
    """The first line a child writes on its standard output."""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], 0.2)
        if ready:
            line = process.stdout.readline().decode().strip()
            if line:
                return line
        if process.poll() is not None:
            break
    raise RuntimeError(what + " did not start")


class Session:
    """Starts everything in `start()`; `stop()` ends it in reverse order."""

    def __init__(self, bin_dir):
        self.bin_dir = os.path.abspath(bin_dir)
        self.scratch = tempfile.mkdtemp(prefix="sonvira-atspi.")
        self.processes = []
        self.env = {key: value for key, value in os.environ.items()
                    if not key.startswith(("DBUS_", "WAYLAND_", "XDG_", "QT_", "AT_SPI"))}
        self.client = None
        self.url = None

    def path(self, *parts):
        return os.path.join(self.scratch, *parts)

    def spawn(self, arguments, log_name, **extra):
        log = open(self.path(log_name), "wb")
        process = subprocess.Popen(arguments, env=self.env, stderr=log, stdin=subprocess.DEVNULL,
                                   start_new_session=True, **extra)
        self.processes.append(process)
        return process

    def log(self, name):
        try:
            with open(self.path(name), errors="replace") as text:
                return text.read()
        except OSError:
            return "<missing>"

    def start_display(self):
        read_end, write_end = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                   "xvfb.log", stdout=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start: " + self.log("xvfb.log"))
        self.env["DISPLAY"] = ":" + number

    def start_buses(self, bus_launcher):
        runtime = self.path("runtime")
        os.makedirs(runtime, mode=0o700)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.env["HOME"] = self.path("home")
        os.makedirs(self.env["HOME"])
        bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"], "dbus.log",
                         stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = read_line(bus, time.monotonic() + 10, "dbus-daemon")
        self.spawn([bus_launcher, "--launch-immediately"], "at-spi-bus.log", stdout=subprocess.DEVNULL)
        # The AT-SPI bus asked for by the toolkit and by the reader alike.
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.env["QT_ACCESSIBILITY"] = "1"
        self.env["NO_AT_BRIDGE"] = "0"

    def start_service(self, *options):
        service = self.spawn([os.path.join(self.bin_dir, "sonvira-service"), "--port", "0",
                              "--data-dir", self.path("service")] + list(options),
                             "service.log", stdout=subprocess.PIPE)
        line = read_line(service, time.monotonic() + 20, "sonvira-service")
        self.url = line.removeprefix("Listening on ")

    def write_config(self, settings_xml, queue_xml=None):
        config = self.path("config", "Sonvira desktop")
        os.makedirs(config)
        with open(os.path.join(config, "settings.xml"), "w") as out:
            out.write(settings_xml)
        if queue_xml:
            with open(os.path.join(config, "queue.xml"), "w") as out:
                out.write(queue_xml)

    def start_client(self):
        work = self.path("work")
        os.makedirs(work, exist_ok=True)
        env = dict(self.env, XDG_CONFIG_HOME=self.path("config"), QT_QPA_PLATFORM="xcb")
        log = open(self.path("client.log"), "wb")
        self.client = subprocess.Popen([os.path.join(self.bin_dir, "sonvira-desktop")], cwd=work, env=env,
                                       stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                       start_new_session=True)
        self.processes.append(self.client)

    def stop(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
        shutil.rmtree(self.scratch, ignore_errors=True)

#!/usr/bin/env python3
"""Whole-process figures of Lumora's live video and start-up, each beside its yardstick.

Everything runs on one private X server (Xvfb), started and ended here:

  preview CPU   Lumora with its camera open on the test picture (640 x 480 at 30 frames a second,
                what it opens when the machine has no camera), against
                gst-launch-1.0 videotestsrc is-live=true ! video/x-raw,width=640,height=480,
                framerate=30/1 ! videoconvert ! ximagesink.
                CPU is utime + stime from /proc/<pid>/stat over a window of --seconds, after the video
                has run for --settle seconds; the X server's CPU over the same window is shown beside.
  start-up      from the program's start to its first window mapped (a MapNotify seen by an X client
                of this script), Lumora against build/anchor_window, a bare Qt main window with a menu
                bar and a table view.

The runs alternate (Lumora, yardstick, Lumora, ...) and the medians are printed with the ratio.
Lumora runs with HOME and the XDG folders in a temporary folder: no setting of the person running
this is read or written. Every process started here is ended and reaped on every way out.

    scripts/measure-preview.py                 # build/ as made by scripts/test.sh or scripts/run.sh
    scripts/measure-preview.py --runs 7 --seconds 10 --build build
"""

import argparse
import ctypes
import ctypes.util
import glob
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

TICKS = os.sysconf("SC_CLK_TCK")
MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
ANCHOR_PIPELINE = [
    "gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "!",
    "video/x-raw,width=640,height=480,framerate=30/1", "!", "videoconvert", "!", "ximagesink",
]


def cpu_seconds(pid):
    """utime + stime of a process (all its threads), in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class XServer:
    """A private Xvfb and one client connection that sees top-level windows being mapped."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1366x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        ready, _, _ = select.select([read_end], [], [], 10)
        while ready:
            chunk = os.read(read_end, 16)
            number += chunk
            if not chunk or number.endswith(b"\n"):
                break
        os.close(read_end)
        if not number.strip():
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XPending.argtypes = [ctypes.c_void_p]
        x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.conn = x11.XOpenDisplay(self.display.encode())
        if not self.conn:
            self.close()
            raise RuntimeError("cannot connect to " + self.display)
        x11.XSelectInput(self.conn, x11.XDefaultRootWindow(self.conn), SUBSTRUCTURE_NOTIFY_MASK)
        x11.XFlush(self.conn)
        self.fd = x11.XConnectionNumber(self.conn)
        self.event = ctypes.create_string_buffer(256)  # an XEvent; its type is the first int

    def drain(self):
        while self.x11.XPending(self.conn):
            self.x11.XNextEvent(self.conn, self.event)

    def wait_for_map(self, timeout):
        """The monotonic time at which the next top-level window was mapped, or None."""
        deadline = time.monotonic() + timeout
        while True:
            while self.x11.XPending(self.conn):
                self.x11.XNextEvent(self.conn, self.event)
                if ctypes.c_int.from_buffer(self.event).value == MAP_NOTIFY:
                    return time.monotonic()
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            select.select([self.fd], [], [], left)

    def close(self):
        if getattr(self, "conn", None):
            self.x11.XCloseDisplay(self.conn)
            self.conn = None
        stop(self.proc)


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Runner:
    def __init__(self, args, server, home):
        self.args = args
        self.server = server
        self.env = dict(os.environ, DISPLAY=server.display, QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8",
                        HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                        XDG_CACHE_HOME=os.path.join(home, "cache"), XDG_DATA_HOME=os.path.join(home, "data"),
                        XDG_STATE_HOME=os.path.join(home, "state"), GST_DEBUG="0")
        self.env.pop("WAYLAND_DISPLAY", None)
        self.lumora = os.path.join(args.build, "lumora")
        self.anchor = os.path.join(args.build, "anchor_window")

    def start(self, command):
        self.server.drain()
        began = time.monotonic()
        proc = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            mapped = self.server.wait_for_map(30)
            if mapped is None:
                raise RuntimeError(f"{command[0]} showed no window")
        except BaseException:
            stop(proc)
            raise
        return proc, (mapped - began) * 1000

    def startup(self, command):
        proc, ms = self.start(command)
        stop(proc)
        return ms

    def preview_cpu(self, command, after_map=None):
        """Per cent of one core of the process and of the X server over the window."""
        proc, _ = self.start(command)
        try:
            if after_map:
                after_map(proc.pid)
            time.sleep(self.args.settle)
            if proc.poll() is not None:
                raise RuntimeError(f"{command[0]} ended early")
            t0, own0, x0 = time.monotonic(), cpu_seconds(proc.pid), cpu_seconds(self.server.proc.pid)
            time.sleep(self.args.seconds)
            t1, own1, x1 = time.monotonic(), cpu_seconds(proc.pid), cpu_seconds(self.server.proc.pid)
            if proc.poll() is not None:
                raise RuntimeError(f"{command[0]} ended early")
        finally:
            stop(proc)
        return 100 * (own1 - own0) / (t1 - t0), 100 * (x1 - x0) / (t1 - t0)

    def open_camera(self, pid):
        # 照相(&Z) → 打开摄像头(&O), typed as the operator would, into the
        # window given the focus (there is no window manager to give it).
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(pid)],
                               env=self.env, check=True, capture_output=True, text=True, timeout=20)
        window = found.stdout.split()[0]
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=self.env, check=True, timeout=20)
        subprocess.run(["xdotool", "key", "--delay", "150", "alt+z", "o"], env=self.env, check=True, timeout=20)


def row(name, ours, anchor, unit):
    a, b = statistics.median(ours), statistics.median(anchor)
    ratio = a / b if b else float("inf")
    print(f"| {name} | {a:.1f} {unit} | {b:.1f} {unit} | {ratio:.2f} |")
    return a, b


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build", help="the build folder (default: build)")
    parser.add_argument("--runs", type=int, default=5, help="runs of each program (default: 5)")
    parser.add_argument("--seconds", type=float, default=10, help="CPU window of each preview run (default: 10)")
    parser.add_argument("--settle", type=float, default=2, help="video run before the window (default: 2)")
    parser.add_argument("--only", choices=["preview", "startup"], help="measure one of the two")
    args = parser.parse_args()

    for tool in ("Xvfb", "xdotool", "gst-launch-1.0"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing (scripts/deps.sh installs it)")
    for program in ("lumora", "anchor_window"):
        if not os.access(os.path.join(args.build, program), os.X_OK):
            sys.exit(f"{args.build}/{program} is missing: cmake --build {args.build} --target lumora anchor_window")
    if glob.glob("/dev/video*"):
        print("note: this machine has a video device; Lumora opens it instead of the test picture",
              file=sys.stderr)

    server = XServer()
    home = tempfile.mkdtemp(prefix="lumora-measure-")
    try:
        for sub in ("config", "cache", "data", "state"):
            os.makedirs(os.path.join(home, sub))
        r = Runner(args, server, home)
        print(f"| path | Lumora | yardstick | ratio |")
        print(f"|---|---|---|---|")
        if args.only != "startup":
            ours, theirs = [], []
            for _ in range(args.runs):
                ours.append(r.preview_cpu([r.lumora], r.open_camera))
                theirs.append(r.preview_cpu(ANCHOR_PIPELINE))
            row("preview CPU, % of a core", [o for o, _ in ours], [t for t, _ in theirs], "%")
            row("preview CPU with the X server's share", [o + x for o, x in ours], [t + x for t, x in theirs], "%")
        if args.only != "preview":
            ours, theirs = [], []
            for _ in range(args.runs):
                ours.append(r.startup([r.lumora]))
                theirs.append(r.startup([r.anchor]))
            row("start-up to the window mapped", ours, theirs, "ms")
    finally:
        server.close()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    main()

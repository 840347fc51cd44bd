#!/usr/bin/env python3
"""A stimulation protocol run from Python through kinestim-console (standard library only).

Direct mode, electrode 1 at +1.00 mA for one second, back to 0 mA, Idle. The console prints
one JSON object per line (--json); this program reads them as events and waits on them before
each next step, then checks the console's exit status.

    examples/protocol.py /dev/ttyUSB0     on a real device
    examples/protocol.py --simulate       against the simulator

The console is $KINESTIM_CONSOLE, else the one built in this checkout, else the one on PATH.
"""
import json
import os
import queue
import subprocess
import sys
import threading
import time


def console_program():
    built = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "native-release", "bin",
                         "kinestim-console")
    return os.environ.get("KINESTIM_CONSOLE") or (built if os.access(built, os.X_OK) else "kinestim-console")


class Console:
    """kinestim-console with its events on a queue, read by a thread as they come."""

    def __init__(self, arguments):
        self.process = subprocess.Popen([console_program(), "--json", "--expanded"] + arguments,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.events = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.events.put(json.loads(line))
        self.events.put(None)   # the console has ended

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def wait_for(self, timeout=5.0, **fields):
        """The first event from now on whose fields have these values."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                event = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise TimeoutError("no event with %s within %g s" % (fields, timeout))
            if event is None:
                raise RuntimeError("the console ended while waiting for %s" % fields)
            if event["kind"] in ("warning", "refused", "fatal"):
                print("console %s: %s" % (event["kind"], event["text"]), file=sys.stderr)
            if all(event.get(name) == value for name, value in fields.items()):
                return event

    def finish(self):
        self.send(":quit")
        self.process.stdin.close()
        return self.process.wait(timeout=30)


def run(arguments):
    console = Console(arguments)
    try:
        console.wait_for(kind="mode", mode="Idle", timeout=15)   # the device has answered
        console.send("2")
        console.wait_for(kind="mode", mode="Direct")
        console.send(":slider 1 178")
        sent = console.wait_for(kind="sent", name="cdgSetElectrode")
        console.wait_for(kind="received", name="mdgCmdAccepted")
        print("electrode 1 at +1.00 mA: sent %s at %d ms" % (sent["bytes"], sent["t"]))
        time.sleep(1.0)
        console.send(":slider 1 128")
        sent = console.wait_for(kind="sent", name="cdgSetElectrode")
        console.wait_for(kind="received", name="mdgCmdAccepted")
        print("electrode 1 at 0 mA: sent %s at %d ms" % (sent["bytes"], sent["t"]))
        console.send(":idle")
        console.wait_for(kind="mode", mode="Idle")
    except (TimeoutError, RuntimeError) as failure:
        print("protocol.py: %s" % failure, file=sys.stderr)
        console.process.kill()
        console.process.wait()
        return 1
    status = console.finish()
    if status != 0:
        print("protocol.py: the console ended with status %d" % status, file=sys.stderr)
    return status


if __name__ == "__main__":
    sys.exit(run(sys.argv[1:]))

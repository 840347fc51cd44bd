#!/usr/bin/env python3
# Plays the device for win32_link_tests under Wine: maps COM1 to a pseudo-terminal in the
# run's Wine prefix, runs the test program, checks each frame it sends and answers it.
import os
import select
import subprocess
import sys
import tempfile
import time
import tty

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
FRAME_WAIT_S = 60  # Wine's first start in a prefix can take a while
RUN_LIMIT_S = 120

# (frame the program must send, bytes the device answers with)
EXCHANGES = [
    ("AA 01 01 01 55", "13 AA 03 23 05 00 28 55"),  # cdgInit: a stray byte, then an answer
    ("AA 03 09 01 80 8A 55", "AA 03 09"),  # cdgSetElectrode: a frame that stalls
    ("AA 01 01 01 55", "AA 01 03 03 55"),  # cdgInit on the port opened by name
]


def fail(text):
    sys.exit("wine_link_device: " + text)


def map_com1(wine, env, path):
    # The registry entry survives a restart of Wine's services; the device link takes effect
    # at once even while another program keeps the server running.
    subprocess.run([wine, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/d", path, "/f"],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=FRAME_WAIT_S, check=True)
    subprocess.run(["wineserver", "-w"], env=env, timeout=FRAME_WAIT_S)
    subprocess.run(["ln", "-sfn", path, os.path.join(env["WINEPREFIX"], "dosdevices", "com1")], check=True)


def read_frame(master, program):
    """One frame (SOT, L, L bytes, checksum, EOT), or what came before the wait ended."""
    got, deadline = b"", time.monotonic() + FRAME_WAIT_S
    while (len(got) < 2 or len(got) < got[1] + 4) and time.monotonic() < deadline and program.poll() is None:
        if select.select([master], [], [], 0.2)[0]:
            got += os.read(master, 1)
    return " ".join("%02X" % b for b in got)


def run_exchanges(wine, env, exe):
    master, slave = os.openpty()
    tty.setraw(slave)
    map_com1(wine, env, os.ttyname(slave))
    program = subprocess.Popen([wine, exe], env=env)
    try:
        for step, (expected, answer) in enumerate(EXCHANGES, 1):
            frame = read_frame(master, program)
            if frame != expected:
                fail("step %d: program sent [%s], expected [%s]" % (step, frame, expected))
            os.write(master, bytes.fromhex(answer))
        status = program.wait(timeout=RUN_LIMIT_S)
    except subprocess.TimeoutExpired:
        fail("test program did not finish")
    finally:
        if program.poll() is None:
            program.kill()
        # Wine's server may hold the terminal as its controlling one: closing the device end
        # before it has gone would send it a hang-up.
        try:
            subprocess.run(["wineserver", "-w"], env=env, timeout=FRAME_WAIT_S)
        except subprocess.TimeoutExpired:
            pass
        os.close(master)
        os.close(slave)
    if status != 0:
        fail("test program failed with status %d" % status)


def main():
    exe = sys.argv[1]
    # The loader for the program's architecture; 77: this machine cannot run it (skipped).
    loader = subprocess.run(["bash", os.path.join(SCRIPTS, "wine-run.sh"), "--loader", exe],
                            stdout=subprocess.PIPE, text=True)
    if loader.returncode != 0:
        sys.exit(loader.returncode)
    wine = loader.stdout.strip()
    env = dict(os.environ, WINEDEBUG="-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    own_prefix = None if env.get("WINEPREFIX") else tempfile.mkdtemp(prefix="kinestim-wine.")
    if own_prefix:
        env["WINEPREFIX"] = own_prefix
        arch = "win64" if wine.endswith("64") else "win32"
        subprocess.run(["bash", os.path.join(SCRIPTS, "wine-prefix.sh"), own_prefix, arch], env=env, check=True)
    try:
        refused = subprocess.run([wine, exe, "--open", "10000"], env=env, capture_output=True, text=True,
                                 timeout=RUN_LIMIT_S)
        if refused.returncode != 1 or "[Fatal Error!] Failed to open communications port (style 0x1030)" not in refused.stderr:
            fail("port 10000: status %d, output %r" % (refused.returncode, refused.stdout + refused.stderr))
        run_exchanges(wine, env, exe)
    finally:
        if own_prefix:
            subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
            subprocess.run(["rm", "-rf", own_prefix])


if __name__ == "__main__":
    main()

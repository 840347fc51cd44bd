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

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.join(HERE, "..", "..", "scripts")
WINE_RUN = os.path.join(SCRIPTS, "wine-run.sh")
WINE = "wine"          # replaced by the loader for the program's architecture
FRAME_WAIT_S = 60      # Wine's first start in a prefix can take a while
RUN_LIMIT_S = 120

# (frame the program must send, bytes the device answers with)
EXCHANGES = [
    ("AA 01 01 01 55", "13 AA 03 23 05 00 28 55 AA 01 00 01 55 AA 00 00 55"),  # cdgInit
    ("AA 03 09 01 80 8A 55", "AA 03 09"),                                       # stalls
    ("AA 01 00 00 55", "AA 01 02 02 55"),                                       # cdgNOP
    ("AA 01 01 01 55", "AA 01 03 03 55"),                                       # by name
]


def fail(text):
    print("wine_link_device: " + text, file=sys.stderr)
    sys.exit(1)


def wine_loader(exe):
    """The Wine loader for the program's architecture (32-bit PE32 or 64-bit PE32+)."""
    run = subprocess.run(["bash", WINE_RUN, "--loader", exe], stdout=subprocess.PIPE, text=True)
    if run.returncode != 0:
        sys.exit(run.returncode)  # 77: this machine cannot run it (the test is skipped)
    return run.stdout.strip()


def wine_env():
    env = dict(os.environ, WINEDEBUG="-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    return env


def map_com1(env, path):
    """Points COM1 at path: the registry entry survives a restart of Wine's services, the
    device link takes effect at once even while another program keeps the server running."""
    subprocess.run([WINE, "reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM1", "/d", path,
                    "/f"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=FRAME_WAIT_S, check=True)
    subprocess.run(["wineserver", "-w"], env=env, timeout=FRAME_WAIT_S)
    link = os.path.join(env["WINEPREFIX"], "dosdevices", "com1")
    fresh = link + ".new"
    if os.path.lexists(fresh):
        os.unlink(fresh)
    os.symlink(path, fresh)
    os.replace(fresh, link)


def read_frame(master, deadline, program):
    """Reads one frame (SOT, L, L bytes, checksum, EOT), or what came before the deadline or
    before the program ended."""
    got = b""
    while len(got) < 2 or len(got) < got[1] + 4:
        left = deadline - time.monotonic()
        if left <= 0 or program.poll() is not None:
            break
        ready, _, _ = select.select([master], [], [], min(left, 0.2))
        if ready:
            chunk = os.read(master, 1)
            if not chunk:
                break
            got += chunk
    return " ".join("%02X" % b for b in got)


def run_exchanges(env, exe):
    master, slave = os.openpty()
    tty.setraw(slave)
    path = os.ttyname(slave)
    map_com1(env, path)
    program = subprocess.Popen([WINE, exe], env=env)
    try:
        for step, (expected, answer) in enumerate(EXCHANGES, 1):
            frame = read_frame(master, time.monotonic() + FRAME_WAIT_S, program)
            if frame != expected:
                fail("step %d: program sent [%s], expected [%s]" % (step, frame, expected))
            os.write(master, bytes.fromhex(answer))
        status = program.wait(timeout=RUN_LIMIT_S)
    except subprocess.TimeoutExpired:
        fail("test program did not finish")
    finally:
        if program.poll() is None:
            program.kill()
        # Wine's server may hold the terminal as its controlling one; closing the device end
        # before it has gone would send it a hang-up.
        try:
            subprocess.run(["wineserver", "-w"], env=env, timeout=FRAME_WAIT_S)
        except subprocess.TimeoutExpired:
            pass
        os.close(master)
        os.close(slave)
    if status != 0:
        fail("test program failed with status %d" % status)


def check_refused_number(env, exe):
    run = subprocess.run([WINE, exe, "--open", "10000"], env=env, capture_output=True, text=True,
                         timeout=RUN_LIMIT_S)
    wanted = "[Fatal Error!] Failed to open communications port (style 0x1030)"
    if run.returncode != 1 or wanted not in run.stderr:
        fail("port 10000: status %d, output %r" % (run.returncode, run.stdout + run.stderr))


def main():
    if len(sys.argv) != 2:
        fail("usage: wine_link_device.py win32_link_tests.exe")
    exe = sys.argv[1]
    global WINE
    WINE = wine_loader(exe)
    env = wine_env()
    own_prefix = None
    if not env.get("WINEPREFIX"):
        own_prefix = tempfile.mkdtemp(prefix="kinestim-wine.")
        env["WINEPREFIX"] = own_prefix
        arch = "win64" if WINE.endswith("64") else "win32"
        subprocess.run(["bash", os.path.join(SCRIPTS, "wine-prefix.sh"), own_prefix, arch],
                       env=env, check=True)
    try:
        check_refused_number(env, exe)
        run_exchanges(env, exe)
    finally:
        if own_prefix:
            subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
            subprocess.run(["rm", "-rf", own_prefix])
    print("wine_link_device: all exchanges as expected")


if __name__ == "__main__":
    main()

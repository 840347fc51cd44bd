#!/usr/bin/env python3
"""GUI benchmark: the real kinestim-host.exe under Wine against kinestim-sim at 9600 baud.

    bench-gui.py HOST_EXE SIM [SECONDS [PRESSES]]

Streams back-to-back mdgTilt frames at line rate (73.8 a second) for SECONDS (default 30)
with the traffic log open, presses Ctrl+D (Select Mode Direct) PRESSES times (default 12)
during the stream, and prints key=value lines:
  gui_frames_sent, gui_frames_handled_in_stream, gui_handled_per_s, gui_line_per_s,
  gui_drain_ms (last frame on the line to its traffic log line), gui_cpu_percent,
  gui_latency_p50_ms, gui_latency_max_ms, gui_presses, gui_presses_lost.
A press's latency runs from the key event (xdotool returned) to the last byte of its frame
read by the simulator. Timings are reported, never judged."""
import os, re, shutil, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
BYTE_MS = 10000.0 / 9600.0
TILT_FRAME = 13


def now_ms():
    return time.monotonic() * 1000.0


def note(text):
    print("bench-gui: " + text, file=sys.stderr, flush=True)


def wait_for(cond, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        got = cond()
        if got:
            return got
        time.sleep(0.02)
    raise RuntimeError("timed out waiting for " + what)


class Rig:
    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="kinestim-bench-gui.")
        self.procs = []
        self.env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")

    def start(self, exe, sim):
        self.loader = subprocess.check_output(["bash", HERE + "/wine-run.sh", "--loader", exe], text=True).strip()
        arch = "win64" if self.loader.endswith("64") else "win32"
        prefix = self.work + "/prefix"
        subprocess.check_call(["bash", HERE + "/wine-prefix.sh", prefix, arch], stdout=subprocess.DEVNULL)
        self.env["WINEPREFIX"] = prefix
        rfd, wfd = os.pipe()
        self.procs.append(subprocess.Popen(["Xvfb", "-displayfd", str(wfd), "-screen", "0", "1024x768x24",
                                            "-nolisten", "tcp"], pass_fds=(wfd,), stderr=subprocess.DEVNULL))
        os.close(wfd)
        self.env["DISPLAY"] = ":" + os.read(rfd, 16).decode().strip()
        self.display_pipe = rfd  # kept open: the server ends when it cannot write to it
        com1 = self.work + "/com1"
        for key, name, value in ((r"HKLM\Software\Wine\Ports", "COM1", com1),
                                 (r"HKCU\Software\Wine\X11 Driver", "Managed", "N")):
            subprocess.run([self.loader, "reg", "add", key, "/v", name, "/d", value, "/f"], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env)
        link = prefix + "/dosdevices/com1"  # Wine may have made it from the registry already
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(com1, link)
        self.transcript = self.work + "/transcript.txt"
        self.wire = self.work + "/wire.txt"
        control = self.work + "/control"
        os.mkfifo(control)
        self.sim = subprocess.Popen([sim, "--baud", "9600", "--transcript", self.transcript, "--wire-log", self.wire,
                                     "--link", com1], stdin=os.open(control, os.O_RDWR), stdout=subprocess.DEVNULL)
        self.procs.append(self.sim)
        self.control = open(control, "w")
        wait_for(lambda: os.path.exists(com1), 10, "the simulator's port")
        subprocess.Popen(["wineserver", "-p"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.host = subprocess.Popen([self.loader, exe, "1"], env=self.env, stdout=subprocess.DEVNULL,
                                     stderr=open(self.work + "/host-err.txt", "w"))
        self.procs.append(self.host)
        self.window = wait_for(lambda: self.find("Kinestim Host"), 60, "the main window")

    def find(self, name):
        r = subprocess.run(["xdotool", "search", "--name", "^%s$" % name], env=self.env, capture_output=True, text=True)
        return r.stdout.split()[0] if r.stdout.split() else None

    def xdo(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env, check=True)

    def focus(self, window):
        """Focuses a window once it can take the focus (a new one is mapped a moment later)."""
        wait_for(lambda: subprocess.run(["xdotool", "windowfocus", "--sync", window], env=self.env,
                                        stderr=subprocess.DEVNULL).returncode == 0, 20, "window " + window)

    def sim_line(self, text):
        self.control.write(text + "\n")
        self.control.flush()

    def transcript_has(self, pattern):
        with open(self.transcript) as f:
            return re.search(pattern, f.read(), re.M)

    def close(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.kill()
                p.wait()
        if "WINEPREFIX" in self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.work, ignore_errors=True)


def read_wire(path, direction):
    """(time_ms, byte) for every byte in one direction of the wire log."""
    out = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) > 2 and parts[1] == direction:
                t = float(parts[0])
                out.extend((t, int(b, 16)) for b in parts[2:])
    return out


def frame_times(stream, frame):
    """Times of the last byte of each occurrence of frame in the byte stream."""
    data = bytes(b for _, b in stream)
    times, at = [], data.find(frame)
    while at >= 0:
        times.append(stream[at + len(frame) - 1][0])
        at = data.find(frame, at + 1)
    return times


def tilt_frame(base, offsets):
    frame = [0xAA, 9, 0x32]
    for k in range(4):
        edge = base + offsets[k]
        frame += [edge & 0xFF, edge >> 8]
    frame += [sum(frame[2:]) & 0xFF, 0x55]
    return frame


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def main():
    exe, sim = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 30.0
    presses = int(sys.argv[4]) if len(sys.argv) > 4 else 12
    rig = Rig()
    try:
        rig.start(exe, sim)
        run(rig, seconds, presses)
    except Exception:
        for name in ("host-err.txt", "transcript.txt"):
            if os.path.exists(rig.work + "/" + name):
                note(name + ":\n" + open(rig.work + "/" + name, errors="replace").read()[-2000:])
        raise
    finally:
        rig.close()


def run(rig, seconds, presses):
    rig.sim_line("power-cycle")
    wait_for(lambda: rig.transcript_has(r"< 0b mdgEnteredModeIdle"), 30, "power-on")
    time.sleep(1)
    rig.focus(rig.window)
    # The traffic log, through File > Log ... and its Save As dialog.
    log = rig.work + "/traffic.log"
    rig.xdo("key", "alt+f", "l")
    save = wait_for(lambda: rig.find("Save As"), 20, "the Save As dialog")
    rig.focus(save)
    rig.xdo("type", "--delay", "20", "Z:" + log.replace("/", "\\"))
    rig.xdo("key", "Return")
    wait_for(lambda: os.path.exists(log), 20, "the traffic log")
    rig.focus(rig.window)
    rig.xdo("key", "alt+t")
    m = wait_for(lambda: rig.transcript_has(r"< 32((?: [0-9a-f]{2}){8}) mdgTilt"), 20, "a tilt reading")
    p = [int(b, 16) for b in m.group(1).split()]
    edges = [p[2 * k] | p[2 * k + 1] << 8 for k in range(4)]
    offsets = [e - edges[0] for e in edges]
    span = max(offsets)
    time.sleep(1)

    def logged():
        with open(log, "rb") as f:
            return f.read().count(b"\t\t\t32 mdgTilt")
    before = logged()
    frame_ms = TILT_FRAME * BYTE_MS
    total = int(seconds * 1000.0 / frame_ms)
    cpu0, start = cpu_ticks(rig.host.pid), now_ms()
    queued, pressed = 0, []
    press_every = seconds * 1000.0 * 0.8 / presses
    while queued < total or len(pressed) < presses:
        t = now_ms() - start
        target = min(total, int(t / frame_ms) + 40)
        while queued < target:
            line = "garbage"
            for _ in range(19):
                if queued >= target:
                    break
                base = (queued * 37) % (65535 - span)
                line += "".join(" %.2x" % b for b in tilt_frame(base, offsets))
                queued += 1
            rig.sim_line(line)
        if len(pressed) < presses and t > 2000 + len(pressed) * press_every:
            rig.xdo("key", "ctrl+d")
            pressed.append(now_ms())
        if queued >= total and len(pressed) >= presses:
            break
        time.sleep(0.01)
    # The stream has ended when the transcript (written as it happens) holds every frame.
    def stream_ended():
        with open(rig.transcript) as f:
            return sum(line.count("aa 09 32") for line in f if " < " in line) >= total
    wait_for(stream_ended, seconds + 120, "the end of the stream")
    handled_at_end = logged() - before
    cpu1, cpu_ms = cpu_ticks(rig.host.pid), now_ms()
    drained = None
    try:
        wait_for(lambda: logged() - before >= total, 120, "the host to handle every frame")
        drained = now_ms()
    except RuntimeError as e:
        note(str(e))
    if drained is None:
        print("gui_frames_handled=%d" % (logged() - before))
    # The wire log is complete once the simulator has ended.
    rig.sim_line("quit")
    rig.sim.wait(30)
    sent = read_wire(rig.wire, "<")
    end = frame_times([x for x in sent if x[0] >= start], b"\xaa\x09\x32")[-1] + (TILT_FRAME - 3) * BYTE_MS
    # Each press's frame: the n-th cdgSelectModeDirect read after the stream began (the device
    # accepts it again in Direct, so every press sends one).
    got = frame_times([x for x in read_wire(rig.wire, ">") if x[0] >= start], b"\xaa\x01\x02\x02\x55")
    latencies = [g - p for p, g in zip(pressed, got)]
    hz = os.sysconf("SC_CLK_TCK")
    print("gui_seconds=%.1f" % ((end - start) / 1000.0))
    print("gui_frames_sent=%d" % total)
    print("gui_frames_handled_in_stream=%d" % handled_at_end)
    print("gui_line_per_s=%.1f" % (1000.0 / frame_ms))
    print("gui_handled_per_s=%.1f" % (handled_at_end * 1000.0 / (end - start)))
    print("gui_drain_ms=%s" % ("%.0f" % (drained - end) if drained else "n/a"))
    print("gui_cpu_percent=%.1f" % ((cpu1 - cpu0) * 100000.0 / hz / (cpu_ms - start)))
    print("gui_presses=%d" % len(pressed))
    print("gui_presses_lost=%d" % (len(pressed) - len(got)))
    if latencies:
        latencies.sort()
        print("gui_latency_p50_ms=%.0f" % latencies[len(latencies) // 2])
        print("gui_latency_max_ms=%.0f" % latencies[-1])


if __name__ == "__main__":
    main()

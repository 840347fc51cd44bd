#!/usr/bin/env python3
"""kinestim-console driven as a program drives it: input piped in one block (batch mode), exit
statuses, :wait and the --json lines, and the two examples; each run against its own
kinestim-sim, whose transcript shows what reached the device."""
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import unittest

BIN = os.environ["KINESTIM_BIN_DIR"]
SOURCE = os.environ["KINESTIM_SOURCE_DIR"]
CONSOLE = os.path.join(BIN, "kinestim-console")

PROTOCOL = ("2\n:wait mode Direct\n:slider 1 178\n:sleep 1000\n:slider 1 128\n:idle\n"
            ":wait mode Idle\n:quit\n")
PROTOCOL_FRAMES = ["02 cdgSelectModeDirect", "09 01 b2 cdgSetElectrode", "09 01 80 cdgSetElectrode", "03 cdgDeselectModeDirect"]


class Simulator:
    """kinestim-sim on a pseudo-terminal with a transcript; its frames as "<hex> <name>"."""

    def __init__(self, *options):
        self.folder = tempfile.TemporaryDirectory()
        self.transcript = os.path.join(self.folder.name, "transcript.txt")
        self.process = subprocess.Popen([os.path.join(BIN, "kinestim-sim"), "--transcript", self.transcript, *options],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip().removeprefix("port: ")

    def sent(self):
        with open(self.transcript) as lines:
            return [m.group(1) for m in map(re.compile(r"^ *[0-9]+\.[0-9] > (.*)$").match, lines) if m]

    def close(self, wanted=()):
        """The frames the host sent, once those wanted are in (5 s at most); then ends the simulator."""
        deadline = time.monotonic() + 5
        while not set(wanted) <= set(self.sent()) and time.monotonic() < deadline:
            time.sleep(0.02)
        self.process.communicate("quit\n", timeout=10)
        sent = self.sent()
        self.folder.cleanup()
        return sent


def run(script, options=(), sim_options=(), wanted=(), program=CONSOLE):
    """Pipes the whole script into the program (the console, or an example that runs it) at once; the exit
    status, the output and the frames sent."""
    sim = Simulator(*sim_options)
    try:
        done = subprocess.run([program, sim.port, *options], input=script.encode("utf-8", "surrogateescape"),
                              capture_output=True, timeout=60, env=dict(os.environ, KINESTIM_CONSOLE=CONSOLE))
    finally:
        sent = sim.close(wanted)
    return done.returncode, done.stdout.decode("utf-8", "replace"), sent, sim.port


class Batch(unittest.TestCase):
    def test_table(self):
        warning = 'Warning: Command must be a number from 0 to 9999, not "0x"'
        rows = [
            # (what, options, script, status, shown, frames sent in this order, frames never sent)
            ("the protocol in one block", [], PROTOCOL, 0, ["mode: Direct"], PROTOCOL_FRAMES, []),
            ("a Warning does not take the next line", [], "0x\n2\n:wait mode Direct\n:slider 1 178\n:idle\n", 4,
             [warning], ["02 cdgSelectModeDirect", "09 01 b2 cdgSetElectrode", "03 cdgDeselectModeDirect"], []),
            ("a refused line", [], ":slider 1 178\n:quit\n", 4, ["Electrode 1 slider is disabled"], [], ["09 01 b2"]),
            ("--stop-on-warning reads nothing after it", ["--stop-on-warning"], "0x\n2\n", 4, [warning], [], ["02"]),
            ("a mode wait times out and input stops", [], ":wait mode Direct 0.5\n2\n", 3,
             ["Timed out after 0.5 s waiting for mode Direct; the mode field shows Idle"], [], ["02"]),
            ("a time-out comes before a Warning", [], "0x\n:wait mode Run Scr 0.3\n", 3,
             ["waiting for mode Run Scr;"], [], []),
            ("a line printed while the line ahead ran counts", [], "2\n:sleep 300\n:wait ^mode: Direct$ 2\n:idle\n", 0,
             [], ["02 cdgSelectModeDirect", "03 cdgDeselectModeDirect"], []),
            ("a line printed before the line ahead does not", [], "2\n:wait mode Direct\n:sleep 100\n:wait ^mode: Direct$ 0.4\n",
             3, ['waiting for a line matching ^mode: Direct$; the last line was "'], [], []),
            ("usage error: two time forms", ["--json", "--timestamps"], ":quit\n", 2, [], [], []),
        ]
        for what, options, script, status, shown, frames, never in rows:
            with self.subTest(what):
                got, output, sent, _ = run(script, options, wanted=frames)
                self.assertEqual(got, status, output)
                for text in shown:
                    self.assertIn(text, output)
                self.assertEqual([f for f in sent if f in frames], frames, output)
                self.assertEqual([f for f in sent for n in never if f.startswith(n)], [], sent)

    def test_no_answer_from_the_device_ends_with_status_1(self):
        status, output, sent, port = run("2\n", sim_options=["--power-on-delay", "60000"])
        self.assertEqual((status, output.splitlines()[-1]), (1, "No answer from the device on " + port))
        self.assertEqual(sent, ["08 cdgDldMode"])   # the start-up question, which changes nothing


def plain_form(event, answer):
    """The plain line an event stands for, written out here from the plain output's forms."""
    kind = event["kind"]
    on = {True: "enabled", False: "disabled"}
    if kind in ("mode", "fault"):
        return "%s: %s" % (kind, event[kind])
    if kind == "electrode":
        if event["changed"] == "enabled":
            return "electrode %d: %s" % (event["n"], on[event["enabled"]])
        if event["current"] in ("?", "script"):   # a current the console cannot give
            return "electrode %d: %d (%s)" % (event["n"], event["n"], event["current"])
        assert abs(event["current"] - (event["code"] - 128) * 0.02) < 0.005, event
        return "electrode %d: %d (%+5.2f)" % (event["n"], event["n"], event["current"])
    if kind in ("run-button", "local-control"):
        state = event.get("caption") or on.get(event.get("enabled")) or {True: "checked", False: "cleared"}[event["checked"]]
        return "%s: %s" % (kind.replace("-", " "), state)
    if kind in ("sent", "received"):
        first, *rest = event["bytes"].split()
        return "%s: %s %s" % (kind, first, event["name"]) + "".join((" %s" if kind == "sent" else " <%s>") % b for b in rest)
    forms = {"status": "status: {text}", "script": "script: {status}", "warning": "Warning: {text}",
             "show": "{field}: {value}", "prompt": "{text}", "refused": "{text}", "text": "{text}",
             "wait-timeout": "Timed out after {seconds} s waiting for {awaited}; {seen}"}
    return forms[kind].format(**event) + answer


class Json(unittest.TestCase):
    def test_json_lines_carry_what_the_plain_lines_say(self):
        script = ('0x\n2\n:wait mode Direct\n:slider 1 178\n:slider 9 1\n9\n2\n200\n:show\n'
                  ':slider 1 "q\\\x01\udcff\n:idle\n:wait mode Idle\n:wait mode Direct 0.2\n')
        status, plain, _, _ = run(script, ["--expanded"])
        json_status, output, _, _ = run(script, ["--expanded", "--json"])
        self.assertEqual((status, json_status), (3, 3))
        events = [json.loads(line) for line in output.splitlines()]
        times = [e["t"] for e in events]
        self.assertEqual(times, sorted(times))
        lines = []
        for i, event in enumerate(events):
            if event["kind"] != "answer":
                following = events[i + 1] if i + 1 < len(events) else {}
                lines.append(plain_form(event, following.get("text", "") if following.get("kind") == "answer" else ""))
        self.assertEqual(sorted(lines), sorted(plain.splitlines()))
        self.assertIn({"kind": "electrode", "n": 1, "code": 178, "current": 1.0, "enabled": True, "changed": "current"},
                      [{k: v for k, v in e.items() if k != "t"} for e in events])
        self.assertIn('Not a slider position: "q\\\x01\ufffd (0 to 255)', [e.get("text") for e in events])


class Examples(unittest.TestCase):
    def test_both_examples_run_the_protocol_on_the_simulator(self):
        for example in ("protocol.sh", "protocol.py"):
            with self.subTest(example):
                status, output, sent, _ = run("", program=os.path.join(SOURCE, "examples", example), wanted=PROTOCOL_FRAMES)
                self.assertEqual(status, 0, output)
                self.assertEqual([f for f in sent if f in PROTOCOL_FRAMES], PROTOCOL_FRAMES, sent)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)

#!/bin/sh
# A stimulation protocol piped into kinestim-console: Direct mode, electrode 1 at +1.00 mA for
# one second, back to 0 mA, Idle. Each step waits for the device's answer before the next one,
# so the lines go in as one block, with no pauses between them.
#
#   examples/protocol.sh /dev/ttyUSB0     on a real device
#   examples/protocol.sh --simulate       against the simulator
#
# The console is $KINESTIM_CONSOLE, else the one built in this checkout, else the one on PATH.
# The exit status is the console's: 0 when every step went as planned.
here=$(dirname "$0")
console=${KINESTIM_CONSOLE:-$here/../build/native-release/bin/kinestim-console}
[ -x "$console" ] || console=kinestim-console

# --expanded shows the traffic, so a step can wait for the device's acceptance of a frame.
"$console" --expanded "$@" <<'PROTOCOL'
2
:wait mode Direct
:slider 1 178
:wait ^received: 00 mdgCmdAccepted <09>$
:sleep 1000
:slider 1 128
:wait ^received: 00 mdgCmdAccepted <09>$
:idle
:wait mode Idle
:quit
PROTOCOL
status=$?
[ "$status" -eq 0 ] || echo "protocol.sh: the console ended with status $status" >&2
exit "$status"

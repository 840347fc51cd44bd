// Closing the program while current may flow on the device: the operator chooses between
// returning it to Idle first, leaving it as it is, and not closing.
#pragma once

// Reads the answers still on their way (to an Idle chosen just before closing, say) until the
// line has been quiet for 100 ms (500 ms at most), so that closing rests on the device's
// latest word.
void readLastAnswers();
// True when the device may carry a current the host cannot vouch for: Direct with an
// electrode at a code other than rest (127) or zero (128), a script that may be running, or a
// mode or electrode the host does not know.
bool currentMayFlow(bool scriptMayRun);
// Asks how to close while current may flow and, when chosen, returns the device to Idle.
// False keeps the window open. exitCode becomes 1 when the program is to end although the
// device did not confirm Idle, else 0.
bool readyToClose(bool scriptMayRun, int* exitCode);

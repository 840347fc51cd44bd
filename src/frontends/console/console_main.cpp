// Entry point of kinestim-console: opens the port (or starts the simulator on a
// pseudo-terminal), brings up the main window's control table and runs the terminal loop.
#include "link/port_argument.h"
#include "link/serial_port.h"
#include "frontends/console/console_loop.h"
#include "frontends/console/console_output.h"
#include "frontends/console/console_window.h"
#include "resource.h"
#include "app/host_state.h"
#include "ui/message_boxes.h"
#include "app/main_dialog.h"
#include "app/link_watch.h"

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <string>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char* const USAGE =
    "Usage: kinestim-console [PORT] [--simulate] [--expanded] [--timestamps] [--json]\n"
    "                        [--batch] [--stop-on-warning] [--leave-running]\n"
    "  PORT          an absolute device path (/dev/ttyUSB0) or a port number N from 1 to\n"
    "                9999 for /dev/ttyS(N-1); absent means 1\n"
    "  --simulate    start kinestim-sim on a pseudo-terminal and connect to it\n"
    "  --expanded    show the Sent and Received traffic from the start\n"
    "  --timestamps  prefix every output line with monotonic milliseconds\n"
    "  --json        print every output line as one JSON object with its time, kind and fields\n"
    "  --batch       take input as a script even from a terminal (always so when standard\n"
    "                input is not a terminal): Warnings are shown without waiting for Enter,\n"
    "                and the first line is read once the device has answered (10 s at most)\n"
    "  --stop-on-warning  in batch mode, stop reading input at the first Warning or refused line\n"
    "  --leave-running  in batch mode, closing leaves a current flowing instead of returning\n"
    "                the device to Idle\n"
    "Exit status (when several apply, the first in this list):\n"
    "  1  fatal: the port, the simulator, no answer from the device, or no Idle at closing\n"
    "  2  usage error on the command line\n"
    "  3  a :wait timed out\n"
    "  4  a Warning or a refused line was shown in batch mode\n"
    "  0  otherwise\n"
    "Type :help once running for the commands.\n";

struct SimulatorChild {
  pid_t pid = -1;
  int controlFd = -1;   // its standard input
  int outputFd = -1;    // its standard output
};

SimulatorChild simulator;

// Stops the simulator: asks it to quit, then terminates it if it lingers.
void stopSimulator() {
  if (simulator.pid <= 0) return;
  pid_t pid = simulator.pid;
  simulator.pid = -1;
  if (simulator.controlFd >= 0) {
    ssize_t ignored = write(simulator.controlFd, "quit\n", 5);
    (void)ignored;
    close(simulator.controlFd);
    simulator.controlFd = -1;
  }
  for (int waited = 0; waited < 1000; waited += 10) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

void stopOnSignal(int signalNumber) {
  if (simulator.pid > 0) kill(simulator.pid, SIGKILL);
  _exit(128 + signalNumber);
}

// The simulator next to this executable, else the one on PATH.
std::string simulatorProgram() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    self[n] = '\0';
    std::string path(self);
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
      std::string candidate = path.substr(0, slash + 1) + "kinestim-sim";
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
  }
  return "kinestim-sim";
}

// Starts kinestim-sim and returns the pseudo-terminal path it reports, or an empty string
// after printing why it could not be started.
std::string startSimulator() {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0) return std::string();
  if (pipe(fromChild) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return std::string();
  }
  std::string program = simulatorProgram();
  const pid_t console = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    std::cerr << "Cannot start the simulator: " << std::strerror(errno) << '\n';
    return std::string();
  }
  if (pid == 0) {
    // The simulator ends with the console however the console ends, kill -9 included: the
    // kernel sends it SIGTERM then (the simulator's clean stop). A console that died before
    // this line has no one left to signal, so that case is caught by the parent's pid.
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    if (getppid() != console) _exit(1);
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[0]);
    close(toChild[1]);
    close(fromChild[0]);
    close(fromChild[1]);
    execlp(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    std::fprintf(stderr, "Cannot run %s: %s\n", program.c_str(), std::strerror(errno));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  fcntl(toChild[1], F_SETFD, FD_CLOEXEC);
  fcntl(fromChild[0], F_SETFD, FD_CLOEXEC);
  simulator.pid = pid;
  simulator.controlFd = toChild[1];
  simulator.outputFd = fromChild[0];

  // Its first output line names the port: "port: /dev/pts/N".
  std::string first;
  for (int waitedMs = 0; waitedMs < 5000;) {
    size_t end = first.find('\n');
    if (end != std::string::npos) {
      first.resize(end);
      break;
    }
    pollfd p = {simulator.outputFd, POLLIN, 0};
    int ready = poll(&p, 1, 100);
    waitedMs += 100;
    if (ready <= 0) continue;
    char c[256];
    ssize_t got = read(simulator.outputFd, c, sizeof c);
    if (got <= 0) break;
    first.append(c, static_cast<size_t>(got));
  }
  while (!first.empty() && (first.back() == '\r' || first.back() == '\n')) first.pop_back();
  const char* prefix = "port: ";
  if (first.compare(0, std::strlen(prefix), prefix) != 0) {
    std::cerr << "The simulator (" << program << ") did not report its port\n";
    return std::string();
  }
  return first.substr(std::strlen(prefix));
}

// The port the command line names, read before anything is opened; a text that names no
// port ends the program with the reason (status 2, as for the other argument errors).
PortArgument checkedPortArgument(const char* text) {
  PortArgument port;
  char refusal[200];
  if (!readPortArgument(text, PortNaming::Posix, &port, refusal, sizeof refusal)) {
    std::cerr << refusal << "\n" << USAGE;
    std::exit(2);
  }
  return port;
}

constexpr int DEVICE_ANSWER_MS = 10000;

// The first that applies of: a fatal end (1), a timed-out wait (3), a Warning or refused line
// in batch mode (4); else 0. Usage errors (2) end the program before it runs.
int exitStatus() {
  int status = consoleExitCode();
  if (status != 0 && status <= 2) return status;
  if (consoleWaitTimedOut()) return 3;
  if (consoleWarningShown()) return 4;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const char* port = nullptr;
  bool simulate = false, expanded = false, timestamps = false, json = false, batch = false, stopOnWarning = false,
       leaveRunning = false;
  // The on/off options, each setting its flag.
  const struct {
    const char* name;
    bool* flag;
  } switches[] = {{"--simulate", &simulate},   {"--expanded", &expanded},
                  {"--timestamps", &timestamps}, {"--json", &json},
                  {"--batch", &batch},           {"--stop-on-warning", &stopOnWarning},
                  {"--leave-running", &leaveRunning}};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool* flag = nullptr;
    for (const auto& s : switches) {
      if (arg == s.name) flag = s.flag;
    }
    if (flag != nullptr) {
      *flag = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << USAGE;
      return 0;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      std::cerr << "Unknown option " << arg << "\n" << USAGE;
      return 2;
    } else if (port == nullptr) {
      port = argv[i];
    } else {
      std::cerr << "Only one port may be given (" << port << " and " << arg << ")\n" << USAGE;
      return 2;
    }
  }
  if (simulate && port != nullptr) {
    std::cerr << "Give either a port or --simulate, not both\n" << USAGE;
    return 2;
  }

  PortArgument portArgument = checkedPortArgument(port);
  if (json && timestamps) {
    std::cerr << "Give either --json (which carries the time) or --timestamps, not both\n" << USAGE;
    return 2;
  }
  std::ostream* out = &consoleLineStream(std::cout, json         ? ConsoleOutputForm::Json
                                                    : timestamps ? ConsoleOutputForm::Timestamped
                                                                 : ConsoleOutputForm::Plain);

  consoleWindowReset(&std::cin, out, true);
  consoleSetBatchMode(batch || !isatty(0));
  consoleLoopStopOnWarning(stopOnWarning);
  consoleLoopInstall();
  // A terminal that echoes shows the answers itself; otherwise (a pipe, a raw terminal) the
  // console writes each answer after its prompt.
  termios settings;
  bool terminalEchoes = isatty(0) && tcgetattr(0, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  consoleSetEchoAnswers(!terminalEchoes);
  consoleSetTerminalEchoes(terminalEchoes);
  consoleSetLeaveRunning(leaveRunning);

  std::signal(SIGPIPE, SIG_IGN);
  std::string simulatorPort;
  if (simulate) {
    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);
    std::signal(SIGHUP, stopOnSignal);
    std::atexit(stopSimulator);   // also runs on the fatal-error exit
    simulatorPort = startSimulator();
    if (simulatorPort.empty()) {
      stopSimulator();
      showFatalError("Failed to start the simulator");
    }
    consoleLoopDrainDescriptor(simulator.outputFd);
    consoleLoopSimulatorControl(simulator.controlFd);
    portArgument.path = simulatorPort.c_str();
  }

  // The main window does not exist while the port opens: a failure there is reported with
  // no window, and ends the program before one is made.
  consoleCloseDialog(Dialog::Main);
  const char* openFailure = portArgument.path != nullptr ? openSerialPortPath(portArgument.path)
                                                         : openSerialPort(portArgument.number);
  if (openFailure != nullptr) showFatalError(openFailure);
  resetHostState();
  consoleOpenDialog(Dialog::Main);
  initMainDialog();
  consoleRunPostedCommands();   // the collapse posted by the initialisation
  if (expanded) routeCommand(ID_TOGGLE_ADVANCED, 0);
  // The device may have been left running by an earlier session: ask what it carries.
  askDeviceState();
  // A script's first line would reach a device that is not up yet: in batch mode nothing is
  // read before the device has reported its mode.
  if (consoleBatchMode() && !consoleWaitForDevice(DEVICE_ANSWER_MS)) {
    std::string text = std::string("No answer from the device on ") + serialPortName();
    consoleDescribeNextLine("fatal", jsonMember("text", jsonString(text)));
    consoleOutput() << text << '\n';
    consoleOutput().flush();
    closeSerialPort();
    stopSimulator();
    return 1;
  }
  consoleRunLoop();
  closeSerialPort();
  stopSimulator();
  out->flush();
  return exitStatus();
}

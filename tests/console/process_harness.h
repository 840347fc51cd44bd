// Test harness for process tests: runs kinestim-console and kinestim-sim on pseudo-terminals,
// waits for output with time-outs, and reads the simulator's transcript file.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef KINESTIM_BIN_DIR
#error "KINESTIM_BIN_DIR must name the folder of kinestim-console and kinestim-sim"
#endif

namespace harness {

inline std::string binary(const char* name) { return std::string(KINESTIM_BIN_DIR) + "/" + name; }

inline long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A child process with its standard input and output reachable from the test.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { kill(); }

  // Starts argv on a pseudo-terminal (line mode, no echo), so its output ends lines with CR LF.
  bool startOnTerminal(const std::vector<std::string>& argv) {
    int slave = -1;
    if (openpty(&fd_, &slave, nullptr, nullptr, nullptr) != 0) return false;
    termios t;
    tcgetattr(slave, &t);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    tcsetattr(slave, TCSANOW, &t);
    if ((pid_ = fork()) == 0) {
      setsid();
      ioctl(slave, TIOCSCTTY, 0);
      for (int fd = 0; fd < 3; ++fd) dup2(slave, fd);
      close(fd_);
      if (slave > 2) close(slave);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
      _exit(127);
    }
    close(slave);
    return pid_ > 0;
  }

  // Reads what is there, waiting up to waitMs for the first bytes. A pseudo-terminal reports
  // EIO once the child is gone: the line is then closed.
  void readAvailable(int waitMs) {
    pollfd p = {fd_, POLLIN, 0};
    char buffer[4096];
    if (poll(&p, 1, waitMs) <= 0 || fd_ < 0) return;   // without a terminal, poll() only waits
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got > 0) {
      output_.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      close(fd_);
      fd_ = -1;
    }
  }

  // Waits until the output after the last match contains needle; the match is consumed.
  bool expect(const std::string& needle, int timeoutMs = 5000) {
    size_t at = 0;
    for (const long long deadline = nowMs() + timeoutMs; (at = output_.find(needle, mark_)) == std::string::npos;) {
      if (nowMs() >= deadline || fd_ < 0) return false;
      readAvailable(static_cast<int>(std::clamp(deadline - nowMs(), 1LL, 50LL)));
    }
    mark_ = at + needle.size();
    return true;
  }

  // Collects output for a while without looking for anything.
  void settle(int ms) {
    for (const long long deadline = nowMs() + ms; nowMs() < deadline && fd_ >= 0;) readAvailable(int(deadline - nowMs()));
  }

  void send(const std::string& text) {
    for (ssize_t done = 0, n = 0; fd_ >= 0 && done < static_cast<ssize_t>(text.size()); done += n) {
      n = write(fd_, text.data() + done, text.size() - static_cast<size_t>(done));
      if (n <= 0) return;
    }
  }
  void sendLine(const std::string& line) { send(line + "\n"); }

  // The exit status, 128 + signal for a signal, or -1 when it did not end in time (then it
  // is killed). Output keeps being collected meanwhile so the child never blocks on it.
  int waitExit(int timeoutMs = 5000) {
    int st = 0;
    for (const long long deadline = nowMs() + timeoutMs; pid_ > 0 && nowMs() < deadline; readAvailable(20)) {
      if (waitpid(pid_, &st, WNOHANG) != pid_) continue;
      pid_ = -1;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    settle(50);
    if (pid_ > 0) kill();
    return status_;
  }

  void kill() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) waitpid(pid_, nullptr, 0);
    if (fd_ >= 0) close(fd_);
    pid_ = fd_ = -1;
  }

  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }
  std::string rest() const { return output_.substr(mark_); }   // output after the last match
  // Output from the count mark on; markCounts() puts that mark at the last match.
  std::string sinceCountMark() const { return output_.substr(countMark_); }
  void markCounts() { countMark_ = mark_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1, status_ = -1;   // fd_: the terminal's master side, both directions
  std::string output_;
  size_t mark_ = 0, countMark_ = 0;
};

// A temporary folder removed with its files at the end of the test.
class TempDir {
 public:
  ~TempDir() { std::filesystem::remove_all(path_, error_); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  char pattern_[32] = "/tmp/kinestim-test-XXXXXX";
  std::string path_ = mkdtemp(pattern_) ? pattern_ : "/nonexistent";   // then every file fails
  std::error_code error_;
};

inline std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string readFile(const std::string& path) {
  std::ostringstream all;
  all << std::ifstream(path, std::ios::binary).rdbuf();
  return all.str();
}

// kinestim-sim with a transcript file; its control input and messages on a terminal.
class Simulator {
 public:
  explicit Simulator(const TempDir& dir, std::vector<std::string> extra = {})
      : transcript_(dir.file("transcript.txt")) {
    extra.insert(extra.begin(), {binary("kinestim-sim"), "--transcript", transcript_});
    if (process_.startOnTerminal(extra) && process_.expect("port: ") && process_.expect("\n", 2000)) {
      const size_t at = process_.output().find("port: ") + 6;
      port_ = process_.output().substr(at, process_.output().find_first_of("\r\n ", at) - at);
    }
  }

  bool ok() const { return !port_.empty(); }
  const std::string& port() const { return port_; }
  const std::string& transcriptPath() const { return transcript_; }
  void control(const std::string& line) { process_.sendLine(line); }
  // Sends a control line and waits until the simulator has taken it: a word it does not know,
  // sent next, is refused in turn.
  bool controlNow(const std::string& line) { control(line + "\nsync"); return process_.expect("control line 'sync'"); }
  Process& process() { return process_; }

  // Transcript lines "%8.1f %c %s %s" reduced to "<dir> <hex> <name>", or only those in one
  // direction ('>' host to device, '<' device to host) without the direction; only the
  // reduced lines that start with prefix.
  std::vector<std::string> frames(char direction = 0, const std::string& prefix = "") const {
    static const std::regex lineForm(R"(^ *[0-9]+\.[0-9] ([<>]) (.*)$)");
    std::vector<std::string> out;
    std::smatch m;
    for (const std::string& line : readLines(transcript_)) {
      if (!std::regex_match(line, m, lineForm) || (direction != 0 && m[1].str()[0] != direction)) continue;
      std::string frame = direction == 0 ? m[1].str() + " " + m[2].str() : m[2].str();
      if (frame.rfind(prefix, 0) == 0) out.push_back(std::move(frame));
    }
    return out;
  }

  // How many transcript lines from the count mark on start with prefix; markCounts() puts
  // the mark at the transcript's current end.
  int countSinceMark(const std::string& prefix) const {
    const std::vector<std::string> all = frames();
    return static_cast<int>(std::count_if(all.begin() + std::min(countMark_, all.size()), all.end(),
                                          [&](const std::string& f) { return f.rfind(prefix, 0) == 0; }));
  }
  void markCounts() { countMark_ = frames().size(); }

  // Waits until the transcript holds at least n lines starting with a frame line "<dir> <hex> <name>".
  bool waitForCount(const std::string& frame, int n, int timeoutMs = 5000) const {
    for (const long long deadline = nowMs() + timeoutMs; static_cast<int>(frames(0, frame).size()) < n; sleepMs(20))
      if (nowMs() >= deadline) return false;
    return true;
  }
  bool waitForFrame(const std::string& frame, int timeoutMs = 5000) const { return waitForCount(frame, 1, timeoutMs); }

 private:
  std::string transcript_, port_;
  size_t countMark_ = 0;
  Process process_;
};

// kinestim-console on a pseudo-terminal connected to a port.
inline bool startConsole(Process& console, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), binary("kinestim-console"));
  return console.startOnTerminal(arguments);
}

inline int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

// The last n lines of a text, for reports of what a step saw.
inline std::string lastLines(const std::string& text, int n = 8) {
  size_t at = text.size();
  for (int k = 0; k <= n && at != std::string::npos; ++k) at = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
  return at == std::string::npos ? text : text.substr(at + 1);
}

// One step of a scenario, by kind:
//   '>' type a line at the console      '!' a control line for the simulator
//   '<' text the console prints next (matches are consumed in order)
//   '-' text the console does not print in the next 300 ms
//   '|' the counts below start here: the console's at its last match, the transcript's at
//       its current end (until the first mark, at the start of the program)
//   '%' "N text": the console's output since the mark holds text exactly N times
//   '=' a transcript line "<dir> <hex> <name>" the simulator writes within 5 s
//   '#' "N prefix": exactly N transcript lines since the mark start with prefix
//   't' "LOW HIGH": milliseconds since the last typed line, inclusive bounds
struct Step {
  char kind;
  std::string text;
};

// Plays the steps; "" when all held, else the failed step by number and text and what it saw.
inline std::string play(Process& console, Simulator* sim, const std::vector<Step>& steps) {
  long long typedAt = nowMs();
  for (size_t k = 0; k < steps.size(); ++k) {
    const Step& s = steps[k];
    const long long n = std::atoll(s.text.c_str());
    const std::string rest = s.text.substr(s.text.find(' ') + 1);
    if (s.kind == '>') typedAt = (console.sendLine(s.text), nowMs());
    if (s.kind == '|') console.markCounts();
    if (s.kind == '|' && sim) sim->markCounts();
    if (s.kind == '>' || s.kind == '|') continue;
    if (s.kind == '!') sim->control(s.text);
    if (s.kind == '-') console.settle(300);
    const long long count = s.kind == '%'   ? occurrences(console.sinceCountMark(), rest)
                            : s.kind == '#' ? sim->countSinceMark(rest) : -1;
    const bool held = s.kind == '<'   ? console.expect(s.text, 8000)
                      : s.kind == '-' ? console.rest().find(s.text) == std::string::npos
                      : s.kind == '=' ? sim->waitForFrame(s.text)
                      : s.kind == 't' ? nowMs() - typedAt >= n && nowMs() - typedAt <= std::atoll(rest.c_str())
                                      : count == n || count < 0;
    if (held) continue;
    std::string seen = "step " + std::to_string(k + 1) + " of " + std::to_string(steps.size()) + " failed: " + s.kind +
                       " " + s.text + "\n" + std::to_string(nowMs() - typedAt) + " ms after the last typed line";
    if (count >= 0) seen += "; counted " + std::to_string(count) + " since the mark";
    if (sim && (s.kind == '=' || s.kind == '#')) seen += "\nlast transcript lines:\n" + lastLines(readFile(sim->transcriptPath()));
    return seen + "\nlast console lines:\n" + lastLines(console.output());
  }
  return "";
}

}  // namespace harness

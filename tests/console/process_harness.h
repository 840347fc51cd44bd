// Test harness for process tests: runs kinestim-console on a pseudo-terminal and kinestim-sim
// on pipes, waits for output with time-outs, and reads the simulator's transcript file.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A child process with its standard input and output reachable from the test.
class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { kill(); }

  // Starts argv with a pseudo-terminal as its terminal (line mode, no echo), so the program
  // sees a real tty with termios applied. Its output therefore ends lines with CR LF.
  bool startOnTerminal(const std::vector<std::string>& argv) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    termios t;
    tcgetattr(slave, &t);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    tcsetattr(slave, TCSANOW, &t);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      setsid();
      ioctl(slave, TIOCSCTTY, 0);
      dup2(slave, 0);
      dup2(slave, 1);
      dup2(slave, 2);
      close(master);
      if (slave > 2) close(slave);
      exec(argv);
    }
    close(slave);
    inFd_ = outFd_ = master;
    return true;
  }

  // Starts argv with pipes for its standard input and output; standard error is kept.
  bool startOnPipes(const std::vector<std::string>& argv) {
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return false;
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      close(toChild[0]);
      close(toChild[1]);
      close(fromChild[0]);
      close(fromChild[1]);
      exec(argv);
    }
    close(toChild[0]);
    close(fromChild[1]);
    inFd_ = toChild[1];
    outFd_ = fromChild[0];
    return true;
  }

  // Reads what is there, waiting up to waitMs for the first bytes.
  void readAvailable(int waitMs) {
    if (outFd_ < 0) return;
    pollfd p = {outFd_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return;
    char buffer[4096];
    ssize_t got = read(outFd_, buffer, sizeof buffer);
    if (got > 0) {
      output_.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      // End of output (a pseudo-terminal reports EIO once the child has gone).
      if (inFd_ == outFd_) inFd_ = -1;
      close(outFd_);
      outFd_ = -1;
    }
  }

  // Waits until the output after the last match contains needle; the match is consumed.
  bool expect(const std::string& needle, int timeoutMs = 5000) {
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
      size_t at = output_.find(needle, mark_);
      if (at != std::string::npos) {
        mark_ = at + needle.size();
        return true;
      }
      long long left = deadline - nowMs();
      if (left <= 0 || outFd_ < 0) return false;
      readAvailable(static_cast<int>(left < 50 ? left : 50));
    }
  }

  // Collects output for a while without looking for anything.
  void settle(int ms) {
    long long deadline = nowMs() + ms;
    while (nowMs() < deadline && outFd_ >= 0) readAvailable(static_cast<int>(deadline - nowMs()));
  }

  void send(const std::string& text) {
    if (inFd_ < 0) return;
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(inFd_, text.data() + done, text.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  void sendLine(const std::string& line) { send(line + "\n"); }

  // End of input: Ctrl+D on a terminal, closing the pipe otherwise.
  void sendEndOfInput() {
    if (inFd_ >= 0 && inFd_ == outFd_) {
      send("\x04");
    } else if (inFd_ >= 0) {
      close(inFd_);
      inFd_ = -1;
    }
  }

  // The exit status, 128 + signal for a signal, or -1 when it did not end in time (then it
  // is killed). Output keeps being collected meanwhile so the child never blocks on it.
  int waitExit(int timeoutMs = 5000) {
    if (pid_ <= 0) return status_;
    long long deadline = nowMs() + timeoutMs;
    while (nowMs() < deadline) {
      int st = 0;
      pid_t r = waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        settle(50);
        return status_;
      }
      if (outFd_ >= 0)
        readAvailable(20);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill();
    return -1;
  }

  void kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (outFd_ >= 0) close(outFd_);
    if (inFd_ >= 0 && inFd_ != outFd_) close(inFd_);
    inFd_ = outFd_ = -1;
  }

  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }
  // Output after the last match.
  std::string rest() const { return output_.substr(mark_); }

 private:
  [[noreturn]] static void exec(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }

  pid_t pid_ = -1;
  int inFd_ = -1;
  int outFd_ = -1;
  int status_ = -1;
  std::string output_;
  size_t mark_ = 0;
};

// A temporary folder removed with its files at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kinestim-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "/tmp";
  }
  ~TempDir() {
    if (path_ != "/tmp") {
      std::string command = "rm -rf '" + path_ + "'";
      int ignored = std::system(command.c_str());
      (void)ignored;
    }
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// kinestim-sim on its own pseudo-terminal, with a transcript file and its control input.
class Simulator {
 public:
  explicit Simulator(const TempDir& dir, std::vector<std::string> extra = {})
      : transcript_(dir.file("transcript.txt")) {
    std::vector<std::string> argv = {binary("kinestim-sim"), "--transcript", transcript_};
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!process_.startOnPipes(argv)) return;
    if (!process_.expect("port: ", 5000) || !process_.expect("\n", 2000)) return;
    std::string out = process_.output();
    size_t at = out.find("port: ") + 6;
    port_ = out.substr(at, out.find('\n', at) - at);
    while (!port_.empty() && (port_.back() == '\r' || port_.back() == ' ')) port_.pop_back();
  }

  bool ok() const { return !port_.empty(); }
  const std::string& port() const { return port_; }
  const std::string& transcriptPath() const { return transcript_; }
  void control(const std::string& line) { process_.sendLine(line); }

  // Transcript lines "%8.1f %c %s %s" reduced to "<dir> <hex> <name>".
  std::vector<std::string> frames() const {
    std::vector<std::string> out;
    static const std::regex lineForm(R"(^ *[0-9]+\.[0-9] ([<>]) (.*)$)");
    for (const std::string& line : readLines(transcript_)) {
      std::smatch m;
      if (std::regex_match(line, m, lineForm)) out.push_back(m[1].str() + " " + m[2].str());
    }
    return out;
  }

  // The frames in one direction ('>' host to device, '<' device to host).
  std::vector<std::string> frames(char direction) const {
    std::vector<std::string> out;
    for (const std::string& f : frames())
      if (f[0] == direction) out.push_back(f.substr(2));
    return out;
  }

  // Waits until the transcript holds a frame line equal to "<dir> <hex> <name>".
  bool waitForFrame(const std::string& frame, int timeoutMs = 5000) const {
    long long deadline = nowMs() + timeoutMs;
    for (;;) {
      for (const std::string& f : frames())
        if (f == frame) return true;
      if (nowMs() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Waits until the transcript holds at least n copies of a frame line.
  bool waitForCount(const std::string& frame, int n, int timeoutMs = 5000) const {
    long long deadline = nowMs() + timeoutMs;
    while (count(frame) < n) {
      if (nowMs() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  int count(const std::string& frame) const {
    int n = 0;
    for (const std::string& f : frames())
      if (f == frame) ++n;
    return n;
  }

  Process& process() { return process_; }

 private:
  std::string transcript_;
  std::string port_;
  Process process_;
};

// kinestim-console on a pseudo-terminal connected to a port.
inline bool startConsole(Process& console, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {binary("kinestim-console")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return console.startOnTerminal(argv);
}

}  // namespace harness

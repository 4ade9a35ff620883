#include "program_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "archive_builder.h"
#include "test_files.h"

namespace tolvex {

const std::string banner =
    "Tolvex v0.91, an ASAR extractor by the tolvex developers\n"
    "\n";

std::string programPath() {
  const char* named = getenv("TOLVEX_PROGRAM");
  return named != nullptr && *named != '\0' ? named : TOLVEX_BINARY;
}

pid_t startTolvex(const std::vector<std::string>& arguments, int outputFd,
                  const std::function<void()>& inChild) {
  std::vector<char*> argv;
  std::string program = programPath();
  argv.push_back(program.data());
  std::vector<std::string> copies(arguments);
  for (std::string& argument : copies)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    dup2(outputFd, STDOUT_FILENO);
    int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDIN_FILENO);
    inChild();
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

Outcome finish(pid_t child, int readFd) {
  Outcome run;
  if (child < 0) return run;
  char buffer[65536];
  ssize_t got;
  while ((got = read(readFd, buffer, sizeof buffer)) > 0)
    run.output.append(buffer, size_t(got));
  int status = 0;
  if (waitpid(child, &status, 0) == child) {
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  }
  return run;
}

namespace {

// A pipe whose ends a child does not inherit but as its standard output: a process that
// outlives the program (an emulator's server, say) must not keep the reader waiting.
bool makePipe(int pipeFds[2]) {
  if (pipe(pipeFds) != 0) return false;
  fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
  fcntl(pipeFds[1], F_SETFD, FD_CLOEXEC);
  return true;
}

}  // namespace

Outcome runPipeline(const std::string& command) {
  int pipeFds[2];
  if (!makePipe(pipeFds)) return Outcome();
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    setenv("T", programPath().c_str(), 1);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  Outcome run = finish(child, pipeFds[0]);
  close(pipeFds[0]);
  return run;
}

Outcome runTolvex(const std::vector<std::string>& arguments, const std::function<void()>& inChild) {
  int pipeFds[2];
  if (!makePipe(pipeFds)) return Outcome();
  pid_t child = startTolvex(arguments, pipeFds[1], inChild);
  close(pipeFds[1]);
  Outcome run = finish(child, pipeFds[0]);
  close(pipeFds[0]);
  return run;
}

Outcome runTolvexOnTerminal(const std::vector<std::string>& arguments) {
  RunOptions options;
  options.arguments = arguments;
  options.terminal = true;
  return runProgram(options);
}

namespace {

// A pseudo-terminal in raw mode: `master` to read, `terminal` for the program.
bool openTerminal(UniqueFd& master, UniqueFd& terminal) {
  master.reset(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (master.get() < 0 || grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) return false;
  terminal.reset(open(ptsname(master.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
  termios mode;
  if (terminal.get() < 0 || tcgetattr(terminal.get(), &mode) != 0) return false;
  cfmakeraw(&mode);
  return tcsetattr(terminal.get(), TCSANOW, &mode) == 0;
}

// Gives `bytes` to `fd` and closes it; a reader that goes away ends it early.
void feed(int fd, std::string bytes) {
  UniqueFd out(fd);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(out.get(), bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += size_t(n);
  }
}

}  // namespace

pid_t startOnTerminal(const std::vector<std::string>& arguments, UniqueFd& master) {
  UniqueFd terminal(-1);
  if (!openTerminal(master, terminal)) return -1;
  return startTolvex(arguments, terminal.get());
}

Outcome interruptLargeCopy(int milliseconds) {
  if (!writeArchiveWithLargeFile("big.asar", "a", largeCopySize, 50)) return Outcome();
  UniqueFd master(-1);
  pid_t child = startOnTerminal({"big.asar"}, master);
  if (child <= 0) return Outcome();
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  kill(child, SIGINT);
  return collect(child, master.get());
}

Outcome runProgram(const RunOptions& options) {
  // A reader of the input that goes away must not end the test.
  signal(SIGPIPE, SIG_IGN);
  UniqueFd reader(-1), writer(-1);
  int pipeFds[2];
  if (options.terminal) {
    if (!openTerminal(reader, writer)) return Outcome();
  } else {
    if (!makePipe(pipeFds)) return Outcome();
    reader.reset(pipeFds[0]);
    writer.reset(pipeFds[1]);
  }
  UniqueFd inputReader(-1), inputWriter(-1);
  if (options.inputFromPipe) {
    if (!makePipe(pipeFds)) return Outcome();
    inputReader.reset(pipeFds[0]);
    inputWriter.reset(pipeFds[1]);
  }
  const int input = inputReader.get();
  const std::vector<std::string> environment = options.environment;
  pid_t child = startTolvex(options.arguments, writer.get(), [input, &environment] {
    if (input >= 0) dup2(input, STDIN_FILENO);
    for (const std::string& variable : environment) {
      size_t equals = variable.find('=');
      setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
  });
  writer.reset(-1);
  inputReader.reset(-1);
  std::thread feeder;
  if (options.inputFromPipe) feeder = std::thread(feed, inputWriter.release(), options.input);
  Outcome run;
  bool signalled = false;
  auto watch = [&](const std::string& output) {
    if (!signalled && !options.signalWhenPrinted.empty() &&
        output.find(options.signalWhenPrinted) != std::string::npos) {
      kill(child, options.signal);
      signalled = true;
    }
  };
  if (child > 0) run = collect(child, reader.get(), options.timeoutSeconds, watch);
  if (feeder.joinable()) feeder.join();
  return run;
}

bool exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

Outcome collect(pid_t child, int fd, int timeoutSeconds,
                const std::function<void(const std::string&)>& watch) {
  Outcome run;
  char buffer[65536];
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (bool exited = false;;) {
    pollfd in = {fd, POLLIN, 0};
    if (poll(&in, 1, exited ? 0 : 100) > 0) {
      ssize_t got = read(fd, buffer, sizeof buffer);
      if (got > 0) {
        run.output.append(buffer, size_t(got));
        if (watch) watch(run.output);
        continue;
      }
    }
    if (exited) break;
    exited = waitpid(child, &status, WNOHANG) == child;
    if (!exited && timeoutSeconds > 0 && std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      run.timedOut = true;
    }
  }
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  return run;
}

}  // namespace tolvex

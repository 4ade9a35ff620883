#ifndef TOLVEX_TESTS_PROGRAM_RUN_H_
#define TOLVEX_TESTS_PROGRAM_RUN_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "unique_fd.h"

namespace tolvex {

// The built program, run in a child as a user runs it, and the tree it leaves. The program
// is the one this build made, or the command named by the environment variable
// TOLVEX_PROGRAM (a script that runs the Windows program under an emulator, say).

extern const std::string banner;

struct Outcome {
  std::string output;
  int status = -1;        // the exit status, or -1 when the program did not exit normally
  int signal = 0;         // the signal that ended it, if one did
  bool timedOut = false;  // it did not end in time and was killed
};

// How to run the program, for runProgram.
struct RunOptions {
  std::vector<std::string> arguments;
  // Added to the program's environment, each "NAME=value".
  std::vector<std::string> environment;
  // Standard input: a pipe that is given these bytes and then closed, when `inputFromPipe`;
  // otherwise /dev/null.
  bool inputFromPipe = false;
  std::string input;
  // Standard output: a terminal in raw mode (no newline translation), or a pipe.
  bool terminal = false;
  // When it has not ended after this many seconds (0: no limit), the program is killed.
  int timeoutSeconds = 0;
  // Once the output holds this text (when not empty), the program is sent `signal`.
  std::string signalWhenPrinted;
  int signal = 0;
};

// Runs tolvex in the current directory as `options` say and collects all it prints.
Outcome runProgram(const RunOptions& options);

// The program to run.
std::string programPath();

// Runs tolvex with `arguments` in the current directory, standard output to `outputFd`,
// after `inChild` has run in the child (to set limits, say).
pid_t startTolvex(
    const std::vector<std::string>& arguments, int outputFd,
    const std::function<void()>& inChild = [] {});

// Reads `readFd` to its end, then waits for `child`.
Outcome finish(pid_t child, int readFd);

// Reads `fd` until the child has exited and nothing more comes; kills the child when it
// has not exited after `timeoutSeconds` (0: waits as long as it takes). `watch`, when
// given, sees the output so far after each piece.
Outcome collect(pid_t child, int fd, int timeoutSeconds = 0,
                const std::function<void(const std::string&)>& watch = nullptr);

// Runs the shell command `command` in the current directory, as a user runs a pipeline,
// with "$T" naming the program.
Outcome runPipeline(const std::string& command);

Outcome runTolvex(
    const std::vector<std::string>& arguments, const std::function<void()>& inChild = [] {});

// As runTolvex, with standard output a terminal in raw mode (no newline translation).
Outcome runTolvexOnTerminal(const std::vector<std::string>& arguments);

// Starts tolvex with `arguments` in the current directory, its standard output a terminal
// in raw mode whose other side `master` is made to read (collect() reads it to the end);
// until it is read the terminal holds a few KiB, and the program waits to write more.
pid_t startOnTerminal(const std::vector<std::string>& arguments, UniqueFd& master);

// The size of the large file in the archive interruptLargeCopy() extracts.
constexpr uint64_t largeCopySize = uint64_t(256) << 20;

// Extracts an archive of a file of largeCopySize bytes, then 50 small ones, to a terminal
// that is not read for `milliseconds` (the marks fill it and the copy waits), then sends
// SIGINT (Ctrl-C to a Windows program under the emulator) and collects what was shown.
Outcome interruptLargeCopy(int milliseconds);

bool exists(const std::string& path);

}  // namespace tolvex

#endif  // TOLVEX_TESTS_PROGRAM_RUN_H_

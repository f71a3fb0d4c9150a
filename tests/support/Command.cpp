#include "tests/support/Command.h"

#include <sstream>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {

// A pipe whose ends close themselves, so every error path leaks nothing.
struct Pipe {
  int Fd[2] = {-1, -1};
  Pipe() {
    if (pipe(Fd) != 0)
      throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    CloseEnd(0);
    CloseEnd(1);
  }
  void CloseEnd(int AEnd) {
    if (Fd[AEnd] >= 0)
      close(Fd[AEnd]);
    Fd[AEnd] = -1;
  }
};

void DrainBoth(int AOutFd, int AErrFd, std::string& AOut, std::string& AErr) {
  pollfd fds[2] = {{AOutFd, POLLIN, 0}, {AErrFd, POLLIN, 0}};
  std::string* sinks[2] = {&AOut, &AErr};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      throw std::runtime_error("poll failed");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      const ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

std::string CommandLine(const std::vector<std::string>& AArgs) {
  std::string line;
  for (const std::string& arg : AArgs)
    line += (line.empty() ? "" : " ") + arg;
  return line;
}

} // namespace

CommandResult RunCommand(const std::vector<std::string>& AArgs) {
  if (AArgs.empty())
    throw std::invalid_argument("RunCommand: no program given");
  std::vector<char*> argv;
  for (const std::string& arg : AArgs)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  Pipe out, err;
  // posix_spawn rather than fork: copying the page tables of a sanitizer
  // build's huge address space made every call slow.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out.Fd[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.Fd[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out.Fd[0]);
  posix_spawn_file_actions_addclose(&actions, err.Fd[0]);
  // Only the copies on 1 and 2 stay: a daemon the program leaves behind (a
  // FUSE mount) must not keep the pipes open and the drain waiting.
  posix_spawn_file_actions_addclose(&actions, out.Fd[1]);
  posix_spawn_file_actions_addclose(&actions, err.Fd[1]);
  pid_t pid = 0;
  const int spawnError = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    CommandResult failed;
    failed.Err = "cannot run " + AArgs[0] + ": " + std::strerror(spawnError);
    return failed;
  }
  out.CloseEnd(1);
  err.CloseEnd(1);
  CommandResult result;
  DrainBoth(out.Fd[0], err.Fd[0], result.Out, result.Err);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string RunCommandChecked(const std::vector<std::string>& AArgs) {
  CommandResult result = RunCommand(AArgs);
  if (result.ExitCode != 0)
    throw std::runtime_error(CommandLine(AArgs) + " failed (exit " + std::to_string(result.ExitCode) +
                             "): " + result.Err);
  return std::move(result.Out);
}

std::vector<std::string> SplitLines(const std::string& AText) {
  std::vector<std::string> lines;
  std::istringstream in(AText);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

} // namespace testsupport

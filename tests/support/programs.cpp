#include "programs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace wyke_test {

namespace fs = std::filesystem;

std::string find_program(const std::string& name) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  std::istringstream dirs(path + ":/usr/sbin:/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const fs::path candidate = fs::path(dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

bool run_program(const std::vector<std::string>& argv, std::string& output, std::chrono::milliseconds limit) {
  output.clear();
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);  // a group of its own, so that what it starts ends with it
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return false;
  }
  setpgid(pid, pid);  // whichever of the two runs first
  // Read until the program closes its end or the bound passes.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char chunk[4096];
  bool open = true;
  while (open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{out[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) == 0) break;
    const ssize_t got = read(out[0], chunk, sizeof chunk);
    if (got > 0)
      output.append(chunk, static_cast<std::size_t>(got));
    else if (got == 0 || errno != EINTR)
      open = false;
  }
  close(out[0]);
  if (open) {
    kill(-pid, SIGKILL);
    output += "\n(killed after " + std::to_string(limit.count()) + " ms)";
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return !open && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace wyke_test

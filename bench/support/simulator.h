// kestrel-ecusim on a pseudo-terminal for the benchmarks, as a separate
// process (so its work is not counted): its pid and the slave path it
// prints. The window benchmarks and the soak use it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kestrel::bench {

struct Simulator {
  pid_t pid = -1;
  std::string device;

  // Starts `program` with `args`; its standard error goes to `errFile` when
  // one is given.
  bool Start(const char* program, const std::vector<std::string>& args = {},
             const char* errFile = nullptr) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      if (errFile != nullptr) {
        const int err = open(errFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) dup2(err, STDERR_FILENO);
      }
      execv(program, argv.data());
      _exit(127);
    }
    close(fds[1]);
    FILE* out = fdopen(fds[0], "r");
    char line[256] = {};
    const bool ok = out != nullptr && std::fgets(line, sizeof line, out) != nullptr;
    device = line;
    while (!device.empty() && (device.back() == '\n' || device.back() == '\r')) device.pop_back();
    // The rest of its output is not read; the pipe stays open until it ends.
    return ok && !device.empty();
  }

  // Ends it (SIGTERM) and waits for it.
  void Stop() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
  }

  ~Simulator() { Stop(); }
};

}  // namespace kestrel::bench

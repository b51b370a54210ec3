// peak_rss FILE COMMAND [ARGS...]: runs COMMAND with this process's standard
// streams and writes its peak resident set size, in KiB, to FILE; exits with
// COMMAND's status. Small on purpose: a child's peak counts what it was
// forked from, so the measuring process must not be the test's big one.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: peak_rss FILE COMMAND [ARGS...]\n");
    return 2;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 2;
  if (FILE* f = std::fopen(argv[1], "w")) {
    std::fprintf(f, "%ld\n", usage.ru_maxrss);
    std::fclose(f);
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

/* Runs one command and reports what it cost, for the whole-run benchmark:
 *
 *   measure_run PROGRAM [ARGUMENT...]
 *
 * prints "USER_S SYS_S WALL_S PEAK_RSS_KIB STATUS" on its standard output
 * once the command has ended (STATUS: the exit status, or 128 plus the
 * signal that ended it); the command's own standard output is discarded.
 *
 * Why not time the command straight from the harness: a child's peak RSS
 * (ru_maxrss) counts the address space it was forked from, since exec
 * records the old space's peak, so a child of the Python harness never shows
 * less than the interpreter's 15 MiB or so. This launcher is a few hundred
 * KiB, so a streaming run's few MiB show as they are.
 */
#define _DEFAULT_SOURCE /* wait4 */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double seconds(struct timeval t) { return (double)t.tv_sec + (double)t.tv_usec * 1e-6; }

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fputs("usage: measure_run PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  fflush(stdout);
  const double start = now();
  const pid_t child = fork();
  if (child < 0) {
    perror("measure_run: fork");
    return 1;
  }
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDOUT_FILENO);
    execv(argv[1], argv + 1);
    perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) != child) {
    perror("measure_run: wait4");
    return 1;
  }
  const double wall = now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  printf("%.6f %.6f %.6f %ld %d\n", seconds(usage.ru_utime), seconds(usage.ru_stime), wall,
         usage.ru_maxrss, code);
  return 0;
}

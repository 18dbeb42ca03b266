// alternate N OUT A... -- B...: runs the commands A and B N times each, one after the other, the
// order swapped every pair, and writes to OUT their median wall-clock times and their mean CPU
// times (user and system), in milliseconds: "wallA wallB cpuA cpuB". Taking turns run by run keeps
// a slow spell of the machine from landing on one command's block of runs, as it does with
// hyperfine, which runs each command's runs together.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

static double seconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static int ascending(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

// Runs `argv` with its output discarded; its wall-clock and CPU seconds.
static void run(char** argv, double* wall, double* cpu) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const double start = seconds();
  pid_t child;
  if (posix_spawnp(&child, argv[0], &actions, NULL, argv, environ) != 0) {
    perror(argv[0]);
    exit(1);
  }
  int status;
  struct rusage usage;
  if (wait4(child, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "%s failed\n", argv[0]);
    exit(1);
  }
  *wall = seconds() - start;
  *cpu = (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6 +
         (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6;
  posix_spawn_file_actions_destroy(&actions);
}

int main(int argc, char** argv) {
  int split = 3;
  while (split < argc && strcmp(argv[split], "--") != 0) split++;
  const int n = argc > 3 ? atoi(argv[1]) : 0;
  if (n <= 0 || split == 3 || split >= argc - 1) {
    fprintf(stderr, "usage: alternate N OUT A... -- B...\n");
    return 2;
  }
  argv[split] = NULL;
  char** commands[2] = {argv + 3, argv + split + 1};
  double* walls[2] = {calloc((size_t)n, sizeof(double)), calloc((size_t)n, sizeof(double))};
  double cpu[2] = {0, 0}, wall, spent;
  if (walls[0] == NULL || walls[1] == NULL) return 1;
  for (int i = 0; i < 5; i++)  // warm the caches
    for (int c = 0; c < 2; c++) run(commands[c], &wall, &spent);
  for (int i = 0; i < n; i++)
    for (int turn = 0; turn < 2; turn++) {
      const int c = turn ^ (i & 1);
      run(commands[c], &walls[c][i], &spent);
      cpu[c] += spent;
    }
  FILE* out = fopen(argv[2], "w");
  if (out == NULL) {
    perror(argv[2]);
    return 1;
  }
  for (int c = 0; c < 2; c++) qsort(walls[c], (size_t)n, sizeof(double), ascending);
  fprintf(out, "%.4f %.4f %.4f %.4f\n", walls[0][n / 2] * 1e3, walls[1][n / 2] * 1e3,
          cpu[0] / n * 1e3, cpu[1] / n * 1e3);
  return fclose(out) == 0 ? 0 : 1;
}

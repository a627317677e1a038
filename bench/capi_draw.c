/* What a draw costs through the C interface: tm_collection_draw on a collection kept open,
 * over the operands given (or the installed collection), many times.
 * Usage: capi_draw ROUNDS [OPERAND...]   prints the median of 11 runs, in microseconds a draw */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <tallowmere/tallowmere.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int ascending(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  const long rounds = argc > 1 ? atol(argv[1]) : 10000;
  tm_collection* collection;
  double runs[11];
  int run;
  long i;

  if (rounds <= 0 || tm_collection_open_operands(TM_KIND_NORMAL, (const char* const*)argv + 2,
                                                 (size_t)(argc > 2 ? argc - 2 : 0),
                                                 &collection) != TM_OK) {
    fprintf(stderr, "capi_draw: %s\n", tm_last_error_message());
    return 1;
  }
  for (run = 0; run < 11; ++run) {
    const double start = now();
    for (i = 0; i < rounds; ++i) {
      tm_fortune* fortune;
      if (tm_collection_draw(collection, NULL, NULL, &fortune) != TM_OK) {
        fprintf(stderr, "capi_draw: %s\n", tm_last_error_message());
        return 1;
      }
      tm_free(fortune);
    }
    runs[run] = (now() - start) / (double)rounds * 1e6;
  }
  qsort(runs, 11, sizeof runs[0], ascending);
  printf("%.2f\n", runs[5]);
  tm_collection_close(collection);
  return 0;
}

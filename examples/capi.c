/* The C interface: draws a fortune from the installed collection, then keeps a fortune file of
 * its own in a new directory under TMPDIR (appends, reads by number, checks), meets a missing
 * file and a damaged index the way a program should, and removes what it made.
 * Usage: capi    (exit status 0 when every step went as expected) */
#define _XOPEN_SOURCE 700 /* mkdtemp */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <tallowmere/tallowmere.h>

/* Says what failed, from the thread's last error, and returns 1. */
static int report_failure(const char* what) {
  fprintf(stderr, "capi: %s: %s (%s)\n", what, tm_last_error_message(),
          tm_status_string(tm_last_error_status()));
  return 1;
}

static int draw_one(void) {
  /* [guide:c-draw] */
  tm_collection* collection;
  tm_fortune* fortune;
  tm_filter filter = {TM_LENGTH_SHORT, 0, TM_WEIGHT_BY_FORTUNE}; /* at most 160 characters */

  if (tm_collection_open(TM_KIND_NORMAL, &collection) != TM_OK) return report_failure("open");
  if (tm_collection_draw(collection, &filter, NULL, &fortune) != TM_OK) {
    tm_collection_close(collection);
    return report_failure("draw");
  }
  printf("(%s #%lld)\n%s\n", fortune->path, (long long)fortune->number, fortune->text);
  tm_free(fortune);
  tm_collection_close(collection);
  /* [guide:end] */
  return 0;
}

/* Counts the fortunes a visit is handed. */
static tm_visit count_match(const tm_fortune* fortune, void* context) {
  (void)fortune;
  ++*(int*)context;
  return TM_VISIT_CONTINUE;
}

static int keep_a_file(const char* path) {
  /* [guide:c-file] */
  tm_fortune_file* file;
  tm_fortune* fortune;
  int64_t count;
  const char* sayings[] = {"Never trust a quiet printer.",
                           "A meeting that could have been a note will be one next time."};
  size_t i;

  if (tm_fortune_file_open(path, TM_WRITABLE, '%', &file) != TM_OK) {
    return report_failure("open for writing");
  }
  for (i = 0; i < 2; ++i) {
    if (tm_fortune_file_append(file, sayings[i], strlen(sayings[i])) != TM_OK) {
      tm_fortune_file_close(file);
      return report_failure("append");
    }
  }
  if (tm_fortune_file_count(file, &count) != TM_OK ||
      tm_fortune_file_get(file, 1, &fortune) != TM_OK) {
    tm_fortune_file_close(file);
    return report_failure("read");
  }
  printf("%lld fortunes; number 1: %s\n", (long long)count, fortune->text);
  tm_free(fortune);
  if (tm_fortune_file_close(file) != TM_OK) return report_failure("close");
  /* [guide:end] */
  return 0;
}

static int meet_a_missing_file(const char* path) {
  /* [guide:c-errors] */
  tm_fortune_file* file;
  if (tm_fortune_file_open(path, TM_READ_ONLY, 0, &file) == TM_ERR_NOT_FOUND) {
    printf("no such file: %s\n", tm_last_error_path());
    return 0;
  }
  /* [guide:end] */
  if (tm_last_error_status() == TM_OK) tm_fortune_file_close(file);
  fprintf(stderr, "capi: %s: opened, or failed otherwise\n", path);
  return 1;
}

/* Damages the index of `path`, then reads through it and mends it. */
static int mend_a_damaged_index(const char* path, const char* index_path) {
  FILE* index = fopen(index_path, "wb");
  tm_fortune_file* file;
  tm_index_report report;
  tm_fortune* fortune;

  if (index == NULL || fputs("not an index at all, just words", index) < 0 || fclose(index)) {
    perror(index_path);
    return 1;
  }
  /* [guide:c-check] */
  if (tm_fortune_file_open(path, TM_WRITABLE, 0, &file) != TM_OK) return report_failure("open");
  if (tm_fortune_file_check(file, &report) != TM_OK) {
    tm_fortune_file_close(file);
    return report_failure("check");
  }
  if (report.state != TM_INDEX_SOUND) {
    printf("the index is not sound (%s); rebuilding it\n", report.detail);
    if (tm_fortune_file_rebuild_index(file) != TM_OK) {
      tm_free(report.detail);
      tm_fortune_file_close(file);
      return report_failure("rebuild");
    }
  }
  tm_free(report.detail);
  /* [guide:end] */
  if (tm_fortune_file_get(file, 0, &fortune) != TM_OK) {
    tm_fortune_file_close(file);
    return report_failure("read after the rebuild");
  }
  printf("number 0 after the rebuild: %s\n", fortune->text);
  tm_free(fortune);
  return tm_fortune_file_close(file) == TM_OK ? 0 : report_failure("close");
}

/* The matches of "printer" in the new file, through a collection of that file alone. */
static int search(const char* path) {
  tm_collection* collection;
  int matches = 0;
  if (tm_collection_open_operands(TM_KIND_NORMAL, &path, 1, &collection) != TM_OK) {
    return report_failure("open the file as a collection");
  }
  if (tm_collection_visit_matches(collection, "PRINTER", TM_CASE_INSENSITIVE, NULL, count_match,
                                  &matches, NULL) != TM_OK) {
    tm_collection_close(collection);
    return report_failure("search");
  }
  tm_collection_close(collection);
  printf("%d match of printer\n", matches);
  return matches == 1 ? 0 : 1;
}

int main(void) {
  const char* tmp = getenv("TMPDIR");
  char directory[4096], path[4200], index_path[4300], missing[4200];
  int failed;

  printf("tallowmere %s\n", tm_version());
  snprintf(directory, sizeof directory, "%s/capi.XXXXXX", tmp != NULL && *tmp ? tmp : "/tmp");
  if (mkdtemp(directory) == NULL) {
    perror(directory);
    return 1;
  }
  snprintf(path, sizeof path, "%s/mine", directory);
  snprintf(index_path, sizeof index_path, "%s/mine.ix", directory);
  snprintf(missing, sizeof missing, "%s/missing", directory);

  failed = draw_one() || keep_a_file(path) || meet_a_missing_file(missing) ||
           mend_a_damaged_index(path, index_path) || search(path);
  unlink(index_path);
  unlink(path);
  rmdir(directory);
  return failed;
}

/* tallowmere's C interface: fortune collections and fortune files from C, and from any
 * language that can call C. Valid C99 and C++.
 *
 *   tm_collection* collection;
 *   tm_fortune* fortune;
 *   if (tm_collection_open(TM_KIND_NORMAL, &collection) == TM_OK) {
 *     if (tm_collection_draw(collection, NULL, NULL, &fortune) == TM_OK) {
 *       printf("%s\n", fortune->text);
 *       tm_free(fortune);
 *     }
 *     tm_collection_close(collection);
 *   }
 *   if (tm_last_error_status() != TM_OK) fprintf(stderr, "%s\n", tm_last_error_message());
 *
 * The same engine as the C++ interface (<tallowmere/Data/Fortune/Collection.hpp> and
 * <tallowmere/Data/Fortune/FortuneFile.hpp>), behind opaque handles:
 *
 * - Every call returns a tm_status: TM_OK, or why it failed (one status for each
 *   tallowmere::ErrorReason). No exception ever leaves a call; running out of memory is a
 *   status too (TM_ERR_TOO_LARGE, as errorReason gives it).
 * - A failed call records its error for the calling thread: tm_last_error_status,
 *   tm_last_error_message (the C++ library's message, "openFortuneFile: file does not
 *   exist: ..."), tm_last_error_path (the file it concerns, "" when none). They describe the
 *   most recent failed call of this thread and stay valid until the next one fails; a call
 *   that succeeds leaves them alone.
 * - What the library hands out (tm_fortune, strings) is the caller's, freed with tm_free.
 *   Results are written through an out parameter only on success.
 * - Strings are UTF-8. Texts handed out are valid UTF-8 (invalid bytes of a file read as
 *   U+FFFD) and end with a NUL byte; their length is given too, since a fortune may hold one.
 * - A NULL handle or out parameter is the caller's fault: TM_ERR_USAGE.
 *
 * Threads: a tm_collection and a tm_fortune_file may be used by any number of threads at once;
 * closing one must wait until no other thread uses it. Between processes, the files are locked
 * as the C++ interface describes (appends and rebuilds never seen half done). */
#ifndef TALLOWMERE_H
#define TALLOWMERE_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define TM_API __attribute__((visibility("default")))
#else
#define TM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Why a call failed, or TM_OK. Each failure mirrors a tallowmere::ErrorReason. */
typedef enum tm_status {
  TM_OK = 0,
  TM_ERR_OTHER,               /* none of the below (a platform error without a closer reason) */
  TM_ERR_NOT_FOUND,           /* no such file or directory, a missing fortune file */
  TM_ERR_PERMISSION_DENIED,   /* EACCES, EPERM, EROFS, a symbolic link refused */
  TM_ERR_NOT_A_FILE,          /* a directory or a device where a fortune file was wanted */
  TM_ERR_NOT_TEXT,            /* a binary file where fortunes were wanted */
  TM_ERR_OUT_OF_RANGE,        /* a fortune number beyond the file's fortunes */
  TM_ERR_INVALID_UTF8,        /* text that is not valid UTF-8 */
  TM_ERR_DAMAGED_INDEX,       /* an index or data file that cannot be read as one */
  TM_ERR_STALE_INDEX,         /* an index that no longer describes its text */
  TM_ERR_NOTHING_TO_DRAW,     /* no file, or no fortune that the draw admits */
  TM_ERR_TOO_MANY_OPEN_FILES, /* EMFILE, ENFILE */
  TM_ERR_NO_SPACE,            /* ENOSPC, EDQUOT, EFBIG */
  TM_ERR_BAD_PATTERN,         /* a regular expression that does not compile */
  TM_ERR_TOO_LARGE,           /* a text beyond what the format holds; memory ran out */
  TM_ERR_BAD_ARGUMENT,        /* a malformed argument (an operand's share above 100%, say) */
  TM_ERR_USAGE                /* a fault of the calling program (a NULL handle, say) */
} tm_status;

/* The status for people: "not found", "permission denied", ...; "ok" for TM_OK. Static. */
TM_API const char* tm_status_string(tm_status status);

/* The most recent failure of this thread: its status (TM_OK when none yet), its message and
 * the path of the file it concerns ("" when none). Valid until this thread's next failure. */
TM_API tm_status tm_last_error_status(void);
TM_API const char* tm_last_error_message(void);
TM_API const char* tm_last_error_path(void);

/* The library's version, "0.1.0". Static. */
TM_API const char* tm_version(void);

/* Frees what the library handed out (a tm_fortune, a string); NULL is ignored. */
TM_API void tm_free(void* pointer);

/* ---- Collections: the fortune files a program draws from and searches, kept open. ---- */

typedef struct tm_collection tm_collection;

/* The kinds of fortune, each with its search path (TALLOWMERE_PATH_NORMAL, ...). */
typedef enum tm_kind { TM_KIND_ALL, TM_KIND_NORMAL, TM_KIND_OFFENSIVE } tm_kind;

/* The collection of a kind: the fortune files along its search path (or the classic system
 * collection when there is none). No fortune file is no failure: draws then fail with
 * TM_ERR_NOTHING_TO_DRAW. */
TM_API tm_status tm_collection_open(tm_kind kind, tm_collection** collection);

/* The files that command-line operands stand for, "[N%] FILE|DIR|NAME ...", names looked up
 * along the kind's collection; no operand gives the collection of the kind. Fails with
 * TM_ERR_BAD_ARGUMENT for bad shares, TM_ERR_NOT_FOUND for an operand that names nothing,
 * TM_ERR_NOTHING_TO_DRAW for a directory without fortune files, and what opening a named file
 * fails with. */
TM_API tm_status tm_collection_open_operands(tm_kind kind, const char* const* operands,
                                             size_t count, tm_collection** collection);

/* Frees the handle; NULL is ignored. */
TM_API void tm_collection_close(tm_collection* collection);

/* The number of files in the collection. */
TM_API tm_status tm_collection_file_count(const tm_collection* collection, size_t* count);

/* Which fortunes a draw, a visit or a count admits. Empty fortunes never are. */
typedef enum tm_length {
  TM_LENGTH_ANY,
  TM_LENGTH_SHORT, /* at most length_limit characters */
  TM_LENGTH_LONG   /* more than length_limit characters */
} tm_length;

/* How draws are spread over the files. */
typedef enum tm_weighting {
  TM_WEIGHT_BY_FORTUNE, /* every admitted fortune equally likely */
  TM_WEIGHT_BY_FILE     /* every file with an admitted fortune equally likely */
} tm_weighting;

/* A filter; all zeros (or a NULL pointer) admits every fortune, weighted by fortune. */
typedef struct tm_filter {
  tm_length length;
  int64_t length_limit; /* in characters; 0 for the default, 160 */
  tm_weighting weighting;
} tm_filter;

/* A fortune: its file, its number there (as tm_fortune_file_get and `tallowmere get` read
 * it), and its text. One block: tm_free(fortune) frees the strings with it. */
typedef struct tm_fortune {
  const char* path;
  int64_t number;
  const char* text;
  size_t text_length;
} tm_fortune;

/* Draws one fortune as the filter says: with the process's generator, or, when seed is not
 * NULL, with a generator seeded with *seed, so that the same seed draws the same fortune from
 * the same files. Fails with TM_ERR_NOTHING_TO_DRAW when no fortune is admitted. */
TM_API tm_status tm_collection_draw(const tm_collection* collection, const tm_filter* filter,
                                    const uint64_t* seed, tm_fortune** fortune);

/* Fortune `number` of the collection's file at `path`: TM_ERR_OUT_OF_RANGE for a number the
 * file does not hold, TM_ERR_NOT_FOUND for a path that is not one of the collection's. */
TM_API tm_status tm_collection_read(const tm_collection* collection, const char* path,
                                    int64_t number, tm_fortune** fortune);

/* The number of fortunes the filter admits, in all files. */
TM_API tm_status tm_collection_count(const tm_collection* collection, const tm_filter* filter,
                                     int64_t* count);

/* What a visitor wants next. */
typedef enum tm_visit { TM_VISIT_CONTINUE, TM_VISIT_STOP } tm_visit;

/* A visitor: called with each fortune (valid only during the call) and the context given to
 * the visit. It may read from the collection, not close it. */
typedef tm_visit (*tm_visitor)(const tm_fortune* fortune, void* context);

/* Hands every admitted fortune to `visitor`, file by file in order, until it says
 * TM_VISIT_STOP. *stopped (when not NULL) says whether it did. */
TM_API tm_status tm_collection_visit(const tm_collection* collection, const tm_filter* filter,
                                     tm_visitor visitor, void* context, tm_visit* stopped);

/* Whether letters of a pattern match their other case. */
typedef enum tm_case { TM_CASE_SENSITIVE, TM_CASE_INSENSITIVE } tm_case;

/* The same for the fortunes that match `pattern`, a POSIX extended regular expression
 * (TM_ERR_BAD_PATTERN when it does not compile), in the thread's locale. */
TM_API tm_status tm_collection_visit_matches(const tm_collection* collection, const char* pattern,
                                             tm_case case_mode, const tm_filter* filter,
                                             tm_visitor visitor, void* context, tm_visit* stopped);

/* ---- Fortune files: one text file with its index, FILE.ix. ---- */

typedef struct tm_fortune_file tm_fortune_file;

typedef enum tm_access {
  TM_READ_ONLY, /* never writes; a missing or damaged index is read around in memory */
  TM_WRITABLE   /* creates the text and its index when first needed */
} tm_access;

/* Opens the fortune file at `path` with `delimiter` (a Unicode scalar value; 0 for '%'). Read
 * only, a path that is not an existing file fails with TM_ERR_NOT_FOUND. Nothing is read yet. */
TM_API tm_status tm_fortune_file_open(const char* path, tm_access access, uint32_t delimiter,
                                      tm_fortune_file** file);

/* Closes the files and frees the handle, which is freed even when closing fails; NULL is
 * ignored. */
TM_API tm_status tm_fortune_file_close(tm_fortune_file* file);

/* The number of fortunes its index lists. */
TM_API tm_status tm_fortune_file_count(tm_fortune_file* file, int64_t* count);

/* Fortune `number` (from 0): TM_ERR_OUT_OF_RANGE beyond the last. The tm_fortune's path is the
 * file's. */
TM_API tm_status tm_fortune_file_get(tm_fortune_file* file, int64_t number, tm_fortune** fortune);

/* Appends `length` bytes of `text` as a new fortune, keeping the index current; returns once
 * both are on the disk. Refused with nothing written when the text is not valid UTF-8
 * (TM_ERR_INVALID_UTF8) and when the handle is read-only. */
TM_API tm_status tm_fortune_file_append(tm_fortune_file* file, const char* text, size_t length);

/* Rebuilds the index from the text, replacing the index file whole. */
TM_API tm_status tm_fortune_file_rebuild_index(tm_fortune_file* file);

/* How the index file stands against its text. */
typedef enum tm_index_state {
  TM_INDEX_SOUND,              /* it lists every fortune of the text as a rebuild would */
  TM_INDEX_MISSING,            /* there is no index file */
  TM_INDEX_DAMAGED,            /* it cannot be read, or cannot describe the text; see detail */
  TM_INDEX_STALE,              /* it describes more text than the file holds */
  TM_INDEX_DIFFERS_FROM_TEXT,  /* its entries differ from fortune first_difference on */
  TM_INDEX_STATS_DIFFER,       /* its entries match the text, its statistics do not */
  TM_INDEX_INTERRUPTED_APPEND, /* an append stopped half way; the next change undoes it */
  TM_INDEX_OTHER               /* a state this version of the interface does not name */
} tm_index_state;

typedef struct tm_index_report {
  tm_index_state state;
  int64_t first_difference; /* TM_INDEX_DIFFERS_FROM_TEXT */
  int64_t num_fortunes;     /* TM_INDEX_SOUND */
  char* detail;             /* what is wrong, "" when nothing; free it with tm_free */
} tm_index_report;

/* Checks the index file on disk against the text (what `tallowmere check` runs). A damaged or
 * missing index is a report, not a failure. */
TM_API tm_status tm_fortune_file_check(tm_fortune_file* file, tm_index_report* report);

#ifdef __cplusplus
}
#endif

#endif /* TALLOWMERE_H */

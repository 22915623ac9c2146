/* Records what a program writes through the SQLite library, for the
 * generator of the full-run reference script (gen_full_reference.sh).
 *
 *   cc -shared -fPIC -O2 -o trace_writes.so trace_writes.c -ldl
 *   QVB_TRACE_FILE=trace.txt LD_PRELOAD=./trace_writes.so qvsetup /i Initialize /a
 *
 * Every database handle opened with sqlite3_open_v2 gets an update hook, a
 * commit hook and a rollback hook. One line per event, appended to
 * $QVB_TRACE_FILE (standard error when unset):
 *
 *   W <connection> <file> <I|U|D> <schema> <table> <rowid>   a row written
 *   C <connection> <file>                                    a commit
 *   R <connection> <file>                                    a rollback
 *
 * <connection> numbers the handles in the order they were opened; <file> is
 * the base name of the database file. Rows written inside a savepoint that
 * was rolled back still appear; the generator checks every row against the
 * final database. Nothing of the traced program's behaviour changes: the
 * hooks only write to the trace file and never veto a commit.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct handle_tag {
  int id;
  char file[256];
};

static FILE *trace_out(void) {
  static FILE *out;
  if (out == NULL) {
    const char *path = getenv("QVB_TRACE_FILE");
    out = path != NULL && *path != '\0' ? fopen(path, "a") : NULL;
    if (out == NULL) out = stderr;
    setvbuf(out, NULL, _IOLBF, 0);
  }
  return out;
}

static void on_update(void *context, int op, const char *schema, const char *table,
                      sqlite3_int64 rowid) {
  const struct handle_tag *tag = context;
  const char *kind = op == SQLITE_INSERT ? "I" : op == SQLITE_UPDATE ? "U" : "D";
  fprintf(trace_out(), "W %d %s %s %s %s %lld\n", tag->id, tag->file, kind, schema, table,
          (long long)rowid);
}

static int on_commit(void *context) {
  const struct handle_tag *tag = context;
  fprintf(trace_out(), "C %d %s\n", tag->id, tag->file);
  return 0; /* never turn the commit into a rollback */
}

static void on_rollback(void *context) {
  const struct handle_tag *tag = context;
  fprintf(trace_out(), "R %d %s\n", tag->id, tag->file);
}

int sqlite3_open_v2(const char *filename, sqlite3 **db, int flags, const char *vfs) {
  static int (*real_open)(const char *, sqlite3 **, int, const char *);
  static int opened;
  if (real_open == NULL) {
    real_open = (int (*)(const char *, sqlite3 **, int, const char *))dlsym(RTLD_NEXT,
                                                                           "sqlite3_open_v2");
    if (real_open == NULL) return SQLITE_ERROR;
  }
  int rc = real_open(filename, db, flags, vfs);
  if (rc == SQLITE_OK && db != NULL && *db != NULL) {
    /* One tag per handle, kept for the life of the process. */
    struct handle_tag *tag = calloc(1, sizeof *tag);
    if (tag != NULL) {
      const char *base = filename != NULL ? strrchr(filename, '/') : NULL;
      tag->id = ++opened;
      snprintf(tag->file, sizeof tag->file, "%s",
               base != NULL ? base + 1 : (filename != NULL ? filename : "?"));
      sqlite3_update_hook(*db, on_update, tag);
      sqlite3_commit_hook(*db, on_commit, tag);
      sqlite3_rollback_hook(*db, on_rollback, tag);
    }
  }
  return rc;
}

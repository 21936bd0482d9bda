/* velunor: command-line host of the Velunor SPH library.
 *
 *   velunor run DECK [--output DIR | -o DIR] [--interval N] [--restart-every N]
 *                    [--resume FILE] [--progress-every SECONDS] [--binary]
 *   velunor info DECK | RESTART_FILE
 *   velunor --version | --help
 *
 * Every option with a value may also be written --option=value. See
 * docs/cli.md.
 *
 * Uses only the public C interface (velunor.h). Exit codes: 0 success,
 * 1 the library reported a failure, 2 usage error. */
#include "velunor.h"

#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#define velunor_isatty _isatty
#define velunor_fileno _fileno
#define velunor_mkdir(path) _mkdir(path)
#else
#include <dirent.h>
#include <unistd.h>
#define velunor_isatty isatty
#define velunor_fileno fileno
#define velunor_mkdir(path) mkdir(path, 0777)
#endif

#ifndef S_ISDIR
#define S_ISDIR(mode) (((mode)&S_IFMT) == S_IFDIR)
#endif
#ifndef S_ISREG
#define S_ISREG(mode) (((mode)&S_IFMT) == S_IFREG)
#endif

enum { exit_ok = 0, exit_failure = 1, exit_usage = 2 };

#define VELUNOR_USAGE_LINES                                            \
    "usage: velunor run DECK [--output DIR | -o DIR] [--interval N]\n" \
    "                        [--restart-every N] [--resume FILE]\n"    \
    "                        [--progress-every SECONDS] [--binary]\n"  \
    "       velunor info DECK | RESTART_FILE\n"                        \
    "       velunor --version | --help\n"

/* Seconds between the plain progress lines of a run whose stderr is not a
 * terminal (a batch log). */
#define VELUNOR_PROGRESS_EVERY 10.0

static const char* const usage_text = VELUNOR_USAGE_LINES
    "\n"
    "  run       read and build DECK, then run it to its end time; prints the\n"
    "            deck's warnings (\"warning: FILE:LINE: ...\") on stderr, progress\n"
    "            on stderr (a line refreshed twice a second on a terminal,\n"
    "            otherwise a plain line every --progress-every seconds) and a\n"
    "            summary on stdout that ends, with --output, with the files\n"
    "            written\n"
    "  info      read and build DECK and describe the model: its warnings (on\n"
    "            stderr), particles by phase, material and section (with their\n"
    "            names), the warning count, stable time step, the gas, explosive\n"
    "            and solid summaries, the shell sections (name, director\n"
    "            sources, total reference area) and the coupling regions; for a\n"
    "            restart file (first line VELUNOR_RESTART ...), its layout, time,\n"
    "            step and particle count\n"
    "\n"
    "  --output DIR, -o DIR\n"
    "                  write step output (VTU, PVD, summary CSV and, unless\n"
    "                  the deck says CSV=NO, particle CSV)\n"
    "                  into DIR, created if missing; the series holds the\n"
    "                  initial and the final state as well as every N-th\n"
    "                  step, and the run's report adds the blast regions of\n"
    "                  the final summary. A warning tells when DIR already\n"
    "                  holds files of an earlier series (they are kept). DIR\n"
    "                  also gets velunor.log: the command line, the warnings\n"
    "                  and the summary (or the error that ended the run)\n"
    "  --interval N    write step output every N steps (N > 0)\n"
    "  --restart-every N\n"
    "                  write the restart file velunor_restart.txt every N steps\n"
    "                  (N > 0, counted from step 0 of the deck) and at the end\n"
    "                  of the run, into DIR with --output and into the current\n"
    "                  directory without it; each write replaces the last one\n"
    "                  only once complete, and the run ends in the same state\n"
    "                  as without the option\n"
    "  --resume FILE   after building DECK, continue from the restart FILE\n"
    "                  (written for the same deck) to the deck's end time; the\n"
    "                  file's output directory and interval apply unless\n"
    "                  --output or --interval are given\n"
    "  --progress-every SECONDS\n"
    "                  seconds between plain progress lines when stderr is not\n"
    "                  a terminal (default 10; 0: none)\n"
    "  --binary        VTU files with raw appended binary data instead of text\n"
    "                  (sets VELUNOR_OUTPUT_FORMAT=BINARY for the library)\n"
    "\n"
    "  Every option with a value may be written --option=value as well.\n";

/* The run's velunor.log in the output directory while it is open: what the
 * run reports (warnings, errors, the summary) goes there too. */
static FILE* run_log_file = NULL;

/* printf to stdout, and into velunor.log. */
static void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    if (run_log_file != NULL) {
        va_start(args, format);
        vfprintf(run_log_file, format, args);
        va_end(args);
    }
}

/* fprintf to stderr, and into velunor.log. */
static void tell(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    if (run_log_file != NULL) {
        va_start(args, format);
        vfprintf(run_log_file, format, args);
        va_end(args);
    }
}

static int usage_error(const char* message, const char* detail) {
    if (message != NULL) {
        fprintf(stderr, "velunor: %s%s%s\n", message, detail != NULL ? ": " : "",
                detail != NULL ? detail : "");
    }
    fputs(VELUNOR_USAGE_LINES, stderr);
    return exit_usage;
}

/* Reports a failed library call as "error: MESSAGE (status N)". */
static int report(int status) {
    if (status == VELUNOR_REJECTED) {
        tell("error: the library rejected the call (status %d)\n", status);
        return exit_failure;
    }
    char message[300];
    int code = 0;
    if (velunor_get_last_error(&code, message, (int)sizeof message) != 0) message[0] = '\0';
    tell("error: %s (status %d)\n", message, status);
    return exit_failure;
}

/* A step that blew the model up (a non-finite particle, a density driven to
 * zero or below, which no deck can start with, or particles flung so far
 * apart that no neighbor grid spans them) is reported in the words a user
 * acts on, with the library's own message after it. */
static int report_run_failure(int status) {
    char message[300];
    int code = 0;
    if (status == VELUNOR_REJECTED ||
        velunor_get_last_error(&code, message, (int)sizeof message) != 0 ||
        (strstr(message, "non-finite") == NULL &&
         strstr(message, "density must be positive") == NULL &&
         strstr(message, "neighbor grid has too many cells") == NULL)) {
        return report(status);
    }
    double time = 0.0;
    int step = 0;
    if (velunor_get_current_time(&time, &step) != 0) step = 0;
    tell("error: the run became unstable at step %d: reduce SAFETY or DT (%s)\n", step + 1,
         message);
    return exit_failure;
}

static double wall_seconds(void) {
    struct timespec ts;
    timespec_get(&ts, TIME_UTC);
    return (double)ts.tv_sec + 1e-9 * (double)ts.tv_nsec;
}

/* The output directory as the library uses it: trailing blanks dropped.
 * NULL when memory runs out. */
static char* trimmed_copy(const char* text) {
    size_t n = strlen(text);
    while (n > 0 && text[n - 1] == ' ') --n;
    char* copy = malloc(n + 1);
    if (copy == NULL) return NULL;
    memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
}

/* mkdir -p: creates every missing directory of `path`. Trailing blanks are
 * dropped, as the library drops them from the directory it writes into.
 * Returns 0, or the errno of the operation that failed: mkdir's own (EACCES,
 * EROFS, ENOTDIR, ...) unless the path exists, and ENOTDIR when it exists
 * but is no directory. A later stat's ENOENT never hides the reason. */
static int make_directories(const char* path) {
    char* copy = trimmed_copy(path);
    if (copy == NULL) return ENOMEM;
    const size_t n = strlen(copy);
    int result = 0;
    for (size_t k = 1; k <= n && result == 0; ++k) {
        if (copy[k] != '/' && copy[k] != '\\' && copy[k] != '\0') continue;
        const char saved = copy[k];
        copy[k] = '\0';
        if (velunor_mkdir(copy) != 0) {
            const int failed = errno;
            struct stat st;
            /* An existing directory (also one mkdir may not touch, as "/"
             * or a read-only mount) is what is wanted. */
            if (stat(copy, &st) == 0) {
                if (!S_ISDIR(st.st_mode)) result = ENOTDIR;
            } else {
                result = failed == EEXIST ? errno : failed;
            }
        }
        copy[k] = saved;
    }
    free(copy);
    return result;
}

/* The step output files by name: "velunor_", the step in (at least) 8
 * digits, and ".vtu", ".csv" or "_summary.csv"; the PVD "velunor.pvd". */
enum { file_vtu, file_csv, file_summary, file_kinds };

static const char* const file_suffixes[file_kinds] = {".vtu", ".csv", "_summary.csv"};
static const char* const file_kind_names[file_kinds] = {"VTU", "particle CSV", "summary CSV"};

static int ends_with(const char* name, const char* suffix) {
    const size_t n = strlen(name), m = strlen(suffix);
    return n >= m && strcmp(name + n - m, suffix) == 0;
}

/* The step of a step output file name and its kind; -1 for other names. */
static long step_file(const char* name, int* kind) {
    if (strncmp(name, "velunor_", 8) != 0) return -1;
    const char* p = name + 8;
    long step = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 10) step = 10 * step + (*p++ - '0'), ++digits;
    if (digits < 8) return -1;
    for (int k = file_kinds - 1; k >= 0; --k) {
        if (strcmp(p, file_suffixes[k]) == 0) {
            *kind = k;
            return step;
        }
    }
    return -1;
}

/* What a run wrote (or found) in its output directory. */
typedef struct {
    int count[file_kinds];
    long first[file_kinds], last[file_kinds];
    int pvd;
} SeriesFiles;

/* Calls `visit` for every entry of `dir`; 0 when it cannot be listed. */
typedef void (*EntryVisit)(const char* dir, const char* name, void* data);

static int list_directory(const char* dir, EntryVisit visit, void* data) {
#if defined(_WIN32)
    (void)dir, (void)visit, (void)data;
    return 0; /* no dirent: the series checks are left out */
#else
    DIR* d = opendir(dir);
    if (d == NULL) return 0;
    for (struct dirent* e; (e = readdir(d)) != NULL;) visit(dir, e->d_name, data);
    closedir(d);
    return 1;
#endif
}

/* Modification time of a file in nanoseconds (in seconds where stat has no
 * finer field). */
static long long modified_ns(const struct stat* st) {
#if defined(_WIN32)
    return (long long)st->st_mtime * 1000000000LL;
#else
    return (long long)st->st_mtim.tv_sec * 1000000000LL + st->st_mtim.tv_nsec;
#endif
}

/* The regular files of a series the library writes that a directory holds
 * before a run: velunor_*.vtu, velunor_*.csv (the summaries among them) and
 * velunor.pvd, and the latest modification time among them. */
typedef struct {
    int count;
    long long latest_ns;
} EarlierSeries;

static void count_series_file(const char* dir, const char* name, void* data) {
    if (strcmp(name, "velunor.pvd") != 0 &&
        (strncmp(name, "velunor_", 8) != 0 ||
         (!ends_with(name, ".vtu") && !ends_with(name, ".csv")))) {
        return;
    }
    char path[2048];
    struct stat st;
    if (snprintf(path, sizeof path, "%s/%s", dir, name) < (int)sizeof path &&
        stat(path, &st) == 0 && S_ISREG(st.st_mode)) {
        EarlierSeries* e = data;
        const long long t = modified_ns(&st);
        if (e->count == 0 || t > e->latest_ns) e->latest_ns = t;
        e->count += 1;
    }
}

typedef struct {
    long step0, step;
    time_t since;
    const EarlierSeries* earlier;
    SeriesFiles files;
} WrittenScan;

/* A step file of the run's step range changed since the run started: newer
 * than every file of an earlier series (which a file this run did not
 * rewrite is not, however soon after an earlier run this one started) and,
 * with a second's slack for file times on a coarser clock, not older than
 * the run. */
static void note_written_file(const char* dir, const char* name, void* data) {
    WrittenScan* w = data;
    int kind = 0;
    const long step = step_file(name, &kind);
    const int pvd = strcmp(name, "velunor.pvd") == 0;
    if (!pvd && (step < w->step0 || step > w->step)) return;
    char path[2048];
    if (snprintf(path, sizeof path, "%s/%s", dir, name) >= (int)sizeof path) return;
    struct stat st;
    if (stat(path, &st) != 0 || st.st_mtime + 1 < w->since) return;
    if (w->earlier->count > 0 && modified_ns(&st) <= w->earlier->latest_ns) return;
    if (pvd) {
        w->files.pvd = 1;
        return;
    }
    SeriesFiles* f = &w->files;
    if (f->count[kind] == 0 || step < f->first[kind]) f->first[kind] = step;
    if (f->count[kind] == 0 || step > f->last[kind]) f->last[kind] = step;
    f->count[kind] += 1;
}

/* The files written, as the last lines of the summary. */
static void print_files_written(const char* dir, long step0, long step, time_t since,
                                const EarlierSeries* earlier, const char* restart, int has_log) {
    WrittenScan w;
    memset(&w, 0, sizeof w);
    w.step0 = step0;
    w.step = step;
    w.since = since;
    w.earlier = earlier;
    say("files written    in %s\n", dir);
    if (!list_directory(dir, note_written_file, &w)) return;
    for (int k = 0; k < file_kinds; ++k) {
        const SeriesFiles* f = &w.files;
        if (f->count[k] == 0) continue;
        say("  %-14s %d, velunor_%08ld%s .. velunor_%08ld%s\n", file_kind_names[k], f->count[k],
            f->first[k], file_suffixes[k], f->last[k], file_suffixes[k]);
    }
    if (w.files.pvd) say("  %-14s velunor.pvd\n", "series");
    if (restart != NULL) say("  %-14s %s\n", "restart", restart);
    if (has_log) say("  %-14s velunor.log\n", "run log");
}

/* The deck's end time as the library reads it: the TIME (or END TIME) option
 * of the last *VELUNOR line that names TIME CONTROL. The library has no query
 * for it, and stepping the run from the host (--restart-every) must clip its
 * last step at exactly that value, so the rules of the library's deck reader
 * are followed here: lines cut to 1024 characters once the line feed and a
 * carriage return before it are gone, a byte order mark before the first
 * line, blanks trimmed, up to 64 comma-separated fields of at most 256
 * characters, keys matched by prefix, a later TIME overwriting an earlier one
 * and a value read up to the next blank, tab, comma or slash, with a D or E
 * exponent. (Comment lines start with "!" or "**", so none passes for a
 * *VELUNOR line; and no key that starts with DT starts with TIME.) Only a
 * deck the library has read comes here, so its time-control values are
 * valid. Returns 0 when none is found. */
enum { deck_line_len = 1024, deck_field_len = 256, deck_max_fields = 64 };

/* One line of `file` into `line` (deck_line_len + 1 bytes) as the deck reader
 * keeps it; its length, or -1 at the end of the file. */
static long read_deck_line(FILE* file, char* line) {
    long kept = 0, total = 0;
    int c;
    while ((c = getc(file)) != EOF && c != '\n') {
        if (kept <= deck_line_len) line[kept++] = (char)c;
        ++total;
    }
    if (c == EOF && total == 0) return -1;
    /* The carriage return belongs to the line ending only when it is the
     * line's last character, which was kept when the line is this short. */
    if (total == kept && kept > 0 && line[kept - 1] == '\r') --kept;
    return kept > deck_line_len ? deck_line_len : kept;
}

static char upper_ascii(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

/* Whether text[0..n) starts with the upper-case `prefix`, letters a to z
 * compared as upper case. */
static int starts_with_upper(const char* text, size_t n, const char* prefix) {
    const size_t length = strlen(prefix);
    if (n < length) return 0;
    for (size_t k = 0; k < length; ++k) {
        if (upper_ascii(text[k]) != prefix[k]) return 0;
    }
    return 1;
}

static int contains_upper(const char* text, size_t n, const char* phrase) {
    const size_t length = strlen(phrase);
    for (size_t k = 0; k + length <= n; ++k) {
        if (starts_with_upper(text + k, n - k, phrase)) return 1;
    }
    return 0;
}

/* The value of one TIME field (text[0..n) after the "="): 1 and `value` when
 * it reads as a real. */
static int read_deck_real(const char* text, size_t n, double* value) {
    size_t begin = 0;
    while (begin < n && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    size_t end = begin;
    while (end < n && text[end] != ' ' && text[end] != '\t' && text[end] != ',' &&
           text[end] != '/') {
        ++end;
    }
    char item[deck_field_len + 1];
    const size_t length = end - begin;
    if (length == 0 || length > deck_field_len) return 0;
    for (size_t k = 0; k < length; ++k) {
        const char c = text[begin + k];
        item[k] = c == 'D' || c == 'd' ? 'e' : c;
    }
    item[length] = '\0';
    char* stop = NULL;
    const double parsed = strtod(item, &stop);
    if (stop != item + length) return 0;
    *value = parsed;
    return 1;
}

/* The TIME of one field (text[0..n), as split at commas): 1 and `value` when
 * the field is a TIME option that reads. */
static int time_of_field(const char* text, size_t n, double* value) {
    while (n > 0 && *text == ' ') ++text, --n;
    if (n > deck_field_len) n = deck_field_len;
    while (n > 0 && text[n - 1] == ' ') --n;
    const char* eq = memchr(text, '=', n);
    if (eq == NULL) return 0;
    const size_t key = (size_t)(eq - text);
    if (!starts_with_upper(text, key, "END TIME") && !starts_with_upper(text, key, "TIME")) {
        return 0;
    }
    return read_deck_real(eq + 1, n - key - 1, value);
}

static double deck_end_time(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) return 0.0;
    char line[deck_line_len + 1];
    double end_time = 0.0;
    long n;
    for (int first = 1; (n = read_deck_line(file, line)) >= 0; first = 0) {
        const char* text = line;
        size_t length = (size_t)n;
        if (first && length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
            text += 3;
            length -= 3;
        }
        while (length > 0 && text[0] == ' ') ++text, --length;
        while (length > 0 && text[length - 1] == ' ') --length;
        if (!starts_with_upper(text, length, "*VELUNOR") ||
            !contains_upper(text, length, "TIME CONTROL")) {
            continue;
        }
        size_t start = 0;
        int fields = 0;
        for (size_t k = 0; k < length && fields < deck_max_fields; ++k) {
            if (text[k] != ',') continue;
            time_of_field(text + start, k - start, &end_time);
            ++fields;
            start = k + 1;
        }
        if (fields < deck_max_fields) time_of_field(text + start, length - start, &end_time);
    }
    fclose(file);
    return end_time;
}

/* Per-particle state of the whole model, from velunor_get_particle_state. */
typedef struct {
    int count;
    int *id, *phase, *status, *material, *section;
    double *x, *v, *a, *rho, *pressure, *energy, *temperature, *h;
} ParticleState;

static void free_state(ParticleState* s) {
    free(s->id);
    free(s->phase);
    free(s->status);
    free(s->material);
    free(s->section);
    free(s->x);
    free(s->v);
    free(s->a);
    free(s->rho);
    free(s->pressure);
    free(s->energy);
    free(s->temperature);
    free(s->h);
    memset(s, 0, sizeof *s);
}

/* Returns a library status, or -2 when memory runs out. */
static int read_state(ParticleState* s) {
    memset(s, 0, sizeof *s);
    int n = 0;
    int status = velunor_get_particle_count(&n);
    if (status != 0) return status;
    const size_t m = n > 0 ? (size_t)n : 1;
    s->id = malloc(m * sizeof(int));
    s->phase = malloc(m * sizeof(int));
    s->status = malloc(m * sizeof(int));
    s->material = malloc(m * sizeof(int));
    s->section = malloc(m * sizeof(int));
    s->x = malloc(3 * m * sizeof(double));
    s->v = malloc(3 * m * sizeof(double));
    s->a = malloc(3 * m * sizeof(double));
    s->rho = malloc(m * sizeof(double));
    s->pressure = malloc(m * sizeof(double));
    s->energy = malloc(m * sizeof(double));
    s->temperature = malloc(m * sizeof(double));
    s->h = malloc(m * sizeof(double));
    if (!s->id || !s->phase || !s->status || !s->material || !s->section || !s->x || !s->v ||
        !s->a || !s->rho || !s->pressure || !s->energy || !s->temperature || !s->h) {
        free_state(s);
        return -2;
    }
    status = velunor_get_particle_state((int)m, s->id, s->phase, s->status, s->material, s->section,
                                        s->x, s->v, s->a, s->rho, s->pressure, s->energy,
                                        s->temperature, s->h, &s->count);
    if (status != 0) free_state(s);
    return status;
}

static int report_state_failure(int status) {
    if (status == -2) {
        tell("error: out of memory reading the particle state\n");
        return exit_failure;
    }
    return report(status);
}

static void format_duration(double seconds, char* out, size_t size) {
    if (!(seconds >= 0.0) || seconds > 1e9) {
        snprintf(out, size, "?");
        return;
    }
    const long s = (long)(seconds + 0.5);
    if (s >= 3600) {
        snprintf(out, size, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
    } else {
        snprintf(out, size, "%ld:%02ld", s / 60, s % 60);
    }
}

static void print_progress(int step, double time, double dt, double end_time, double rate,
                           double left) {
    char percent[32] = "";
    char remaining[48] = "";
    if (end_time > 0.0) {
        snprintf(percent, sizeof percent, "  %5.1f%%", 100.0 * time / end_time);
        char d[24];
        format_duration(left, d, sizeof d);
        snprintf(remaining, sizeof remaining, "  left %s", d);
    }
    fprintf(stderr, "\rstep %d  t %.6e  dt %.3e%s  %.3g particle-steps/s%s\033[K", step, time, dt,
            percent, rate, remaining);
    fflush(stderr);
}

/* Minimum and maximum of `value` over the active particles of one phase;
 * returns their count. */
static int phase_range(const ParticleState* s, int phase, const double* value, double* lo,
                       double* hi) {
    int found = 0;
    *lo = 0.0;
    *hi = 0.0;
    for (int i = 0; i < s->count; ++i) {
        if (s->phase[i] != phase || s->status[i] != VELUNOR_PARTICLE_ACTIVE) continue;
        if (!found || value[i] < *lo) *lo = value[i];
        if (!found || value[i] > *hi) *hi = value[i];
        ++found;
    }
    return found;
}

static int water_range(const ParticleState* s, const double* value, double* lo, double* hi) {
    return phase_range(s, VELUNOR_PHASE_WATER, value, lo, hi);
}

/* Square root of q >= 0 by Newton's iteration from above, which decreases
 * until it settles within an ulp of the root (an infinite q stays infinite):
 * the host links only the library, not the maths library. */
static double square_root(double q) {
    if (!(q > 0.0)) return 0.0;
    double r = q > 1.0 ? q : 1.0;
    for (;;) {
        const double next = 0.5 * (r + q / r);
        if (!(next < r)) return r;
        r = next;
    }
}

/* Largest distance of an active gas particle from `center`: the extent of
 * the gas cloud. The library's bubble radius comes from the particle
 * volumes, which stay fixed while the gas expands, so the growth a user
 * wants to see is measured here from the positions. */
static double gas_extent(const ParticleState* s, const double* center) {
    double largest = 0.0; /* squared */
    for (int i = 0; i < s->count; ++i) {
        if (s->phase[i] != VELUNOR_PHASE_GAS || s->status[i] != VELUNOR_PARTICLE_ACTIVE) continue;
        const double dx = s->x[3 * i] - center[0];
        const double dy = s->x[3 * i + 1] - center[1];
        const double dz = s->x[3 * i + 2] - center[2];
        const double d2 = dx * dx + dy * dy + dz * dz;
        if (d2 > largest) largest = d2;
    }
    return square_root(largest);
}

/* What the gas queries and the particle state say about the gas. */
typedef struct {
    int count;
    double mass, momentum[3], radius, center[3], pressure_lo, pressure_hi, extent;
} GasReport;

/* Fills `g` (count 0 when the model has no active gas particle). The summary
 * runs the diagnostics, so the bubble metrics read after it are current. */
static int gas_report(const ParticleState* s, GasReport* g) {
    memset(g, 0, sizeof *g);
    double volume = 0.0, center[3], mean_pressure = 0.0, max_pressure = 0.0;
    int status = velunor_get_gas_summary(&volume, center, &mean_pressure, &max_pressure);
    double radius_rate = 0.0;
    if (status == 0) status = velunor_get_gas_bubble_metrics(&g->radius, &radius_rate, g->center);
    double density_range[2], dt_limits[3];
    if (status == 0) {
        status = velunor_get_gas_extended_summary(&g->mass, g->momentum, density_range, dt_limits);
    }
    if (status != 0) return status;
    g->count = phase_range(s, VELUNOR_PHASE_GAS, s->pressure, &g->pressure_lo, &g->pressure_hi);
    g->extent = gas_extent(s, g->center);
    return 0;
}

static void print_gas_report(const GasReport* g) {
    say("gas mass         %.9e\n", g->mass);
    say("gas momentum     %.6e %.6e %.6e\n", g->momentum[0], g->momentum[1], g->momentum[2]);
    say("gas equiv radius %.6e\n", g->radius);
    say("gas centre       %.6e %.6e %.6e\n", g->center[0], g->center[1], g->center[2]);
    say("gas pressure     %.6e .. %.6e\n", g->pressure_lo, g->pressure_hi);
}

/* What the explosive queries say about the burn (count 0 when the model has
 * no explosive particles). A particle stays counted once it has burnt, also
 * after it has become product gas. */
typedef struct {
    int count, reacted;
    double progress[3];   /* min, max, mean */
    double released[5];   /* mass, energy, momentum x, y, z */
    double detonation[2]; /* earliest, latest */
    double mass[4];       /* initial, released, remaining, residual */
    double energy[2];     /* released, residual */
    double momentum[3];
} ExplosiveReport;

static int explosive_report(ExplosiveReport* e) {
    memset(e, 0, sizeof *e);
    int status = velunor_get_explosive_summary(&e->count, &e->reacted, e->progress, e->released,
                                               e->detonation);
    if (status == 0)
        status = velunor_get_explosive_release_balance(e->mass, e->energy, e->momentum);
    return status;
}

static void print_explosive_report(const ExplosiveReport* e) {
    say("explosive        %d particles, %d reacted\n", e->count, e->reacted);
    say("burn progress    %.6e mean, %.6e .. %.6e\n", e->progress[2], e->progress[0],
        e->progress[1]);
    say("released mass    %.9e of %.9e\n", e->released[0], e->mass[0]);
    say("released energy  %.9e\n", e->released[1]);
    say("detonation time  %.6e .. %.6e\n", e->detonation[0], e->detonation[1]);
}

/* The solid summary: active and failed counts and its 16 values (mass,
 * momentum x, y, z, kinetic and internal energy, max von Mises, plastic
 * strain min and max, damage min and max, softening min and max, dt_cfl,
 * dt_accel, dt_limit). */
typedef struct {
    int active, failed;
    double values[16];
} SolidReport;

static int solid_report(SolidReport* r) {
    memset(r, 0, sizeof *r);
    return velunor_get_solid_summary(&r->active, &r->failed, r->values, 16);
}

static int has_solids(const SolidReport* r) {
    return r->active > 0 || r->failed > 0;
}

static void print_solid_report(const SolidReport* r) {
    const double* v = r->values;
    say("solid            %d active, %d failed\n", r->active, r->failed);
    say("solid mass       %.9e\n", v[0]);
    say("solid momentum   %.6e %.6e %.6e\n", v[1], v[2], v[3]);
    say("solid energy     %.6e kinetic, %.6e internal\n", v[4], v[5]);
    say("solid von Mises  %.6e max\n", v[6]);
    say("plastic strain   %.6e .. %.6e\n", v[7], v[8]);
    say("solid damage     %.6e .. %.6e\n", v[9], v[10]);
}

/* Number of active particles of one phase. */
static int phase_count(const ParticleState* s, int phase) {
    int n = 0;
    for (int i = 0; i < s->count; ++i) {
        if (s->phase[i] == phase && s->status[i] == VELUNOR_PARTICLE_ACTIVE) ++n;
    }
    return n;
}

/* Per-region blast figures of the run's last summary file (written beside
 * the step output, so only a run with --output has one): the load's target
 * count, the region pressure before its SCALE factor (source mean plus the
 * water mid-range when water is inside) and the total force. */
static double summary_value(const char* text, const char* name) {
    const size_t length = strlen(name);
    for (const char* line = text; line != NULL && *line != '\0';) {
        if (strncmp(line, name, length) == 0 && line[length] == ',') {
            return strtod(line + length + 1, NULL);
        }
        line = strchr(line, '\n');
        if (line != NULL) ++line;
    }
    return 0.0;
}

static void print_blast_report(const char* output, int step) {
    if (output == NULL) return;
    char path[1200];
    snprintf(path, sizeof path, "%s/velunor_%08d_summary.csv", output, step);
    FILE* f = fopen(path, "rb");
    if (f == NULL) return;
    char* text = NULL;
    size_t size = 0, capacity = 0;
    for (;;) {
        if (capacity - size < 4096) {
            char* grown = realloc(text, capacity + 65536);
            if (grown == NULL) break;
            text = grown;
            capacity += 65536;
        }
        const size_t got = fread(text + size, 1, capacity - size - 1, f);
        size += got;
        if (got == 0) break;
    }
    fclose(f);
    if (text == NULL) return;
    text[size] = '\0';
    const int regions = (int)summary_value(text, "blast_regions");
    if (regions > 0) say("blast regions    %d\n", regions);
    for (int r = 1; r <= regions; ++r) {
        char name[96];
#define BLAST_VALUE(base) (snprintf(name, sizeof name, "%s_%d", base, r), summary_value(text, name))
        const double sources = BLAST_VALUE("blast_source_count");
        const double targets = BLAST_VALUE("blast_target_count");
        if (sources == 0.0 && targets == 0.0) {
            say("blast region %-3d no sources or targets (or disabled)\n", r);
            continue;
        }
        double pressure = BLAST_VALUE("blast_source_pressure_mean");
        if (BLAST_VALUE("blast_water_count") > 0.0) {
            pressure += (BLAST_VALUE("blast_water_pressure_min") +
                         BLAST_VALUE("blast_water_pressure_max")) /
                        2.0;
        }
        const double fx = BLAST_VALUE("blast_total_force_x");
        const double fy = BLAST_VALUE("blast_total_force_y");
        const double fz = BLAST_VALUE("blast_total_force_z");
        say("blast region %-3d %.0f targets loaded   pressure %.6e   force %.6e %.6e %.6e\n", r,
            BLAST_VALUE("blast_load_targets"), pressure, fx, fy, fz);
#undef BLAST_VALUE
    }
    free(text);
}

/* What a run did, for its summary. */
typedef struct {
    int step0, step;     /* steps at the start and at the end */
    double t0, time;     /* times at the start and at the end */
    double wall;         /* seconds */
    double start_extent; /* gas extent at the start (ignored without gas) */
    const char* output;  /* --output, or NULL */
    int resumed;         /* started from a restart file */
    const char* restart; /* restart file written at the end, or NULL */
} RunSummary;

static int print_summary(const RunSummary* run) {
    double mass = 0.0, momentum[3] = {0.0, 0.0, 0.0}, max_pressure = 0.0;
    double min_density = 0.0, max_density = 0.0;
    int status =
        velunor_get_water_summary(&mass, momentum, &max_pressure, &min_density, &max_density);
    if (status != 0) return report(status);
    ParticleState s;
    status = read_state(&s);
    if (status != 0) return report_state_failure(status);
    GasReport gas;
    ExplosiveReport explosive;
    SolidReport solid;
    status = gas_report(&s, &gas);
    if (status == 0) status = explosive_report(&explosive);
    if (status == 0) status = solid_report(&solid);
    if (status != 0) {
        free_state(&s);
        return report(status);
    }
    double p_lo, p_hi, rho_lo, rho_hi;
    const int water = water_range(&s, s.pressure, &p_lo, &p_hi);
    water_range(&s, s.rho, &rho_lo, &rho_hi);
    if (run->resumed) say("resumed from     step %d, time %.9e\n", run->step0, run->t0);
    say("steps            %d\n", run->step - run->step0);
    say("simulated time   %.9e\n", run->time);
    say("wall time        %.3f s\n", run->wall);
    /* Burnt explosive particles that became gas are counted as gas. */
    say("particles        %d (water %d", s.count, water);
    if (gas.count > 0) say(", gas %d", gas.count);
    if (explosive.count > 0) say(", explosive %d", phase_count(&s, VELUNOR_PHASE_EXPLOSIVE));
    if (has_solids(&solid)) say(", solid %d", phase_count(&s, VELUNOR_PHASE_SOLID));
    say(")\n");
    say("water mass       %.9e\n", mass);
    say("water momentum   %.6e %.6e %.6e\n", momentum[0], momentum[1], momentum[2]);
    say("pressure range   %.6e .. %.6e\n", p_lo, p_hi);
    say("density range    %.6e .. %.6e\n", rho_lo, rho_hi);
    if (gas.count > 0) {
        print_gas_report(&gas);
        say("gas radius (max) %.6e -> %.6e\n", run->start_extent, gas.extent);
    }
    if (explosive.count > 0) print_explosive_report(&explosive);
    if (has_solids(&solid)) print_solid_report(&solid);
    print_blast_report(run->output, run->step);
    if (run->restart != NULL) say("restart file     %s (step %d)\n", run->restart, run->step);
    free_state(&s);
    return exit_ok;
}

/* The gas extent of the model as it is now; 0 without gas. The particle
 * state is read only when the gas summary reports gas volume, so a model
 * without gas pays nothing for it. */
static int start_gas_extent(double* extent) {
    *extent = 0.0;
    double volume = 0.0, center[3], mean_pressure = 0.0, max_pressure = 0.0;
    int status = velunor_get_gas_summary(&volume, center, &mean_pressure, &max_pressure);
    if (status != 0) return report(status);
    if (!(volume > 0.0)) return exit_ok;
    ParticleState s;
    status = read_state(&s);
    if (status != 0) return report_state_failure(status);
    *extent = gas_extent(&s, center);
    free_state(&s);
    return exit_ok;
}

/* What the library's log says about the deck and the build. The exports
 * reach no names, shell directors or areas and no warning texts, but the
 * library writes them to the log that VELUNOR_LOG names when it is
 * initialized:
 *   warning FILE:LINE: TEXT                       (while the deck is read)
 *   shell section ID particles N director_set A orientation B element C
 *   cloud D area REAL name NAME                   (one line per shell section)
 *   material K NAME, section K NAME               (after a build)
 * The host points VELUNOR_LOG at a private temporary file for its own
 * initialization (or reads the caller's from where it stood) and reads
 * those lines back. */
enum { max_logged_sections = 32, logged_name_size = 80 };

typedef struct {
    int present;
    int particles, director_set, orientation, element, cloud;
    char area[32];
    char name[80];
} ShellSectionLog;

typedef struct {
    int active;      /* the file exists */
    int caller_file; /* the caller's VELUNOR_LOG, kept when dropped */
    long offset;     /* where the lines of this use start */
    int env_set;     /* VELUNOR_LOG points at a temporary file */
    char* saved;     /* the caller's VELUNOR_LOG, NULL when it was unset */
    char path[1024];
    ShellSectionLog sections[max_logged_sections + 1]; /* by section id */
    /* Names by 1-based index; empty when not logged. */
    char material_names[max_logged_sections + 1][logged_name_size];
    char section_names[max_logged_sections + 1][logged_name_size];
    char* warnings; /* "warning: TEXT\n" lines, NULL when there are none */
    size_t warnings_size;
    int unknown_keywords; /* warnings of unknown keywords: the counted ones */
} LibraryLog;

/* Appends one warning line. */
static void add_warning(LibraryLog* log, const char* text) {
    const size_t n = strlen(text);
    char* grown = realloc(log->warnings, log->warnings_size + n + 11);
    if (grown == NULL) return;
    log->warnings = grown;
    memcpy(log->warnings + log->warnings_size, "warning: ", 9);
    memcpy(log->warnings + log->warnings_size + 9, text, n);
    log->warnings_size += n + 10;
    log->warnings[log->warnings_size - 1] = '\n';
    log->warnings[log->warnings_size] = '\0';
    if (strstr(text, ": unknown keyword ") != NULL) ++log->unknown_keywords;
}

/* "material K NAME" or "section K NAME" into `names`. */
static int read_name_line(const char* line, const char* head, char names[][logged_name_size]) {
    const size_t n = strlen(head);
    if (strncmp(line, head, n) != 0) return 0;
    int id = 0, at = -1;
    if (sscanf(line + n, "%d %n", &id, &at) != 1 || at < 0 || id < 1 || id > max_logged_sections) {
        return 0;
    }
    snprintf(names[id], logged_name_size, "%s", line + n + at);
    return 1;
}

/* The log opened at the first line of this use, or NULL. */
static FILE* library_log_open(const LibraryLog* log) {
    if (!log->active) return NULL;
    FILE* in = fopen(log->path, "rb");
    if (in != NULL && fseek(in, log->offset, SEEK_SET) != 0) {
        fclose(in);
        in = NULL;
    }
    return in;
}

/* Reads the lines of this use back; a line that does not parse is skipped. */
static void library_log_read(LibraryLog* log) {
    FILE* in = library_log_open(log);
    if (in == NULL) return;
    char line[2048];
    while (fgets(line, (int)sizeof line, in) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        if (strncmp(line, "warning ", 8) == 0) {
            add_warning(log, line + 8);
            continue;
        }
        if (read_name_line(line, "material ", log->material_names) ||
            read_name_line(line, "section ", log->section_names)) {
            continue;
        }
        ShellSectionLog e;
        memset(&e, 0, sizeof e);
        int id = 0, name_at = -1;
        if (sscanf(line,
                   "shell section %d particles %d director_set %d orientation %d element %d "
                   "cloud %d area %31s name %n",
                   &id, &e.particles, &e.director_set, &e.orientation, &e.element, &e.cloud, e.area,
                   &name_at) != 7 ||
            name_at < 0 || id < 1 || id > max_logged_sections) {
            continue;
        }
        snprintf(e.name, sizeof e.name, "%s", line + name_at);
        e.present = 1;
        log->sections[id] = e;
    }
    fclose(in);
}

/* The deck's warnings on stderr (and into velunor.log once it is open): each
 * one the library named, then how many of the counted ones (the build's: a
 * material no particle uses, an unused orientation, a disabled blast region)
 * have no text. */
static void print_deck_warnings(const LibraryLog* log, FILE* to) {
    if (log->warnings != NULL) fputs(log->warnings, to);
    int count = 0;
    if (velunor_get_input_warning_count(&count) != 0) return;
    if (!log->active) {
        /* No log, no texts: the count is all there is to tell. */
        if (count > 0) {
            fprintf(to, "warning: the deck has %d counted warning%s (no log to name %s)\n", count,
                    count == 1 ? "" : "s", count == 1 ? "it" : "them");
        }
        return;
    }
    const int unnamed = count - log->unknown_keywords;
    if (unnamed > 0) {
        fprintf(to,
                "warning: %d more counted warning%s of the model build (materials that no "
                "particle uses, unused orientations, disabled blast regions)\n",
                unnamed, unnamed == 1 ? "" : "s");
    }
}

/* Points VELUNOR_LOG at a new temporary file, or unsets it when none can be
 * created, so that a VELUNOR_LOG of the caller never decides whether info
 * works; 1 when the file exists. The caller's value is kept for restoring. */
static int library_log_begin_private(LibraryLog* log) {
    memset(log, 0, sizeof *log);
#if defined(_WIN32)
    return 0; /* no mkstemp: info goes without the shell detail */
#else
    const char* old = getenv("VELUNOR_LOG");
    if (old != NULL) {
        log->saved = malloc(strlen(old) + 1);
        if (log->saved == NULL) return 0; /* left as it is: nothing to restore */
        strcpy(log->saved, old);
    }
    log->env_set = 1;
    const char* dir = getenv("TMPDIR");
    if (dir == NULL || dir[0] == '\0') dir = "/tmp";
    const int n = snprintf(log->path, sizeof log->path, "%s/velunor_info_XXXXXX", dir);
    int fd = -1;
    if (n > 0 && (size_t)n < sizeof log->path) fd = mkstemp(log->path);
    if (fd >= 0) {
        close(fd);
        log->active = 1;
        if (setenv("VELUNOR_LOG", log->path, 1) == 0) return 1;
        remove(log->path);
        log->active = 0;
    }
    unsetenv("VELUNOR_LOG");
    return 0;
#endif
}

/* Puts the caller's VELUNOR_LOG back as it was. */
static void library_log_restore_env(LibraryLog* log) {
#if !defined(_WIN32)
    if (log->env_set) {
        if (log->saved != NULL) {
            setenv("VELUNOR_LOG", log->saved, 1);
        } else {
            unsetenv("VELUNOR_LOG");
        }
    }
#endif
    log->env_set = 0;
    free(log->saved);
    log->saved = NULL;
}

/* Gives up the log: no VELUNOR_LOG until restored, no file. */
static void library_log_drop(LibraryLog* log) {
#if !defined(_WIN32)
    if (log->env_set) unsetenv("VELUNOR_LOG");
#endif
    if (log->active && !log->caller_file) remove(log->path);
    log->active = 0;
    free(log->warnings);
    log->warnings = NULL;
    log->warnings_size = 0;
}

/* Size of the log file now; what has been written so far. */
static long library_log_size(const LibraryLog* log) {
    if (!log->active) return 0;
    FILE* in = fopen(log->path, "rb");
    if (in == NULL) return 0;
    long size = 0;
    if (fseek(in, 0, SEEK_END) == 0) size = ftell(in);
    fclose(in);
    return size < 0 ? 0 : size;
}

/* The log a run reads its energy lines from: the caller's VELUNOR_LOG when
 * one is set (its earlier lines are skipped), a private temporary file
 * otherwise. 1 when there is a file to read. */
static int library_log_begin_run(LibraryLog* log) {
    const char* own = getenv("VELUNOR_LOG");
    if (own == NULL || own[0] == '\0') return library_log_begin_private(log);
    memset(log, 0, sizeof *log);
    if (snprintf(log->path, sizeof log->path, "%s", own) >= (int)sizeof log->path) return 0;
    log->active = 1;
    log->caller_file = 1;
    log->offset = library_log_size(log);
    return 1;
}

/* The energy of the particles by phase as the library logs it after a
 * build, a restart read or write and every run call:
 *   energy step N time T water N K I gas N K I explosive N K I solid N K I
 *   shell N K I potential P external_work 0|1
 * (N particles, K kinetic and I internal energy of each phase, P the
 * potential of the body forces). */
enum { energy_phases = 5 };

static const char* const energy_phase_names[energy_phases] = {"water", "gas", "explosive", "solid",
                                                              "shell"};

typedef struct {
    int present;
    int step;
    double time;
    int particles[energy_phases];
    double kinetic[energy_phases], internal[energy_phases];
    double potential;
    int external_work;
} EnergyLine;

static int parse_energy_line(const char* line, EnergyLine* e) {
    memset(e, 0, sizeof *e);
    int n = 0;
    if (sscanf(line, "energy step %d time %lf%n", &e->step, &e->time, &n) != 2) return 0;
    const char* p = line + n;
    for (int k = 0; k < energy_phases; ++k) {
        char name[16];
        if (sscanf(p, " %15s %d %lf %lf%n", name, &e->particles[k], &e->kinetic[k], &e->internal[k],
                   &n) != 4 ||
            strcmp(name, energy_phase_names[k]) != 0) {
            return 0;
        }
        p += n;
    }
    if (sscanf(p, " potential %lf external_work %d", &e->potential, &e->external_work) != 2) {
        return 0;
    }
    e->present = 1;
    return 1;
}

/* The last energy line written before `split` (the start of the stepping)
 * into `start`, the last one written at or after it into `end`. */
static void read_energy_lines(const LibraryLog* log, long split, EnergyLine* start,
                              EnergyLine* end) {
    memset(start, 0, sizeof *start);
    memset(end, 0, sizeof *end);
    FILE* in = library_log_open(log);
    if (in == NULL) return;
    char line[1024];
    long at = log->offset;
    while (fgets(line, (int)sizeof line, in) != NULL) {
        const long next = ftell(in);
        EnergyLine e;
        if (parse_energy_line(line, &e)) *(at < split ? start : end) = e;
        at = next;
    }
    fclose(in);
}

static double energy_total(const EnergyLine* e) {
    double sum = e->potential;
    for (int k = 0; k < energy_phases; ++k) sum += e->kinetic[k] + e->internal[k];
    return sum;
}

/* The share of growth of the total energy beyond which a run without
 * external work is reported: an undamped model stepped stably by either
 * scheme stays well inside it over its run. */
static const double energy_growth_warning = 0.01;

/* Kinetic and internal energy of each phase at the start and the end, the
 * total, and a warning when a run without external work gained energy: the
 * step is then too large for the scheme, or the model is unstable. The
 * measure of growth is the kinetic and internal energy present (the
 * potential of a body force depends on where the origin is). */
static void print_energy(const EnergyLine* start, const EnergyLine* end) {
    if (!start->present || !end->present) return;
    say("energy (J)       kinetic start -> end            internal start -> end\n");
    double scale = 0.0;
    for (int k = 0; k < energy_phases; ++k) {
        if (start->particles[k] == 0 && end->particles[k] == 0) continue;
        say("  %-14s %.6e -> %.6e   %.6e -> %.6e\n", energy_phase_names[k], start->kinetic[k],
            end->kinetic[k], start->internal[k], end->internal[k]);
        const double a = start->kinetic[k] + fabs(start->internal[k]);
        const double b = end->kinetic[k] + fabs(end->internal[k]);
        scale += a > b ? a : b;
    }
    if (start->potential != 0.0 || end->potential != 0.0) {
        say("  %-14s %.6e -> %.6e\n", "body forces", start->potential, end->potential);
    }
    const double gain = energy_total(end) - energy_total(start);
    say("  %-14s %.6e -> %.6e", "total", energy_total(start), energy_total(end));
    if (scale > 0.0) say(" (%+.3f %% of the energy present)", 100.0 * gain / scale);
    say("\n");
    if (!start->external_work && !end->external_work && scale > 0.0 &&
        gain > energy_growth_warning * scale) {
        say("warning: the total energy grew by %.3g %% in a run without external work (more "
            "than %.0f %%): the steps are too large for the scheme; try a smaller SAFETY or "
            "INTEGRATOR=VERLET on *VELUNOR TIME CONTROL\n",
            100.0 * gain / scale, 100.0 * energy_growth_warning);
    }
}

typedef struct {
    const char* deck;
    const char* output;    /* NULL: no step output from the host */
    int interval;          /* 0: the deck's (or the restart file's) interval */
    int restart_every;     /* 0: no restart files */
    const char* resume;    /* restart file to start from, or NULL */
    double progress_every; /* seconds between plain progress lines; 0: none */
    int binary;            /* VTU files with appended binary data */
    int argc;              /* the command line, for velunor.log */
    char** argv;
} RunOptions;

/* Where a run is, and the live progress line. */
typedef struct {
    int step0, step;
    double t0, time;
    double end_time; /* the deck's, as the host reads it */
    int particles;
    double start;      /* wall clock */
    int live;          /* stderr is a terminal */
    int printed;       /* a progress line is showing */
    double shown;      /* wall clock of the last progress line */
    double every;      /* seconds between plain lines (not live); 0: none */
    double next_plain; /* wall clock of the next plain line */
} RunState;

/* Seconds between refreshes of the live line: twice a second, often enough
 * to see it move and rarely enough to read it. */
static const double live_refresh = 0.5;

/* `dt` is the step size to show. No library query here: estimating a step
 * refreshes the solid accelerations and every phase's time-step limits, which
 * the step files and restart files then show, so a terminal would change the
 * results. Called after every step: one clock read (no system call where the
 * C library reads the clock in user space) unless a line is due. */
static void show_progress(RunState* r, double dt) {
    if (!r->live && !(r->every > 0.0)) return;
    const double now = wall_seconds();
    if (r->live) {
        if (r->printed && now - r->shown < live_refresh) return;
    } else if (now < r->next_plain) {
        return;
    }
    r->shown = now;
    const double elapsed = now - r->start;
    const double rate = elapsed > 0.0 ? (double)r->particles * (r->step - r->step0) / elapsed : 0.0;
    const double left = (r->time > r->t0 && r->end_time > r->time)
                            ? elapsed * (r->end_time - r->time) / (r->time - r->t0)
                            : 0.0;
    if (r->live) {
        print_progress(r->step, r->time, dt, r->end_time, rate, left);
        r->printed = 1;
        return;
    }
    /* A batch log gets whole lines, one every `every` seconds. */
    r->next_plain = now + r->every;
    char percent[32] = "", remaining[48] = "", d[24];
    if (r->end_time > 0.0) {
        snprintf(percent, sizeof percent, "  %.1f%%", 100.0 * r->time / r->end_time);
        format_duration(left, d, sizeof d);
        snprintf(remaining, sizeof remaining, "  left %s", d);
    }
    format_duration(elapsed, d, sizeof d);
    fprintf(stderr, "progress: step %d  t %.6e  dt %.3e%s  %.3g particle-steps/s  elapsed %s%s\n",
            r->step, r->time, dt, percent, rate, d, remaining);
    fflush(stderr);
}

/* Ends the progress line before a message or the summary. */
static void end_progress(RunState* r) {
    if (r->printed) fputc('\n', stderr);
    r->printed = 0;
}

/* The library's time and step into `r`; exit_ok, or exit_failure (reported).
 * `*moved` tells whether the step count moved. */
static int take_time(RunState* r, int* moved) {
    double t = 0.0;
    int s = 0;
    const int status = velunor_get_current_time(&t, &s);
    if (status != 0) {
        end_progress(r);
        return report(status);
    }
    *moved = s != r->step;
    if (*moved && t == r->time) {
        /* Steps below the rounding of the current time would repeat forever. */
        end_progress(r);
        tell("error: simulation time no longer advances (step %d, time %.9e)\n", s, t);
        return exit_failure;
    }
    r->time = t;
    r->step = s;
    return exit_ok;
}

/* Runs to the end time through the library's run loop. Each run call takes at
 * most the deck's step count; repeat until a call makes no progress (the end
 * time is reached). */
static int run_calls_to_end(RunState* r) {
    for (;;) {
        const int status = velunor_run_explicit();
        if (status != 0) {
            end_progress(r);
            return report_run_failure(status);
        }
        const double t_before = r->time;
        const int s_before = r->step;
        int moved = 0;
        if (take_time(r, &moved) != exit_ok) return exit_failure;
        if (!moved) return exit_ok;
        show_progress(r, (r->time - t_before) / (r->step - s_before));
        /* No shortcut on the host's own reading of the end time: the library
         * decides where the run ends. */
    }
}

static int write_restart(RunState* r, const char* path) {
    const int status = velunor_write_restart(path);
    if (status == 0) return exit_ok;
    end_progress(r);
    return report(status);
}

/* Runs to the end time one step per library call, writing the restart file
 * after every step that is a multiple of `every` (none when 0); `*written`
 * is the step of the last file written (-1 for none). The host gets control
 * after every step: the progress line moves however many steps the deck's
 * STEPS lets one run call take.
 *
 * This is the library's run loop (estimate, clip the last step at the end
 * time, step), so the run is step for step the one velunor_run_explicit
 * makes: a step that is not the last one is velunor_advance_explicit(dt),
 * which ends at time + dt as the run loop's step does. The last step of the
 * run loop ends at the end time itself, while velunor_advance_explicit ends
 * at time + (end - time), which can miss it by an ulp when the time is below
 * half the end time; that step is left to velunor_run_explicit, which
 * estimates the same step again (the estimate depends only on the state) and
 * lands on the end time. The end time is the host's reading of the deck,
 * which follows the library's; should the library's still lie further, the
 * run calls after the loop take the rest. */
static int step_to_end(RunState* r, int every, const char* restart, int* written) {
    /* every == 0: no restart files; the host steps to show progress. */
    *written = -1;
    while (r->time < r->end_time) {
        double dt = 0.0;
        int status = velunor_estimate_stable_dt(&dt);
        if (status == 0) {
            if (r->time + dt > r->end_time) {
                dt = r->end_time - r->time;
                status = r->time + dt == r->end_time ? velunor_advance_explicit(dt)
                                                     : velunor_run_explicit();
            } else {
                status = velunor_advance_explicit(dt);
            }
        }
        if (status != 0) {
            end_progress(r);
            return report_run_failure(status);
        }
        int moved = 0;
        if (take_time(r, &moved) != exit_ok) return exit_failure;
        if (every > 0 && r->step % every == 0) {
            if (write_restart(r, restart) != exit_ok) return exit_failure;
            *written = r->step;
        }
        show_progress(r, dt);
    }
    return exit_ok;
}

/* velunor_restart.txt in the output directory, or in the current directory
 * without one; trailing blanks of the directory are dropped, as the library
 * drops them from the directory it writes step output into. NULL when
 * memory runs out. */
static char* restart_path(const char* output) {
    static const char name[] = "velunor_restart.txt";
    size_t n = output != NULL ? strlen(output) : 0;
    while (n > 0 && output[n - 1] == ' ') --n;
    char* path = malloc(n + sizeof name + 1);
    if (path == NULL) return NULL;
    if (output != NULL) {
        memcpy(path, output, n);
        path[n] = '/';
        memcpy(path + n + 1, name, sizeof name);
    } else {
        memcpy(path, name, sizeof name);
    }
    return path;
}

/* Creates the output directory and checks that files can be made in it;
 * exit_ok or the reported failure with the reason of the refusal. */
static int prepare_output_directory(const char* dir) {
    const int failed = make_directories(dir);
    if (failed != 0) {
        tell("error: cannot create output directory %s: %s\n", dir, strerror(failed));
        return exit_failure;
    }
#if !defined(_WIN32)
    if (access(dir, W_OK | X_OK) != 0) {
        tell("error: cannot write into output directory %s: %s\n", dir, strerror(errno));
        return exit_failure;
    }
#endif
    return exit_ok;
}

/* velunor.log in the output directory: the command line, then the deck's
 * warnings; everything the run reports after this goes there too. */
static void open_run_log(const char* dir, const RunOptions* o, const LibraryLog* log) {
    const size_t n = strlen(dir) + sizeof "/velunor.log";
    char* path = malloc(n);
    if (path == NULL) return;
    snprintf(path, n, "%s/velunor.log", dir);
    run_log_file = fopen(path, "wb");
    if (run_log_file == NULL) {
        fprintf(stderr, "warning: cannot write %s: %s\n", path, strerror(errno));
    } else {
        fputs("velunor", run_log_file);
        for (int k = 1; k < o->argc; ++k) fprintf(run_log_file, " %s", o->argv[k]);
        fputc('\n', run_log_file);
        print_deck_warnings(log, run_log_file);
    }
    free(path);
}

/* Warns when `dir` already holds files of a series the library writes, which
 * this run's files then join (files of steps this run does not write stay);
 * `earlier` tells which they are. */
static void warn_earlier_series(const char* dir, EarlierSeries* earlier) {
    memset(earlier, 0, sizeof *earlier);
    if (!list_directory(dir, count_series_file, earlier) || earlier->count == 0) return;
    tell(
        "warning: output directory %s already holds %d file%s of an earlier series "
        "(velunor_*.vtu, velunor_*.csv, velunor.pvd); they are kept, and those this run does "
        "not rewrite stay beside its files\n",
        dir, earlier->count, earlier->count == 1 ? "" : "s");
}

static int run_model(const RunOptions* o, const char* restart, const char* dir, LibraryLog* log) {
    EarlierSeries earlier = {0, 0};
    const int logging = library_log_begin_run(log);
    int status = velunor_initialize();
    if (status != 0 && logging && !log->caller_file) {
        /* No private log after all: run without the energy lines and the
         * warning texts. */
        library_log_drop(log);
        status = velunor_initialize();
    }
    library_log_restore_env(log);
    if (status == 0) status = velunor_read_inp(o->deck);
    if (status == 0) status = velunor_build_model();
    /* The warnings of a deck that fails too: they may tell why. */
    library_log_read(log);
    print_deck_warnings(log, stderr);
    /* The restart file replaces the deck's running state but not its end
     * time, step size or step limit. */
    if (status == 0 && o->resume != NULL) status = velunor_read_restart(o->resume);
    if (status != 0) return report(status);
    /* After the restart file, which brings the output settings of the run
     * that wrote it. */
    if (dir != NULL) {
        /* The library checks the directory first, so a refused one (too
         * long) leaves no directories behind. */
        status = velunor_set_output_directory(o->output);
        if (status != 0) return report(status);
        if (prepare_output_directory(dir) != exit_ok) return exit_failure;
        open_run_log(dir, o, log);
        /* Before anything of this run is written. */
        warn_earlier_series(dir, &earlier);
    }
    if (o->interval > 0) {
        status = velunor_set_output_interval(o->interval);
        if (status != 0) return report(status);
    }
    RunState r;
    memset(&r, 0, sizeof r);
    status = velunor_get_particle_count(&r.particles);
    if (status != 0) return report(status);
    double start_extent = 0.0;
    if (start_gas_extent(&start_extent) != exit_ok) return exit_failure;

    r.end_time = deck_end_time(o->deck);
    r.live = velunor_isatty(velunor_fileno(stderr));
    r.every = o->progress_every;
    status = velunor_get_current_time(&r.t0, &r.step0);
    if (status != 0) return report(status);
    r.time = r.t0;
    r.step = r.step0;
    const time_t started = time(NULL);
    /* A ParaView series that shows the start of the run, not just the first
     * interval step. */
    if (dir != NULL) {
        status = velunor_write_output(r.step0, r.t0);
        if (status != 0) return report(status);
    }
    r.start = wall_seconds();
    r.next_plain = r.start + r.every;
    const long stepping_starts = library_log_size(log);
    int written = -1;
    /* Step by step, so that progress shows during a long run; the run calls
     * then take whatever the host's reading of the end time left and log the
     * energy of the end state. */
    if (step_to_end(&r, o->restart_every, restart, &written) != exit_ok) return exit_failure;
    if (run_calls_to_end(&r) != exit_ok) return exit_failure;
    end_progress(&r);
    /* The end state too, unless the interval has just written it. The deck's
     * own interval is not known here, so without --interval a final step on
     * that interval is written twice (same files, same series entry). */
    if (dir != NULL && r.step != r.step0 && !(o->interval > 0 && r.step % o->interval == 0)) {
        status = velunor_write_output(r.step, r.time);
        if (status != 0) return report(status);
    }
    /* Before the summary, whose gas queries move the gas bubble history on:
     * the file holds the state the run ended in. */
    if (o->restart_every > 0 && written != r.step && write_restart(&r, restart) != exit_ok) {
        return exit_failure;
    }
    const RunSummary summary = {.step0 = r.step0,
                                .step = r.step,
                                .t0 = r.t0,
                                .time = r.time,
                                .wall = wall_seconds() - r.start,
                                .start_extent = start_extent,
                                .output = dir,
                                .resumed = o->resume != NULL,
                                .restart = restart};
    if (print_summary(&summary) != exit_ok) return exit_failure;
    EnergyLine start, end;
    read_energy_lines(log, stepping_starts, &start, &end);
    print_energy(&start, &end);
    if (dir != NULL) {
        print_files_written(dir, r.step0, r.step, started, &earlier,
                            restart != NULL ? "velunor_restart.txt" : NULL, run_log_file != NULL);
    }
    return exit_ok;
}

static int cmd_run(const RunOptions* o) {
    char* restart = NULL;
    char* dir = NULL;
    if ((o->restart_every > 0 && (restart = restart_path(o->output)) == NULL) ||
        (o->output != NULL && (dir = trimmed_copy(o->output)) == NULL)) {
        free(restart);
        fprintf(stderr, "error: out of memory\n");
        return exit_failure;
    }
    /* Read by the library at initialization. */
    if (o->binary) {
#if defined(_WIN32)
        _putenv_s("VELUNOR_OUTPUT_FORMAT", "BINARY");
#else
        setenv("VELUNOR_OUTPUT_FORMAT", "BINARY", 1);
#endif
    }
    LibraryLog log;
    const int code = run_model(o, restart, dir, &log);
    library_log_restore_env(&log);
    library_log_drop(&log);
    if (run_log_file != NULL) {
        fclose(run_log_file);
        run_log_file = NULL;
    }
    free(restart);
    free(dir);
    velunor_finalize();
    return code;
}

static const char* phase_name(int phase) {
    static const char* const names[] = {"water",    "gas",          "explosive",
                                        "solid",    "shell",        "boundary",
                                        "coupling", "failed solid", "failed shell"};
    return phase >= 1 && phase <= 9 ? names[phase - 1] : "unknown";
}

/* Prints "label id: count" lines for the distinct values of `ids`, with the
 * name the log gave each id. */
static void print_id_counts(const char* title, const char* label, const int* ids, int n,
                            char names[][logged_name_size]) {
    int max_id = 0;
    for (int i = 0; i < n; ++i) {
        if (ids[i] > max_id) max_id = ids[i];
    }
    printf("%s:\n", title);
    int* counts = calloc((size_t)max_id + 1, sizeof(int));
    if (counts == NULL) return;
    for (int i = 0; i < n; ++i) {
        if (ids[i] >= 0) counts[ids[i]] += 1;
    }
    for (int id = 0; id <= max_id; ++id) {
        if (counts[id] == 0) continue;
        if (id == 0) {
            printf("  %-12s %d particles\n", "none", counts[id]);
            continue;
        }
        printf("  %s %-*d %d particles", label, 11 - (int)strlen(label), id, counts[id]);
        if (id <= max_logged_sections && names[id][0] != '\0') printf(", name %s", names[id]);
        printf("\n");
    }
    free(counts);
}

/* Shell sections and their shell particles (failed ones included), from the
 * particle state, with the name, director sources and total reference area
 * of each section the log describes. The director sources and the area cover
 * the active shell particles the build set up. */
static void print_shell_sections(const ParticleState* s, const LibraryLog* log) {
    int shells = 0, max_id = 0;
    for (int i = 0; i < s->count; ++i) {
        if (s->phase[i] == VELUNOR_PHASE_SHELL || s->phase[i] == VELUNOR_PHASE_SHELL_FAILED) {
            ++shells;
            if (s->section[i] > max_id) max_id = s->section[i];
        }
    }
    if (shells == 0) return;
    int* counts = calloc((size_t)max_id + 1, sizeof(int));
    if (counts == NULL) return;
    for (int i = 0; i < s->count; ++i) {
        if (s->phase[i] == VELUNOR_PHASE_SHELL || s->phase[i] == VELUNOR_PHASE_SHELL_FAILED) {
            counts[s->section[i] > 0 ? s->section[i] : 0] += 1;
        }
    }
    printf("shell sections:\n");
    for (int id = 0; id <= max_id; ++id) {
        if (counts[id] == 0) continue;
        if (id == 0) {
            printf("  %-12s %d particles\n", "none", counts[id]);
            continue;
        }
        const ShellSectionLog* e = id <= max_logged_sections ? &log->sections[id] : NULL;
        if (e == NULL || !e->present) {
            printf("  section %-4d %d particles\n", id, counts[id]);
            continue;
        }
        printf("  section %-4d %d particles, name %s\n", id, counts[id], e->name);
        printf("    directors  %d director set, %d orientation, %d element, %d cloud\n",
               e->director_set, e->orientation, e->element, e->cloud);
        printf("    area       %s\n", e->area);
    }
    free(counts);
}

/* Coupling regions as the exchange sees them: name, listed particles, shell
 * facets, the export, import, load and distribution modes and, when it is
 * imported, the contact state. */
static void print_coupling_regions(void) {
    static const char* const exports[] = {"none", "particles", "facets", "both"};
    static const char* const imports[] = {"none", "force", "facet load", "motion"};
    static const char* const loads[] = {"none", "particle force", "facet force", "pressure",
                                        "traction"};
    static const char* const distributions[] = {"none", "uniform", "area", "mass"};
    int count = 0;
    if (velunor_coupling_get_region_count(&count) != 0 || count < 1) return;
    printf("coupling regions %d\n", count);
    for (int r = 1; r <= count; ++r) {
        char name[80];
        int type = 0, export_mode = 0, import_mode = 0, enabled = 0, particles = 0, facets = 0;
        int load = 0, distribution = 0, contact = 0;
        if (velunor_coupling_get_region_info(r, name, (int)sizeof name, &type, &export_mode,
                                             &import_mode, &enabled, &particles, &facets) != 0 ||
            velunor_coupling_get_region_modes(r, &load, &distribution, &contact) != 0) {
            continue;
        }
        printf(
            "  %-12s %d particles, %d facets, export %s, import %s, load %s, distribution %s%s%s\n",
            name, particles, facets,
            export_mode >= 0 && export_mode <= 3 ? exports[export_mode] : "unknown",
            import_mode >= 0 && import_mode <= 3 ? imports[import_mode] : "unknown",
            load >= 0 && load <= 4 ? loads[load] : "unknown",
            distribution >= 0 && distribution <= 3 ? distributions[distribution] : "unknown",
            contact == 1 ? ", contact state import" : "", enabled ? "" : " (disabled)");
    }
}

static int describe_model(const char* deck, LibraryLog* log) {
    const int logging = library_log_begin_private(log);
    int status = velunor_initialize();
    if (status != 0 && logging) {
        /* The library could not open the log after all: describe the model
         * without the shell detail. */
        library_log_drop(log);
        status = velunor_initialize();
    }
    library_log_restore_env(log);
    if (status == 0) status = velunor_read_inp(deck);
    if (status == 0) status = velunor_build_model();
    /* The warnings of a deck that fails too: they may tell why. */
    library_log_read(log);
    print_deck_warnings(log, stderr);
    if (status != 0) return report(status);
    ParticleState s;
    status = read_state(&s);
    if (status != 0) return report_state_failure(status);
    int warnings = 0;
    status = velunor_get_input_warning_count(&warnings);
    double dt = 0.0;
    if (status == 0) status = velunor_estimate_stable_dt(&dt);
    GasReport gas;
    ExplosiveReport explosive;
    SolidReport solid;
    if (status == 0) status = gas_report(&s, &gas);
    if (status == 0) status = explosive_report(&explosive);
    if (status == 0) status = solid_report(&solid);
    if (status != 0) {
        free_state(&s);
        return report(status);
    }
    printf("deck             %s\n", deck);
    printf("particles        %d\n", s.count);
    int by_phase[10] = {0};
    int inactive = 0;
    for (int i = 0; i < s.count; ++i) {
        by_phase[s.phase[i] >= 1 && s.phase[i] <= 9 ? s.phase[i] : 0] += 1;
        if (s.status[i] != VELUNOR_PARTICLE_ACTIVE) ++inactive;
    }
    printf("phases:\n");
    for (int p = 1; p <= 9; ++p) {
        if (by_phase[p] > 0) printf("  %-12s %d particles\n", phase_name(p), by_phase[p]);
    }
    if (by_phase[0] > 0) printf("  %-12s %d particles\n", "unknown", by_phase[0]);
    printf("not active       %d\n", inactive);
    print_id_counts("materials", "material", s.material, s.count, log->material_names);
    print_id_counts("sections", "section", s.section, s.count, log->section_names);
    printf("warnings         %d\n", warnings);
    printf("stable dt        %.6e\n", dt);
    if (gas.count > 0) {
        print_gas_report(&gas);
        printf("gas radius (max) %.6e\n", gas.extent);
    }
    if (explosive.count > 0) print_explosive_report(&explosive);
    if (has_solids(&solid)) print_solid_report(&solid);
    print_shell_sections(&s, log);
    print_coupling_regions();
    free_state(&s);
    velunor_finalize();
    return exit_ok;
}

/* The layout tag of a restart file into `tag`: 1 when the first line of
 * `path` is a restart header, that is when its first token is
 * VELUNOR_RESTART (tokens end at blanks, tabs and commas, as in the restart
 * reader); the tag is the fifth token, after the library version. Which tags
 * the library reads is left to the library, so a layout it does not know
 * gets its own message rather than being read as a deck. */
static int restart_header_tag(const char* path, char* tag, size_t tag_size) {
    FILE* file = fopen(path, "rb");
    if (file == NULL) return 0;
    char line[deck_line_len + 1];
    const long n = read_deck_line(file, line);
    fclose(file);
    if (n < 0) return 0;
    const char* text = line;
    size_t length = (size_t)n;
    if (length >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        length -= 3;
    }
    tag[0] = '\0';
    size_t k = 0;
    for (int token = 1; token <= 5; ++token) {
        while (k < length && (text[k] == ' ' || text[k] == '\t' || text[k] == ',')) ++k;
        const size_t begin = k;
        while (k < length && text[k] != ' ' && text[k] != '\t' && text[k] != ',') ++k;
        const size_t size = k - begin;
        if (token == 1 && (size != 15 || memcmp(text + begin, "VELUNOR_RESTART", 15) != 0)) {
            return 0;
        }
        if (token == 5) snprintf(tag, tag_size, "%.*s", (int)size, text + begin);
    }
    return 1;
}

/* A restart file read into a fresh library: its layout, time, step and
 * particle count. */
static int describe_restart(const char* path, const char* tag) {
    int status = velunor_initialize();
    if (status == 0) status = velunor_read_restart(path);
    double time = 0.0;
    int step = 0, particles = 0;
    if (status == 0) status = velunor_get_current_time(&time, &step);
    if (status == 0) status = velunor_get_particle_count(&particles);
    const int code = status != 0 ? report(status) : exit_ok;
    if (code == exit_ok) {
        printf("restart          %s\n", path);
        printf("layout           %s\n", tag);
        printf("time             %.9e\n", time);
        printf("step             %d\n", step);
        printf("particles        %d\n", particles);
    }
    velunor_finalize();
    return code;
}

/* The temporary log goes on every path, failures included. */
static int cmd_info(const char* path) {
    char tag[80];
    if (restart_header_tag(path, tag, sizeof tag)) return describe_restart(path, tag);
    LibraryLog log;
    const int code = describe_model(path, &log);
    library_log_restore_env(&log);
    library_log_drop(&log);
    return code;
}

/* A positive 32-bit count given as the value of `option`; exit_ok or the
 * usage error. */
static int parse_count(const char* option, const char* value, int* count) {
    char* stop = NULL;
    errno = 0;
    const long n = strtol(value, &stop, 10);
    if (stop == value || *stop != '\0' || errno != 0 || n <= 0 || n > 2147483647L) {
        char message[64];
        snprintf(message, sizeof message, "%s needs a positive integer, not", option);
        return usage_error(message, value);
    }
    *count = (int)n;
    return exit_ok;
}

/* Seconds for --progress-every: a finite number >= 0. */
static int parse_seconds(const char* option, const char* value, double* seconds) {
    char* stop = NULL;
    errno = 0;
    const double x = strtod(value, &stop);
    if (stop == value || *stop != '\0' || errno != 0 || !(x >= 0.0) || x > 1e9) {
        char message[80];
        snprintf(message, sizeof message, "%s needs a number of seconds >= 0, not", option);
        return usage_error(message, value);
    }
    *seconds = x;
    return exit_ok;
}

/* The options of `velunor run` that take a value: long name, short name. */
static const char* const value_options[][2] = {{"--output", "-o"},
                                               {"--interval", NULL},
                                               {"--restart-every", NULL},
                                               {"--resume", NULL},
                                               {"--progress-every", NULL}};
enum { opt_output, opt_interval, opt_restart_every, opt_resume, opt_progress_every, opt_count };

/* Which value option `arg` is (-1 for none) and its value when it is given
 * as --name=value (`*inline_value`, else NULL). */
static int value_option(const char* arg, const char** inline_value) {
    *inline_value = NULL;
    for (int k = 0; k < opt_count; ++k) {
        const char* name = value_options[k][0];
        const size_t n = strlen(name);
        if (strncmp(arg, name, n) == 0 && (arg[n] == '\0' || arg[n] == '=')) {
            if (arg[n] == '=') *inline_value = arg + n + 1;
            return k;
        }
        if (value_options[k][1] != NULL && strcmp(arg, value_options[k][1]) == 0) return k;
    }
    return -1;
}

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("missing command", NULL);
    const char* command = argv[1];
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0) {
        fputs(usage_text, stdout);
        return exit_ok;
    }
    if (strcmp(command, "--version") == 0) {
        int major = 0, minor = 0, patch = 0;
        if (velunor_get_version(&major, &minor, &patch) != 0) return report(VELUNOR_REJECTED);
        printf("velunor %d.%d.%d\n", major, minor, patch);
        return exit_ok;
    }
    const int is_run = strcmp(command, "run") == 0;
    if (!is_run && strcmp(command, "info") != 0) return usage_error("unknown command", command);

    RunOptions o;
    memset(&o, 0, sizeof o);
    o.progress_every = VELUNOR_PROGRESS_EVERY;
    o.argc = argc;
    o.argv = argv;
    for (int k = 2; k < argc; ++k) {
        const char* arg = argv[k];
        const char* value = NULL;
        const int option = is_run ? value_option(arg, &value) : -1;
        if (option >= 0) {
            const char* name = value_options[option][0];
            if (value == NULL) {
                if (k + 1 >= argc) return usage_error("missing value for", name);
                value = argv[++k];
            }
            int code = exit_ok;
            switch (option) {
                case opt_output:
                case opt_resume:
                    if (value[0] == '\0') return usage_error("empty value for", name);
                    *(option == opt_output ? &o.output : &o.resume) = value;
                    break;
                case opt_interval:
                    code = parse_count(name, value, &o.interval);
                    break;
                case opt_restart_every:
                    code = parse_count(name, value, &o.restart_every);
                    break;
                default:
                    code = parse_seconds(name, value, &o.progress_every);
                    break;
            }
            if (code != exit_ok) return code;
        } else if (is_run && strcmp(arg, "--binary") == 0) {
            o.binary = 1;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return usage_error("unknown option", arg);
        } else if (o.deck == NULL) {
            o.deck = arg;
        } else {
            return usage_error(is_run ? "more than one deck" : "more than one file", arg);
        }
    }
    if (o.deck == NULL)
        return usage_error(is_run ? "missing deck" : "missing deck or restart file", NULL);
    return is_run ? cmd_run(&o) : cmd_info(o.deck);
}

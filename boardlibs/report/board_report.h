/*
 * A board library's error reports on standard error, one line each. A call
 * that fails the same way at every step (a GPIO line that cannot be
 * written, toggled hundreds of times a second) would bury everything else
 * under identical lines: a line printed before is counted instead, and the
 * counts are printed when the library closes, or when the program ends
 * without closing it. Single-threaded, as the libraries are.
 */
#ifndef BOARDLIBS_BOARD_REPORT_H
#define BOARDLIBS_BOARD_REPORT_H

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

enum { BOARD_REPORT_TEXT = 256, BOARD_REPORT_KEPT = 8 };

struct board_report_line {
    char text[BOARD_REPORT_TEXT];
    unsigned long repeats; // not printed since the first
};

struct board_reports;
inline void board_report_repeats(board_reports *reports);

// The lines printed since the library last closed. A line past the kept
// ones is printed each time: it cannot be counted.
struct board_reports {
    board_report_line kept[BOARD_REPORT_KEPT];
    unsigned count;

    ~board_reports() { board_report_repeats(this); } // the program ends
};

// Prints the line (a newline is added), or counts it when it was printed
// since the last board_report_repeats.
inline void board_report(board_reports *reports, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));
inline void board_report(board_reports *reports, const char *fmt, ...)
{
    char text[BOARD_REPORT_TEXT];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    for (unsigned i = 0; i < reports->count; i++) {
        if (strcmp(reports->kept[i].text, text) == 0) {
            reports->kept[i].repeats++;
            return;
        }
    }
    if (reports->count < BOARD_REPORT_KEPT) {
        board_report_line *line = &reports->kept[reports->count++];
        memcpy(line->text, text, strlen(text) + 1);
        line->repeats = 0;
    }
    fprintf(stderr, "%s\n", text);
}

// Prints "LINE (repeated N times)" for each line that came again after it
// was printed, then forgets them all: the next report is printed anew.
inline void board_report_repeats(board_reports *reports)
{
    for (unsigned i = 0; i < reports->count; i++) {
        unsigned long n = reports->kept[i].repeats;
        if (n > 0)
            fprintf(stderr, "%s (repeated %lu %s)\n", reports->kept[i].text, n,
                    n == 1 ? "time" : "times");
    }
    reports->count = 0;
}

#endif

#!/usr/bin/python3
"""Sorts ThreadSanitizer reports into ours and the libraries' own.

    reports.py LOG...

GTK, GLib and WebKit are not built with ThreadSanitizer: it sees their
memory only through the C library calls it intercepts (malloc, free,
memcpy...), and it cannot see their locks (futexes) at all. So blocks that
one of their threads fills and another frees after a hand-over under such
a lock come out as races although both accesses are the library's own.

A report is ours when any of its stacks, read from the top past the
sanitizer's interceptors and the C and C++ runtimes (which act for their
caller), first reaches instrumented code, that is, a frame outside every
shared library. Reports of ours are printed whole; the others are counted.
Exit code 1 when there is a report of ours (or a log that cannot be read),
else 0.

No suppression line makes this cut: "race:" matches any frame of either
stack, and the window thread's own code always runs below GLib's dispatch
frames; "race_top:" sees only the top frame, which for a library's access is
the interceptor; "called_from_lib:" also hides the library's wake-up writes,
the only hand-overs of GLib's that the sanitizer does see.
"""
import re
import sys

RUNTIMES = re.compile(
    r"\((?:[^)]*/)?(?:libtsan|libc|libstdc\+\+|libm|libgcc_s|ld-linux[-\w]*)\.so[.\d]*\+0x")
FRAME = re.compile(r"^\s+#\d+ ")
SHARED_LIBRARY = re.compile(r"\([^)]*\.so[.\d]*\+0x[0-9a-f]+\)\s*$")


def stacks(report):
    """The report's stacks of accesses (or of the event), each a list of frames."""
    result, current, taking = [], None, False
    for line in report.splitlines():
        if FRAME.match(line):
            if taking:
                current.append(line)
            continue
        if current:
            result.append(current)
        current = []
        stripped = line.strip()
        # Where the memory, the mutex or the thread came from, and a sleep
        # the sanitizer took for a hand-over, are no accesses.
        taking = not re.match(r"(Location is|Mutex M\d+.*created at|Thread T\d+.*created by|"
                              r"Thread T\d+ \(.*\) finished|As if synchronized)", stripped)
    if current:
        result.append(current)
    return result


def accessor(stack):
    for frame in stack:
        if RUNTIMES.search(frame):
            continue
        return "library" if SHARED_LIBRARY.search(frame) else "ours"
    return "library"


def main(paths):
    ours, theirs = [], 0
    for path in paths:
        try:
            text = open(path, encoding="utf-8", errors="replace").read()
        except OSError as error:
            print("tsan_reports: %s" % error, file=sys.stderr)
            return 1
        for report in text.split("==================\nWARNING: ThreadSanitizer:")[1:]:
            report = report.split("\n==================")[0]
            if any(accessor(s) == "ours" for s in stacks(report)):
                ours.append(report)
            else:
                theirs += 1
    for report in ours:
        print("WARNING: ThreadSanitizer:" + report + "\n")
    print("tsan_reports: %d report(s) in our code, %d inside uninstrumented libraries"
          % (len(ours), theirs))
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

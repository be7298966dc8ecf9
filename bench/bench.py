#!/usr/bin/python3
"""The updater's benchmark, side by side with curl and wget, in one run.

Runs inside tests/e2e/run_e2e.sh (a virtual display, a session bus and the
accessibility bus); scripts/bench builds everything and starts it so:

    run_e2e.sh --updater BUILD/tavrix-updater bench/bench.py --build BUILD [options]

Rows (--rows picks some):
  1  loopback at full speed: the ceiling (bench_raw_get), curl, wget,
     DownloadToFile alone (bench_download), the real updater
  2  a link limited by nginx's limit_rate: curl and the updater
  3  the updater's peak RSS for a small and a large download
  4  how fast the window's thread answers an AT-SPI read during a download
  5  start-up: exec to the window mapped

Every row's runs go round by round, the tools of a row taking turns, so
that a noisy neighbour hits them all alike; a ratio to curl is the median
of the per-round ratios. Prints one table on stdout, progress on stderr.
"""

import argparse
import datetime
import json
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from harness import spawn  # noqa: E402  (after the path is set)

import payload_server  # noqa: E402
import runners  # noqa: E402
from table import Table, median, percentile, spread  # noqa: E402

FULL_TOOLS = ("ceiling", "curl", "wget", "download", "updater")
TOOL_NAMES = {
    "ceiling": "ceiling: raw GET, 10240-byte recv",
    "curl": "curl -s -o FILE URL",
    "wget": "wget -q -O FILE URL",
    "download": "DownloadToFile + ShowProgress",
    "updater": "updater: 开始更新 -> 下载完成！",
}


def log(text):
    print(text, file=sys.stderr, flush=True)


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="build folder with bench/ programs")
    parser.add_argument("--rows", default="1,2,3,4,5", help="rows to run, e.g. 1,5")
    parser.add_argument("--runs", type=int, default=5, help="rounds of row 1")
    parser.add_argument("--slow-runs", type=int, default=3, help="rounds of row 2")
    parser.add_argument("--memory-runs", type=int, default=3, help="rounds of row 3")
    parser.add_argument("--probe-runs", type=int, default=3, help="downloads of row 4")
    parser.add_argument("--startup-runs", type=int, default=5, help="starts of row 5")
    parser.add_argument("--full-size", default="256M", help="payload of rows 1 and 4")
    parser.add_argument("--slow-size", default="64M", help="payload of row 2")
    parser.add_argument("--memory-sizes", default="16M,1G", help="small,large payloads of row 3")
    parser.add_argument("--rate", default="100", help="row 2's link in Mbit/s")
    parser.add_argument("--probe-interval-ms", type=float, default=5,
                        help="row 4: time between two AT-SPI reads")
    parser.add_argument("--json", help="also write every sample to this file")
    return parser.parse_args()


def machine_line(load_before):
    cores = os.cpu_count()
    model = ""
    try:
        for line in open("/proc/cpuinfo", encoding="utf-8"):
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    load_after = os.getloadavg()[0]
    date = datetime.datetime.now().strftime("%Y-%m-%d %H:%M")
    return (f"Tavrix updater benchmark, {date}, {cores} cores ({model}), "
            f"load average {load_before:.2f} at the start, {load_after:.2f} at the end")


class Bench:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.out_dir = os.path.join(work, "out")
        os.makedirs(self.out_dir)
        self.bench_bin = os.path.join(os.path.abspath(args.build), "bench")
        for program in ("bench_raw_get", "bench_download", "bench_startup_probe"):
            if not os.access(os.path.join(self.bench_bin, program), os.X_OK):
                raise runners.BenchError(f"{program} is missing in {self.bench_bin} "
                                         "(configure with -DUPDATER_BENCH=ON)")
        self.rows = {int(r) for r in args.rows.split(",") if r.strip()}
        self.full = payload_server.parse_size(args.full_size)
        self.slow = payload_server.parse_size(args.slow_size)
        self.memory = [payload_server.parse_size(s) for s in args.memory_sizes.split(",")]
        self.rate = float(args.rate) * 1e6 / 8
        sizes = [self.full, self.slow] + self.memory
        log("bench: writing payloads")
        payload_dir = os.path.join(work, "payload")
        self.names = payload_server.make_payloads(payload_dir, sizes)
        self.server = payload_server.Nginx(work, payload_dir, self.rate, spawn)
        runners.keep_alive(self.server.process.pid)
        self.samples = {}

    def close(self):
        self.server.close()

    def url(self, kind, size):
        return self.server.url(kind, self.names[size])

    def keep(self, key, sample):
        self.samples.setdefault(key, []).append(sample)
        return sample

    # One run of each tool -------------------------------------------

    def run_tool(self, tool, kind, size):
        url = self.url(kind, size)
        output = os.path.join(self.out_dir, f"{tool}.bin")
        if tool == "ceiling":
            argv = [os.path.join(self.bench_bin, "bench_raw_get"), url, output]
        elif tool == "curl":
            argv = ["curl", "-s", "-o", output, url]
        elif tool == "wget":
            argv = ["wget", "-q", "-O", output, url]
        elif tool == "download":
            argv = [os.path.join(self.bench_bin, "bench_download"), url, output]
        else:
            return runners.run_updater(url, self.server.host, size)
        sample = runners.run_command(argv, output, size)
        if tool == "download":
            self.check_reports(sample)
        return sample

    def check_reports(self, sample):
        """Every block got its full report: at least one per 10240 bytes,
        seven captions or more each, and the bar ends full."""
        fields = dict(part.split("=") for part in sample.extra["stdout"].split())
        reports = int(fields["reports"])
        if reports < -(-sample.size // 10240) or int(fields["captions"]) < 7 * reports \
                or int(fields["position"]) != 10000:
            raise runners.BenchError(f"bench_download dropped reports: {fields}")
        sample.extra["reports"] = reports

    # Rows -------------------------------------------------------------

    def row_full(self, table):
        runs = self.args.runs
        for r in range(runs):
            order = FULL_TOOLS[r % len(FULL_TOOLS):] + FULL_TOOLS[:r % len(FULL_TOOLS)]
            for tool in order:
                sample = self.keep(("full", tool), self.run_tool(tool, "full", self.full))
                log(f"bench: row 1 round {r + 1}/{runs} {tool}: {sample.mb_per_s:.0f} MB/s, "
                    f"CPU {sample.cpu:.2f} s")
        curl = self.samples[("full", "curl")]
        table.section(f"1. Loopback at full speed, {payload_server.size_name(self.full)}, "
                      f"{runs} runs")
        table.row("", "MB/s", "CPU s", "vs curl")
        table.row("", "median [min..max]", "median [min..max]", "MB/s  CPU")
        ratios = {}
        for tool in FULL_TOOLS:
            samples = self.samples[("full", tool)]
            speed = median([s.mb_per_s / c.mb_per_s for s, c in zip(samples, curl)])
            cpu = median([s.cpu / c.cpu for s, c in zip(samples, curl) if c.cpu > 0])
            ratios[tool] = (speed, cpu)
            table.row(TOOL_NAMES[tool], spread([s.mb_per_s for s in samples], "{:.0f}"),
                      spread([s.cpu for s in samples], "{:.2f}"), f"{speed:.2f}  {cpu:.2f}")
        self.updater_split(table, self.samples[("full", "updater")], curl)
        reports = [s.extra["reports"] for s in self.samples[("full", "download")]]
        table.lines.append(f"  DownloadToFile: {min(reports)}..{max(reports)} reports a run "
                           f"(>= {-(-self.full // 10240)} blocks), each with 7 captions and "
                           "the position")
        table.target("DownloadToFile MB/s >= 0.9 x curl's", ratios["download"][0], 0.9, True,
                     "x")
        table.target("updater MB/s >= 0.8 x curl's", ratios["updater"][0], 0.8, True, "x")
        table.target("updater CPU <= 1.5 x curl's", ratios["updater"][1], 1.5, False, "x")

    def updater_split(self, table, updater, curl, as_time=False):
        """The updater's run up to its download file's last byte, and what
        follows it: closing, ending the product, the durable install. As
        MB/s, or with as_time as seconds."""
        if not all(s.extra.get("body_done_s") for s in updater):
            return
        if as_time:
            values = [s.extra["body_done_s"] for s in updater]
            ratio = median([v / c.seconds for v, c in zip(values, curl)])
            shown, ratio_format = spread(values, "{:.2f}"), "{:.3f}"
        else:
            values = [s.size / s.extra["body_done_s"] / 1e6 for s in updater]
            ratio = median([v / c.mb_per_s for v, c in zip(values, curl)])
            shown, ratio_format = spread(values, "{:.0f}"), "{:.2f}"
        table.row("  of it, 开始更新 -> last byte in the file", shown, "",
                  ratio_format.format(ratio))
        rest = [(s.seconds - s.extra["body_done_s"]) * 1000 for s in updater]
        table.lines.append(f"  then {spread(rest, '{:.0f}')} ms to 下载完成！: closing the file, "
                           "ending the product, fsync before the rename")

    def row_slow(self, table):
        runs = self.args.slow_runs
        tools = ("curl", "updater")
        for r in range(runs):
            for tool in tools[r % 2:] + tools[:r % 2]:
                sample = self.keep(("slow", tool), self.run_tool(tool, "slow", self.slow))
                log(f"bench: row 2 round {r + 1}/{runs} {tool}: {sample.seconds:.2f} s, "
                    f"CPU {sample.cpu:.2f} s")
        curl = self.samples[("slow", "curl")]
        updater = self.samples[("slow", "updater")]
        table.section(f"2. A {self.args.rate} Mbit/s link (nginx limit_rate), "
                      f"{payload_server.size_name(self.slow)}, {runs} runs")
        table.row("", "time s", "CPU % of a core", "vs curl")
        table.row("", "median [min..max]", "median [min..max]", "time")
        ratio = median([u.seconds / c.seconds for u, c in zip(updater, curl)])
        for tool, samples in (("curl", curl), ("updater", updater)):
            table.row(TOOL_NAMES[tool], spread([s.seconds for s in samples], "{:.2f}"),
                      spread([100 * s.cpu / s.seconds for s in samples], "{:.2f}"),
                      f"{median([s.seconds / c.seconds for s, c in zip(samples, curl)]):.3f}")
        self.updater_split(table, updater, curl, as_time=True)
        table.target("100 Mbit/s: updater time <= 1.02 x curl's", ratio, 1.02, False, "x")
        table.target("100 Mbit/s: updater CPU < 5 % of a core",
                     median([100 * s.cpu / s.seconds for s in updater]), 5, False, "%")

    def row_memory(self, table):
        runs = self.args.memory_runs
        for r in range(runs):
            for size in self.memory:
                sample = self.keep(("memory", size),
                                   runners.run_updater(self.url("full", size), self.server.host,
                                                       size))
                log(f"bench: row 3 round {r + 1}/{runs} {payload_server.size_name(size)}: "
                    f"VmHWM {sample.extra['peak_rss_kib'] / 1024:.1f} MiB")
        table.section(f"3. The updater's peak RSS (VmHWM, its own process), {runs} runs")
        table.row("", "MiB at the end", "MiB before the press", "vs smallest")
        table.row("", "median [min..max]", "median [min..max]")
        peaks = {size: [s.extra["peak_rss_kib"] / 1024 for s in self.samples[("memory", size)]]
                 for size in self.memory}
        smallest = median(peaks[self.memory[0]])
        for size in self.memory:
            before = [s.extra["peak_before_kib"] / 1024 for s in self.samples[("memory", size)]]
            table.row(f"download of {payload_server.size_name(size)}",
                      spread(peaks[size], "{:.1f}"), spread(before, "{:.1f}"),
                      f"{median(peaks[size]) / smallest:.3f}")
        table.target("peak RSS <= 80 MiB", max(median(p) for p in peaks.values()), 80, False,
                     " MiB")
        table.target(f"{payload_server.size_name(self.memory[-1])} peak within 10 % of "
                     f"{payload_server.size_name(self.memory[0])}'s",
                     median(peaks[self.memory[-1]]) / smallest, 1.10, False, "x")

    def row_probes(self, table):
        runs = self.args.probe_runs
        every = self.args.probe_interval_ms / 1000
        for r in range(runs):
            run = runners.UpdaterRun(self.url("full", self.full), self.server.host, self.full)
            try:
                sample = self.keep(("probes",), run.measure(probe_every=every))
            finally:
                run.close()
            probes = sample.extra["probes_ms"]
            log(f"bench: row 4 run {r + 1}/{runs}: {len(probes)} reads, "
                f"max {max(probes, default=float('nan')):.1f} ms")
        probes = [p for s in self.samples[("probes",)] for p in s.extra["probes_ms"]]
        table.section(f"4. The window's thread answering an AT-SPI read of a label during the "
                      f"{payload_server.size_name(self.full)} download")
        table.row(f"{len(probes)} reads from {runs} runs, one per "
                  f"{self.args.probe_interval_ms:g} ms",
                  f"p50 {percentile(probes, 0.5):.1f} ms", f"p99 {percentile(probes, 0.99):.1f} ms",
                  f"max {max(probes, default=float('nan')):.1f} ms")
        table.target("AT-SPI read p99 <= 50 ms", percentile(probes, 0.99), 50, False, " ms")
        table.target("AT-SPI read max <= 200 ms", max(probes, default=float("nan")), 200, False,
                     " ms")

    def row_startup(self, table):
        runs = self.args.startup_runs
        probe = os.path.join(self.bench_bin, "bench_startup_probe")
        times = []
        for r in range(runs):
            times.append(runners.run_startup(probe, self.server.host))
            log(f"bench: row 5 run {r + 1}/{runs}: {times[-1]:.0f} ms")
        self.samples[("startup",)] = times
        table.section(f"5. Start-up, exec to the window mapped, {runs} runs")
        table.row("", "ms")
        table.row("", "median [min..max]")
        table.row("updater", spread(times, "{:.0f}"))
        table.target("start-up median <= 0.5 s", median(times) / 1000, 0.5, False, " s")

    def run(self):
        load_before = os.getloadavg()[0]
        table = Table()
        steps = ((1, self.row_full), (2, self.row_slow), (3, self.row_memory),
                 (4, self.row_probes), (5, self.row_startup))
        for number, step in steps:
            if number in self.rows:
                step(table)
        table.lines.insert(0, machine_line(load_before))
        return table

    def dump(self, path):
        data = {}
        for key, samples in self.samples.items():
            data["/".join(map(str, key))] = [s if isinstance(s, float) else s.as_dict()
                                             for s in samples]
        with open(path, "w", encoding="utf-8") as out:
            json.dump(data, out, indent=1)


def main():
    args = parse_args()
    work = tempfile.mkdtemp(prefix="tavrix-bench-")
    # The updater's run directories go here too: every download lands on
    # the same file system.
    tempfile.tempdir = work
    bench = None
    try:
        bench = Bench(args, work)
        table = bench.run()
        print(table.render(), flush=True)
        if args.json:
            bench.dump(args.json)
        return 0
    except runners.BenchError as error:
        log(f"bench: {error}")
        return 1
    finally:
        if bench is not None:
            bench.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

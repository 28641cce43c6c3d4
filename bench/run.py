#!/usr/bin/env python3
"""Times flowdeal against a plain libpcap copy of the same trace, side by side.

Every case is run several rounds; within a round the commands of one trace run
one after another, and their order alternates between rounds, so that drift on
a shared machine hits all of them alike. Reported: median wall time, median
user+sys time, peak resident memory, and ratios measured within this one run.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# name: make_trace arguments
TRACES = {
    "a": ["--packets", "1500000", "--flows", "200000", "--snaplen", "65535", "--ipv6", "0.2", "--vlan", "0.1",
          "--seed", "1"],
    "b": ["--packets", "10000000", "--flows", "2000000", "--snaplen", "96", "--ipv6", "0.2", "--vlan", "0.1",
          "--seed", "2"],
    # trace b's shape, but the 2 million flows run between 200 thousand pairs of hosts
    "c": ["--packets", "10000000", "--flows", "2000000", "--snaplen", "96", "--ipv6", "0.2", "--vlan", "0.1",
          "--clients", "1000", "--servers", "100", "--seed", "3"],
}

# (case, trace, label, command template); IN and OUT are filled in.
CASES = [
    ("a", "a", "tcpdump -r -w (floor)", ["tcpdump", "-r", "IN", "-w", "OUT/copy.pcap"]),
    ("a", "a", "cp", ["cp", "IN", "OUT/copy.pcap"]),
    ("a", "a", "flowdeal -d, 16", ["FLOWDEAL", "-d", "IN", "OUT/part%d", "16"]),
    ("a", "a", "flowdeal, 16", ["FLOWDEAL", "IN", "OUT/part%d", "16"]),
    ("b", "b", "tcpdump -r -w (floor)", ["tcpdump", "-r", "IN", "-w", "OUT/copy.pcap"]),
    ("b", "b", "cp", ["cp", "IN", "OUT/copy.pcap"]),
    ("b", "b", "flowdeal -d, 16", ["FLOWDEAL", "-d", "IN", "OUT/part%d", "16"]),
    ("b", "b", "flowdeal, 16", ["FLOWDEAL", "IN", "OUT/part%d", "16"]),
    ("c", "c", "tcpdump -r -w (floor)", ["tcpdump", "-r", "IN", "-w", "OUT/copy.pcap"]),
    ("c", "c", "flowdeal --notcp -d, 16", ["FLOWDEAL", "--notcp", "-d", "IN", "OUT/part%d", "16"]),
    ("c", "c", "flowdeal --notcp, 16", ["FLOWDEAL", "--notcp", "IN", "OUT/part%d", "16"]),
    ("d", "a", "flowdeal -d, 256", ["FLOWDEAL", "-d", "IN", "OUT/part%d", "256"]),
    ("d", "a", "flowdeal, 256", ["FLOWDEAL", "IN", "OUT/part%d", "256"]),
    ("e", "b", "flowdeal -d, 256", ["FLOWDEAL", "-d", "IN", "OUT/part%d", "256"]),
    ("e", "b", "flowdeal, 256", ["FLOWDEAL", "IN", "OUT/part%d", "256"]),
]


def trace_path(data, name):
    return os.path.join(data, "trace-%s-%s.pcap" % (name, "-".join(a.lstrip("-") for a in TRACES[name])))


def make_traces(build, data, names):
    os.makedirs(data, exist_ok=True)
    for name in names:
        path = trace_path(data, name)
        if not os.path.exists(path):
            print("generating trace %s ..." % name, file=sys.stderr, flush=True)
            subprocess.run([os.path.join(build, "make_trace")] + TRACES[name] + [path + ".tmp"], check=True)
            os.rename(path + ".tmp", path)


def run_once(command, out_dir):
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    # GNU time measures the command itself: a child forked from this script
    # would report the script's own resident memory as its peak.
    report = os.path.join(os.path.dirname(out_dir), "time.txt")
    status = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", report] + command,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
    if status != 0:
        sys.exit("failed (%d): %s" % (status, " ".join(command)))
    shutil.rmtree(out_dir, ignore_errors=True)
    with open(report) as f:
        wall, user, system, peak_kb = f.read().split()[-4:]
    return float(wall), float(user) + float(system), int(peak_kb) / 1024.0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--data", default=os.path.join(ROOT, "bench", "data"))
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--cases", default="abcde", help="which cases to run, e.g. 'ab'")
    parser.add_argument("--baseline", help="another flowdeal binary, timed beside the build's in the same rounds")
    args = parser.parse_args()

    cases = [c for c in CASES if c[0] in args.cases]
    make_traces(args.build, args.data, sorted({c[1] for c in cases}))
    if args.baseline:
        cases += [(c, t, label + " [baseline]", ["BASELINE" if w == "FLOWDEAL" else w for w in template])
                  for c, t, label, template in cases if label.startswith("flowdeal")]
    flowdeal = os.path.join(args.build, "flowdeal")
    out_dir = os.path.join(args.data, "out")
    results = {i: [] for i in range(len(cases))}
    for round_number in range(args.rounds):
        order = list(range(len(cases)))
        if round_number % 2:
            order.reverse()
        for i in order:
            _, trace, _, template = cases[i]
            binaries = {"FLOWDEAL": flowdeal, "BASELINE": args.baseline}
            command = [binaries[w] if w in binaries else w.replace("IN", trace_path(args.data, trace))
                       .replace("OUT", out_dir) for w in template]
            results[i].append(run_once(command, out_dir))
        print("round %d of %d done" % (round_number + 1, args.rounds), file=sys.stderr, flush=True)

    def median(i, field):
        return statistics.median(r[field] for r in results[i])

    def find(case, label):
        for i, c in enumerate(cases):
            if c[0] == case and c[2] == label:
                return i
        for i, c in enumerate(cases):  # cases d and e share the floor of their trace
            if c[1] == {"d": "a", "e": "b"}.get(case, case) and c[2] == label:
                return i
        return None

    size = {t: os.path.getsize(trace_path(args.data, t)) for t in {c[1] for c in cases}}
    print("| case | command | wall s | user+sys s | peak MB | / floor | / -d |")
    print("|---|---|---:|---:|---:|---:|---:|")
    for i, (case, trace, label, _) in enumerate(cases):
        floor = find(case, "tcpdump -r -w (floor)")
        det_label = label.replace(",", " -d,", 1) if "-d" not in label else None
        det = find(case, det_label) if det_label and label.startswith("flowdeal") else None
        ratio_floor = "%.2f" % (median(i, 0) / median(floor, 0)) if floor is not None else ""
        ratio_det = "%.2f" % (median(i, 0) / median(det, 0)) if det is not None else ""
        print("| %s (%.2f GB) | %s | %.2f | %.2f | %.1f | %s | %s |" % (
            case, size[trace] / 1e9, label, median(i, 0), median(i, 1), median(i, 2), ratio_floor, ratio_det))


if __name__ == "__main__":
    main()

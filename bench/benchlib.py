# SPDX-License-Identifier: GPL-2.0-or-later
"""What the benchmark scripts share: their common options, the module they load and the folder their
runs' logs go to."""

import argparse
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


def parser(doc):
    """An argument parser described by the first paragraph of doc, with --module and --data."""
    ap = argparse.ArgumentParser(description=doc.split("\n\n")[0])
    ap.add_argument("--module", required=True, help="the built stilwane.so")
    ap.add_argument("--data", help="the repository's data/ folder")
    return ap


def add_timed_runs(ap, out_name, seconds_help, out_help):
    """--seconds, --repeat and --out (default out/<out_name> of the checkout)."""
    ap.add_argument("--seconds", type=float, default=20.0, help=seconds_help)
    ap.add_argument("--repeat", type=int, default=1,
                    help="runs per configuration, taken in turns (default 1); the table shows their medians")
    ap.add_argument("--out", default=os.path.join(HERE, "..", "out", out_name), help=out_help)


def timed_runs_args(ap):
    """Parses, checks the timed-run options, points the harness at the module and empties --out."""
    args = ap.parse_args()
    if args.seconds < 5 or args.repeat < 1:
        ap.error("--seconds must be at least 5 and --repeat at least 1")
    use_module(args)
    args.out = os.path.abspath(args.out)
    if os.path.isdir(args.out):
        shutil.rmtree(args.out)
    os.makedirs(args.out)
    return args


def use_module(args):
    """Tells the e2e harness which module and data folder to install into OBS's home."""
    os.environ["STILWANE_MODULE"] = os.path.abspath(args.module)
    if args.data:
        os.environ["STILWANE_DATA"] = os.path.abspath(args.data)


def print_table(rows, left_columns=1):
    """Prints rows of strings as aligned columns, the first left_columns to the left, a rule under the
    heading row."""
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    for n, row in enumerate(rows):
        print("  ".join(v.ljust(w) if i < left_columns else v.rjust(w)
                        for i, (v, w) in enumerate(zip(row, widths))))
        if n == 0:
            print("  ".join("-" * w for w in widths))

# SPDX-License-Identifier: GPL-2.0-or-later
"""Shared parts of the end-to-end tests.

Starting OBS costs seconds, so a test class drives OBS once in setUpClass through a list of phases
and keeps what it saw; its test methods then judge the record. A failed phase does not hide the
others' results: the methods that need it fail with the phase's error and the OBS log tail.
"""

import os
import sys
import time
import traceback
import unittest

import obsharness as h


class PhaseFailed(AssertionError):
    pass


class ObsTestCase(unittest.TestCase):
    session = None
    phase_errors = None
    timings = None
    reported = set()

    @classmethod
    def run_phases(cls, phases):
        """Runs (name, callable) pairs in order; a phase runs only when the ones it needs passed.

        A callable may carry a `needs` attribute: the names of earlier phases it depends on.
        """
        cls.phase_errors = {}
        cls.timings = {}
        cls.reported = set()
        for name, fn in phases:
            missing = [n for n in getattr(fn, "needs", ()) if n in cls.phase_errors or n not in cls.timings]
            if missing:
                cls.phase_errors[name] = "skipped: phase %s failed" % ", ".join(missing)
                continue
            start = time.monotonic()
            try:
                fn()
            except Exception:
                cls.phase_errors[name] = traceback.format_exc()
                # Stop OBS so that the later phases can run and its log is complete.
                current = cls.session.current if cls.session else None
                if current is not None and current.exit is None:
                    current.stop()
                    sys.stderr.write(current.describe())
            cls.timings[name] = time.monotonic() - start
            sys.stderr.write("phase %-22s %5.1f s%s\n" % (name, cls.timings[name],
                                                          "  (failed)" if name in cls.phase_errors else ""))
            sys.stderr.flush()

    def need(self, *names):
        for name in names:
            if self.phase_errors is None:
                raise PhaseFailed("no phase ran")
            if name in self.phase_errors:
                # The whole story once; later tests point back to it.
                if name in type(self).reported:
                    raise PhaseFailed("phase %s failed (details in the first failure that names it)" % name)
                type(self).reported.add(name)
                raise PhaseFailed("phase %s failed:\n%s" % (name, self.phase_errors[name]))
            if name not in self.timings:
                raise PhaseFailed("phase %s did not run" % name)

    # -- assertions with the log tail in their messages ---------------------------------------------

    def assertLogHas(self, run, pattern, msg=""):
        m = h.re.search(pattern, run.log_text(), h.re.M)
        if not m:
            self.fail("%s\nthe OBS log lacks /%s/\n%s" % (msg, pattern, run.describe()))
        return m

    def assertCleanExit(self, run):
        ex = run.exit
        self.assertIsNotNone(ex, "OBS run %d was never stopped" % run.index)
        problems = []
        if ex.killed:
            problems.append("OBS did not end within the timeout after SIGINT and was killed")
        if ex.returncode != 0:
            problems.append("OBS ended with %s" % h.describe_status(ex.returncode))
        if ex.leaks is None:
            problems.append("the log lacks 'Number of memory leaks' (OBS did not finish its shutdown)")
        if problems:
            self.fail("; ".join(problems) + "\n" + run.describe())


def main():
    # Line-buffered output keeps ctest's log in order when a timeout kills the test.
    sys.stdout.reconfigure(line_buffering=True)
    sys.stderr.reconfigure(line_buffering=True)
    unittest.main(verbosity=2)


def canvas_list_named(response, name=h.CANVAS_NAME):
    """The entries of a GetCanvasList response with the name."""
    return [c for c in response.get("canvases", []) if c.get("canvasName") == name]



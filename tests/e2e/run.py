"""Runs test modules as ctest asks (`run.py MODULE...`), verbosely, and adds
each skip, with its test and reason, to the file that $FRAMELATCH_SKIP_LOG
names, where the run's last line counts them. Exits with 77 (what ctest
counts as a skipped test) when tests were skipped and none passed."""
import os
import sys
import unittest

SKIPPED = 77


class SkipRecordingResult(unittest.TextTestResult):
    passed = 0

    def addSuccess(self, test):
        super().addSuccess(test)
        self.passed += 1

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        if log := os.environ.get("FRAMELATCH_SKIP_LOG"):
            with open(log, "a", encoding="utf-8") as skips:
                skips.write(f"{test.id()}\t{' '.join(reason.split())}\n")


def main(modules):
    suite = unittest.defaultTestLoader.loadTestsFromNames(modules)
    result = unittest.TextTestRunner(verbosity=2, resultclass=SkipRecordingResult).run(suite)
    if not result.wasSuccessful():
        return 1
    # Skipped only where nothing passed: a skipped class or subtest beside tests that ran is not.
    return SKIPPED if result.skipped and not result.passed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

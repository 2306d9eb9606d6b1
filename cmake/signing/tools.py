"""The tools the signing step runs, and how it fails: each tool with no
standard input but what it is given, in a process group of its own that is
ended whole at its time limit, and every failure one line."""
import os
import re
import signal
import subprocess

TOOL_SECONDS = 120


class SigningFailed(Exception):
    """Why a release is not made, in one line."""


def run(command, seconds=TOOL_SECONDS, secret=None, what=None):
    """(exit status, output) of a command; past `seconds` its whole process
    group is killed and the step fails."""
    what = what or os.path.basename(str(command[0]))
    try:
        child = subprocess.Popen([str(part) for part in command], start_new_session=True,
                                 stdin=subprocess.DEVNULL if secret is None else subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as error:
        raise SigningFailed(f"{what} cannot be run: {error.strerror}") from None
    try:
        output, _ = child.communicate(None if secret is None else secret.encode(), timeout=seconds)
    except subprocess.TimeoutExpired:
        # The child is not reaped yet, so its group's number is still its own.
        os.killpg(child.pid, signal.SIGKILL)
        child.communicate()
        raise SigningFailed(f"{what} did not finish within {seconds} s") from None
    return child.returncode, output.decode(errors="replace")


def openssl(*arguments):
    return run(["openssl", *arguments])


def reason(output, known):
    """The first of `known` (pattern, reason) that the output shows, else the
    tool's last line that says something."""
    for pattern, said in known:
        if re.search(pattern, output):
            return said
    lines = [line.strip() for line in output.splitlines() if line.strip()]
    return f"it said \"{lines[-1]}\"" if lines else "it said nothing"

#!/usr/bin/env python3
"""Runs a command on a new pseudo-terminal, as a person at a terminal would,
and types ANSWER (plus Enter) the first time the command's output matches
PROMPT. Everything the command writes is copied to standard output. A
second prompt is not answered: the command then waits for input, so the
caller's timeout ends it, and that is reported.

  answer-on-terminal.py [--timeout S] [--forward-stdin] PROMPT ANSWER -- COMMAND...

With --forward-stdin, what arrives on this program's standard input is
typed on the terminal as it comes, and its end is typed as Ctrl-D: a
caller feeds an interactive command line by line, whenever it is ready.

Exits with the command's status, 124 on timeout, 125 when the command
prompted again after the answer.
"""
import argparse
import os
import pty
import re
import select
import signal
import sys
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--timeout", type=float, default=60)
    parser.add_argument("--forward-stdin", action="store_true")
    parser.add_argument("prompt")
    parser.add_argument("answer")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    pid, master = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    prompt = re.compile(args.prompt.encode())
    seen = b""
    answered = 0
    deadline = time.monotonic() + args.timeout
    sources = [master] + ([sys.stdin.fileno()] if args.forward_stdin else [])
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            os.kill(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            print(f"\nanswer-on-terminal: no end within {args.timeout:.0f} s", file=sys.stderr)
            return 125 if answered > 1 else 124
        ready, _, _ = select.select(sources, [], [], min(left, 0.5))
        if not ready:
            continue
        if sources[-1] in ready and sources[-1] != master:
            typed = os.read(sources[-1], 4096)
            os.write(master, typed if typed else b"\x04")
            if not typed:
                sources.pop()
            if master not in ready:
                continue
        try:
            chunk = os.read(master, 4096)
        except OSError:  # EIO: the terminal's last user is gone
            chunk = b""
        if not chunk:
            break
        sys.stdout.buffer.write(chunk)
        sys.stdout.flush()
        seen += chunk
        while prompt.search(seen):
            seen = seen[prompt.search(seen).end():]
            answered += 1
            if answered == 1:
                # Typed too early, the answer lands before the asking
                # program turns echo off and flushes its input.
                time.sleep(1)
                os.write(master, args.answer.encode() + b"\n")
            else:
                print("\nanswer-on-terminal: asked again", file=sys.stderr)
    _, status = os.waitpid(pid, 0)
    if answered > 1:
        return 125
    return os.waitstatus_to_exitcode(status) if os.waitstatus_to_exitcode(status) >= 0 else 128 - os.waitstatus_to_exitcode(status)


if __name__ == "__main__":
    sys.exit(main())

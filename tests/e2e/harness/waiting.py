"""Waiting for a condition with a deadline: the only way these tests wait."""

import time


class WaitTimeout(AssertionError):
    """A condition did not hold before its deadline (a test failure)."""


def wait_until(predicate, timeout, what, interval=0.05, stop_on=()):
    """Calls predicate until it returns something truthy and returns that.

    Exceptions from predicate count as "not yet" (the thing may not exist
    yet); the last one is reported if the deadline passes. `what` describes
    the condition for the failure message; it may be a callable giving a
    fresh description at the moment of failure. Exceptions of the types in
    stop_on end the wait at once and propagate (the awaited thing can no
    longer come, e.g. its process ended).
    """
    deadline = time.monotonic() + timeout
    last_error = None
    last_value = None
    while True:
        try:
            last_value = predicate()
            last_error = None
            if last_value:
                return last_value
        except stop_on:
            raise
        except Exception as error:  # the object may not exist yet
            last_error = error
        if time.monotonic() >= deadline:
            description = what() if callable(what) else what
            detail = f"last error: {last_error!r}" if last_error else f"last value: {last_value!r}"
            raise WaitTimeout(f"waited {timeout} s for {description}; {detail}")
        time.sleep(interval)

"""The one exception the command line turns into an error line and an exit code."""

# Exit codes: 1 for a failure while working (a missing file, a bad model or input),
# 2 for a bad command line.
EXIT_FAILURE = 1
EXIT_USAGE = 2


class CliError(Exception):
    def __init__(self, message: str, code: int = EXIT_FAILURE):
        super().__init__(message)
        self.code = code


def describe_os_error(error: OSError) -> str:
    """The text of an OSError without Python's "[Errno N]" decoration."""
    if error.strerror:
        return error.strerror
    return str(error)

"""The one exception the command line turns into an error line; the one mapper of file errors."""

import re

# Exit codes: 1 for a failure while working (a missing file, a bad model or input),
# 2 for a bad command line, 130 for Ctrl-C (128 + SIGINT, as shells report it).
EXIT_FAILURE = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130


class CliError(Exception):
    def __init__(self, message: str, code: int = EXIT_FAILURE):
        super().__init__(message)
        self.code = code


# The extension appends the code to the system's text.
_CODE = re.compile(r" \(os error \d+\)$")


def reason(error: OSError) -> str:
    """The system's text for an OSError, without Python's "[Errno N]" decoration."""
    return _CODE.sub("", error.strerror or str(error))


def file_error(action: str, name: str, error: OSError) -> CliError:
    """`action` is what was being done ("read", "write", "create the folder")."""
    return CliError(f"cannot {action} {name}: {reason(error)}")

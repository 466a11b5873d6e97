from typing import SupportsIndex, TypedDict, final

__all__ = ["__version__", "check_form", "submission_findings", "eval_expression", "Session"]

__version__: str

# The three functions release the GIL while the engine works; every call ends
# with the exception of a signal handler that raises meanwhile.

def check_form(form: str) -> list[dict[str, str | None]]:
    """Will this form mean the same thing on a tablet and in a browser?"""

def submission_findings(
    form: str, submission: str, today: str | None = None, now: str | None = None
) -> list[dict[str, str]]:
    """What a form's own rules say about a submission."""

def eval_expression(
    expression: str, submission: str, today: str | None = None, now: str | None = None
) -> str:
    """Evaluate one expression against a submission, for working out what a
    rule does before writing it into a form."""

class _Recomputed(TypedDict):
    calculated: dict[str, str]
    relevant: dict[str, bool]
    missing: list[str]
    invalid: list[tuple[str, str]]
    failed: list[tuple[str, str]]
    repeats: dict[str, int]

@final
class Session:
    """A form being filled in."""

    def __new__(
        cls, form: str, instance: str | None = None, today: str | None = None, now: str | None = None
    ) -> Session: ...
    def set(self, path: str, value: str) -> None:
        """Answer a question."""
    def get(self, path: str) -> str:
        """The current answer, or the empty string."""
    def add_row(self, path: str) -> int:
        """Add a row to a repeat; returns how many there are now."""
    def remove_row(self, path: str, position: SupportsIndex) -> int:
        """Remove one row, counted from 1 as XPath counts."""
    def recompute(self) -> _Recomputed:
        """Run the form's logic and apply what it derives."""
    def choices(self, path: str) -> list[dict[str, str]] | None:
        """The choices a filtered question offers right now, or `None` when its
        list is fixed."""
    def instance_xml(self) -> str:
        """The instance as it would be submitted."""

"""The benchmark's one table: rows of median [min..max] and the targets."""

import math
import statistics
import unicodedata


def median(values):
    return statistics.median(values) if values else float("nan")


def spread(values, fmt):
    """'med [min..max]' of values, each formatted with fmt."""
    if not values:
        return "-"
    return f"{fmt.format(median(values))} [{fmt.format(min(values))}..{fmt.format(max(values))}]"


def _width(text):
    """Columns that text takes in a terminal: CJK characters take two."""
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def _pad(text, width, left):
    fill = " " * max(0, width - _width(text))
    return text + fill if left else fill + text


def percentile(values, fraction):
    """The nearest-rank percentile of values."""
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    rank = max(1, min(len(ordered), math.ceil(fraction * len(ordered))))
    return ordered[rank - 1]


class Table:
    def __init__(self):
        self.lines = []
        self.targets = []

    def title(self, text):
        self.lines.append(text)

    def section(self, text):
        self.lines.append("")
        self.lines.append(text)

    def row(self, *cells, widths=(40, 22, 22, 14)):
        parts = []
        for i, cell in enumerate(cells):
            width = widths[i] if i < len(widths) else 12
            parts.append(_pad(cell, width, left=(i == 0)))
        self.lines.append("  " + "".join(parts).rstrip())

    def target(self, text, value, limit, higher_is_better, unit=""):
        """A target: value against limit. Missing values count as missed."""
        if value != value:  # NaN: not measured
            verdict = "not measured"
        elif (value >= limit) if higher_is_better else (value <= limit):
            verdict = "met"
        else:
            verdict = "MISSED"
        # Ratios with three decimals, so that 1.015 against 1.02 reads right.
        number = f"{value:.3f}" if unit == "x" else f"{value:.3g}"
        shown = "-" if value != value else number + unit
        self.targets.append((text, shown, verdict))

    def render(self):
        out = list(self.lines)
        if self.targets:
            out.append("")
            out.append("Targets")
            for text, shown, verdict in self.targets:
                out.append(f"  {_pad(text, 52, True)}{_pad(shown, 12, False)}   {verdict}")
        return "\n".join(out)

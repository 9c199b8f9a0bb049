"""Paired rounds for the bench scripts: every round runs each contestant once,
in an order that changes from round to round, and the figures are medians of
the per-round values, so a slow moment of the machine hits one round, not one
contestant."""
import statistics


def orders(contestants, rounds):
    """Round r runs the contestants rotated by r: each goes first in turn."""
    n = len(contestants)
    for r in range(rounds):
        yield contestants[r % n:] + contestants[:r % n]


def median_ratio(rows, num, den):
    """Median over the rounds of rows[r][num] / rows[r][den]."""
    return statistics.median(row[num] / row[den] for row in rows)


def spread(values):
    values = sorted(values)
    return f"{values[0]:.2f}..{values[-1]:.2f}"

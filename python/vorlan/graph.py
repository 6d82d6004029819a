"""Filter graphs from Python: the loaded prototypes, graph files loaded,
changed by setting name and run as `vorlan --run` runs them."""
from __future__ import annotations

import json
import os
from dataclasses import dataclass, field
from typing import Any, Mapping

import numpy as np

from . import _vorlan
from ._vorlan import Error


def filters() -> list[dict[str, Any]]:
    """Every loaded filter prototype with its pins and settings description,
    as `vorlan --inspect --json` lists them (name, id, version, library,
    pins, settings)."""
    return [json.loads(text) for text in _vorlan._prototypes()]


def rejected_libraries() -> list[tuple[str, str]]:
    """Plug-in files that were found but not loaded, with the reason."""
    return list(_vorlan._rejected())


@dataclass
class Display:
    """The planes an RGB or mono display node received: `array` is (rows,
    columns) float64 for a mono display, (rows, columns, 3) for an RGB one
    (R, G, B), None with `problem` saying why there is no picture; `ranges`
    holds each plane's declared (min, max)."""
    node: int
    caption: str
    array: np.ndarray | None
    ranges: list[tuple[float, float]]
    problem: str = ''


@dataclass
class RunReport:
    """How a run ended and what it produced.

    record: the `vorlan --run --report` record (format "vorlan-run-report"),
    with every node's state, result, times, outputs and files.
    texts: the value each text display showed, by caption ("%i", "%f" or the
    text, as the window shows it). displays: the RGB and mono displays, by
    caption. A caption used twice is keyed "caption#<node id>" the second time.
    """
    exit_code: int
    outcome: str
    record: dict[str, Any]
    texts: dict[str, str] = field(default_factory=dict)
    text_types: dict[str, str] = field(default_factory=dict)
    displays: dict[str, Display] = field(default_factory=dict)

    @property
    def ok(self) -> bool:
        return self.exit_code == 0

    @property
    def planes(self) -> dict[str, np.ndarray]:
        """The arrays of the displays that received a picture, by caption."""
        return {k: d.array for k, d in self.displays.items() if d.array is not None}


class RunError(Error):
    """A run that did not end Done; `report` says how far it came."""

    def __init__(self, message: str, report: RunReport):
        super().__init__(message)
        self.report = report


def _key(table: Mapping[str, Any], caption: str, node: int) -> str:
    return caption if caption not in table else f'{caption}#{node}'


def _value_text(value: Any) -> str:
    if isinstance(value, (bool, np.bool_)):
        return '1' if value else '0'
    if isinstance(value, (int, np.integer)):
        return str(int(value))
    if isinstance(value, (float, np.floating)):
        return repr(float(value))
    if isinstance(value, (str, os.PathLike)):
        return os.fspath(value)
    raise Error(f'{type(value).__name__} is not a setting value (a number, a flag, a choice name or a text)')


class Graph:
    """A filter graph: `Graph.load(path)`, `graph.set("encoder.maxRanges", 500)`,
    `graph.run(paths={"source": "in.bmp"})`, `graph.save(path)`.

    Settings set by name are checked by their filters when the graph runs,
    as `vorlan --run --set` checks them. Paths given to `run` stay set."""

    def __init__(self) -> None:
        self._graph = _vorlan._Graph()

    @classmethod
    def load(cls, path: str | os.PathLike) -> 'Graph':
        """A graph file or its text form (told apart by content)."""
        graph = cls()
        graph._graph.load(os.fspath(path))
        return graph

    def save(self, path: str | os.PathLike, *, text: bool = False) -> None:
        """Writes the graph file (or its text form with text=True)."""
        self._graph.save(os.fspath(path), bool(text))

    def set(self, target: str, value: Any) -> None:
        """Sets the field on every node with that caption: "CAPTION.FIELD"."""
        self._graph.set(target, _value_text(value))

    def get(self, target: str) -> str:
        """The field's value as `--set` would write it: "CAPTION.FIELD"."""
        return self._graph.get(target)

    @property
    def nodes(self) -> list[dict[str, Any]]:
        """id, caption, filter name and filter id of every node, in run order."""
        return self._graph.nodes()

    @property
    def warnings(self) -> list[str]:
        """What loading dropped (edges naming missing nodes or pins)."""
        return self._graph.warnings()

    def run(self, paths: Mapping[str, str | os.PathLike] | None = None, timeout: float | None = None) -> RunReport:
        """Runs the graph to its end, the GIL released, and returns its report.

        paths: file-stream captions to files, as --path CAPTION=FILE.
        timeout: seconds after which the run is stopped and RunError raised.
        Ctrl+C stops the run as SIGINT stops `vorlan --run` and raises
        KeyboardInterrupt once it has ended. A run that fails raises RunError
        with the filter's reason and the report."""
        pairs = [(caption, os.fspath(path)) for caption, path in (paths or {}).items()]
        if timeout is not None and not (isinstance(timeout, (int, float)) and timeout > 0):
            raise Error(f'timeout must be a positive number of seconds, not {timeout!r}')
        code, outcome, _interrupted, _timed_out, record, texts, planes = self._graph.run(pairs, float(timeout or 0))
        report = RunReport(code, outcome, json.loads(record))
        for node, caption, value, kind in texts:
            key = _key(report.texts, caption, node)
            report.texts[key] = value
            report.text_types[key] = kind
        for node, caption, array, ranges, problem in planes:
            report.displays[_key(report.displays, caption, node)] = Display(node, caption, array, list(ranges), problem)
        if not report.ok:
            raise RunError(outcome, report)
        return report

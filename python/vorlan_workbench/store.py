"""The sweep's results in one SQLite file: a row per (picture content hash,
codec, settings, target), written one transaction per row, so that a sweep
stopped at any moment leaves whole rows only and resumes with the rest.

Tables (format `vorlan-sweep`, version 1, in `meta`):

  meta(key, value)        format, version
  results                 one row per point, `key` its identity (see row_key)

A row's status is 'done' (every measure filled in) or 'failed' (`reason`
says why: a damaged picture, a tool that failed, a setting the graph
refused). Times are seconds, rates bits per pixel, PSNR dB.
"""
from __future__ import annotations

import hashlib
import json
import sqlite3
from typing import Any, Iterable, Iterator, Optional

FORMAT = 'vorlan-sweep'
VERSION = 1

COLUMNS = (
    ('key', 'TEXT PRIMARY KEY'),
    ('picture', 'TEXT NOT NULL'),        # content hash of the samples swept (pictures.content_hash)
    ('name', 'TEXT NOT NULL'),           # the picture's file name as given
    ('width', 'INTEGER'),
    ('height', 'INTEGER'),
    ('colour', 'INTEGER NOT NULL'),      # 1: swept in colour, 0: as grey
    ('codec', 'TEXT NOT NULL'),
    ('settings', 'TEXT NOT NULL'),       # canonical JSON object: CAPTION.FIELD -> value text
    ('target', 'REAL'),                  # target bits per pixel; NULL for a grid point without one
    ('status', "TEXT NOT NULL CHECK (status IN ('done', 'failed'))"),
    ('reason', 'TEXT'),
    ('bytes', 'INTEGER'),
    ('bpp', 'REAL'),
    ('psnr', 'REAL'),
    ('ssim', 'REAL'),
    ('encode_seconds', 'REAL'),
    ('decode_seconds', 'REAL'),
    ('knob', 'REAL'),                    # the rival's quality knob, or Vorlan's maxRanges
    ('attempts', 'INTEGER'),             # encodes the rate search made
    ('runs', 'TEXT'),                    # JSON list of the vorlan --report records of the point
    ('program', 'TEXT NOT NULL'),        # e.g. "vorlan-sweep 1.0; vorlan 1.0"
    ('finished', 'TEXT NOT NULL'),       # UTC, ISO 8601
)
NAMES = tuple(name for name, _ in COLUMNS)
# Columns that hold times: they differ between two computations of one row.
TIME_COLUMNS = ('encode_seconds', 'decode_seconds', 'finished')


class StoreError(RuntimeError):
    """The database file cannot be used (not SQLite, another format, a newer
    version)."""


def canonical_settings(settings: dict[str, str]) -> str:
    return json.dumps(settings, sort_keys=True, separators=(',', ':'), ensure_ascii=False)


def row_key(picture: str, colour: bool, codec: str, settings: dict[str, str], target: Optional[float]) -> str:
    """The identity of a point: SHA-256 of its picture hash, colour flag,
    codec, canonical settings and target (repr of the float, or null)."""
    ident = json.dumps([picture, bool(colour), codec, canonical_settings(settings),
                        None if target is None else repr(float(target))], separators=(',', ':'))
    return hashlib.sha256(ident.encode()).hexdigest()


class Store:
    """An open results database. Only one process writes it: the sweep's
    client (workers return rows to it)."""

    def __init__(self, path: str):
        self.path = path
        try:
            self.db = sqlite3.connect(path, timeout=30.0, isolation_level=None)
            self.db.execute('PRAGMA journal_mode=WAL')
            self.db.execute('PRAGMA synchronous=NORMAL')
            self._prepare()
        except sqlite3.DatabaseError as error:
            raise StoreError(f'{path}: not a sweep database ({error})') from error

    def _prepare(self) -> None:
        with self.db:
            self.db.execute('BEGIN IMMEDIATE')
            self.db.execute('CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)')
            meta = dict(self.db.execute('SELECT key, value FROM meta'))
            tables = {r[0] for r in self.db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
            if not meta:
                if tables - {'meta'}:
                    raise StoreError(f'{self.path}: an SQLite file of another program')
                self.db.executemany('INSERT INTO meta VALUES (?, ?)', [('format', FORMAT), ('version', str(VERSION))])
                columns = ', '.join(f'{n} {t}' for n, t in COLUMNS)
                self.db.execute(f'CREATE TABLE results ({columns})')
                self.db.execute('CREATE INDEX results_curve ON results (picture, codec, settings)')
            elif meta.get('format') != FORMAT:
                raise StoreError(f'{self.path}: a database of format {meta.get("format")!r}, not {FORMAT}')
            elif not meta.get('version', '').isdigit() or int(meta['version']) > VERSION:
                raise StoreError(f'{self.path}: version {meta.get("version")} of the sweep database; '
                                 f'this vorlan-sweep reads version {VERSION}')

    def close(self) -> None:
        self.db.close()

    def __enter__(self) -> 'Store':
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def statuses(self, keys: Optional[Iterable[str]] = None) -> dict[str, str]:
        """Status ('done' or 'failed') of every stored row, or of those of
        `keys` that are stored."""
        if keys is None:
            return dict(self.db.execute('SELECT key, status FROM results'))
        found: dict[str, str] = {}
        keys = list(keys)
        for i in range(0, len(keys), 500):
            chunk = keys[i:i + 500]
            marks = ','.join('?' * len(chunk))
            found.update(self.db.execute(f'SELECT key, status FROM results WHERE key IN ({marks})', chunk))
        return found

    def put(self, row: dict[str, Any]) -> None:
        """Writes one row in a transaction of its own (a failed row is replaced
        when it is computed again)."""
        unknown = set(row) - set(NAMES)
        if unknown:
            raise ValueError(f'unknown columns {sorted(unknown)}')
        values = [row.get(n) for n in NAMES]
        with self.db:
            self.db.execute('BEGIN IMMEDIATE')
            self.db.execute(f'INSERT OR REPLACE INTO results ({", ".join(NAMES)}) '
                            f'VALUES ({", ".join("?" * len(NAMES))})', values)

    def rows(self, keys: Optional[Iterable[str]] = None) -> Iterator[dict[str, Any]]:
        """Rows as dicts in a stable order (picture, codec, settings, target),
        all of them or those of `keys`."""
        order = 'ORDER BY picture, codec, settings, target IS NOT NULL, target, key'
        if keys is None:
            cursor = self.db.execute(f'SELECT {", ".join(NAMES)} FROM results {order}')
            for values in cursor:
                yield dict(zip(NAMES, values))
            return
        wanted = set(keys)
        for values in self.db.execute(f'SELECT {", ".join(NAMES)} FROM results {order}'):
            if values[0] in wanted:
                yield dict(zip(NAMES, values))

"""A sweep's report: BD-rate and BD-PSNR of every curve against an anchor
codec, per picture and averaged over the pictures, rate-distortion plots,
and one HTML page that shows both (plus bd.json with the same figures).

A curve is the done rows of one picture, codec and settings, ordered by
rate. Rows with a target rate draw the curve through their targets; grid
rows without one draw it along `axis` (one setting), the other settings
telling curves apart. Both Bjøntegaard methods are given: piecewise-cubic
Hermite interpolation (PCHIP) and the classic cubic fit, each over the
quality (or rate) interval the two curves share only.
"""
from __future__ import annotations

import html
import json
import math
import os
from collections import OrderedDict
from dataclasses import dataclass, field
from typing import Any, Optional, Sequence

from . import bdrate
from .sweep import LABELS

FORMAT = 'vorlan-sweep-report'
VERSION = 1


@dataclass
class Curve:
    picture: str       # content hash
    name: str          # file name
    codec: str
    settings: dict[str, str]
    points: list[tuple[float, float]] = field(default_factory=list)  # (bpp, PSNR dB), rate ascending
    ssim: list[float] = field(default_factory=list)
    colour: bool = False  # swept in colour: PSNR over R, G and B

    @property
    def label(self) -> str:
        # Colour curves are labelled apart, so that averages never mix
        # PSNR over R, G and B with PSNR of grey.
        label = LABELS.get(self.codec, self.codec) + (' colour' if self.colour else '')
        if self.settings:
            label += ' ' + ' '.join(f'{k}={v}' for k, v in sorted(self.settings.items()))
        return label


def _picture_name(row: dict[str, Any]) -> str:
    return row['name'] + (' (colour)' if row.get('colour') else '')


def curves(rows: Sequence[dict[str, Any]], axis: Optional[str]) -> list[Curve]:
    """The done rows gathered into curves, in the order of first appearance."""
    found: 'OrderedDict[tuple, Curve]' = OrderedDict()
    for row in rows:
        if row['status'] != 'done' or not (row['bpp'] and math.isfinite(row['psnr'] or math.nan)):
            continue
        settings = json.loads(row['settings'])
        if row['target'] is None and axis:
            settings.pop(axis, None)
        ident = (row['picture'], row['codec'], json.dumps(settings, sort_keys=True))
        colour = bool(row.get('colour'))
        curve = found.setdefault(ident, Curve(row['picture'], _picture_name(row), row['codec'], settings,
                                              colour=colour))
        curve.points.append((float(row['bpp']), float(row['psnr'])))
        curve.ssim.append(float(row['ssim']))
    for curve in found.values():
        order = sorted(range(len(curve.points)), key=lambda i: curve.points[i])
        curve.points = [curve.points[i] for i in order]
        curve.ssim = [curve.ssim[i] for i in order]
    return list(found.values())


def _bd(anchor: Curve, test: Curve) -> dict[str, Any]:
    figures: dict[str, Any] = {}
    for method in bdrate.METHODS:
        for what, fn in (('bdRate', bdrate.bd_rate), ('bdPsnr', bdrate.bd_psnr)):
            try:
                figures[f'{what}_{method}'] = fn(anchor.points, test.points, method)
            except ValueError as error:
                figures[f'{what}_{method}'] = None
                figures.setdefault('problem', str(error))
    return figures


def tables(all_curves: Sequence[Curve], anchor: str) -> dict[str, Any]:
    """Per picture: each curve's BD figures against the picture's anchor
    curve (the anchor codec's curve without settings, else its first);
    averaged: the mean of each figure over the pictures where it exists."""
    pictures: 'OrderedDict[str, list[Curve]]' = OrderedDict()
    for c in all_curves:
        pictures.setdefault(c.picture, []).append(c)
    per_picture = []
    totals: 'OrderedDict[str, dict[str, list[float]]]' = OrderedDict()
    for digest, group in pictures.items():
        anchors = [c for c in group if c.codec == anchor]
        entry: dict[str, Any] = {'picture': digest, 'name': group[0].name, 'curves': []}
        if not anchors:
            entry['problem'] = f'no {LABELS.get(anchor, anchor)} curve'
            per_picture.append(entry)
            continue
        base = next((c for c in anchors if not c.settings), anchors[0])
        entry['anchor'] = base.label
        for c in group:
            if c is base:
                continue
            figures = _bd(base, c)
            entry['curves'].append({'label': c.label, 'codec': c.codec, 'points': len(c.points), **figures})
            bucket = totals.setdefault(c.label, {})
            for k, v in figures.items():
                if k != 'problem' and v is not None:
                    bucket.setdefault(k, []).append(v)
        per_picture.append(entry)
    average = [{'label': label, 'pictures': max((len(v) for v in b.values()), default=0),
                **{k: sum(v) / len(v) for k, v in b.items()}} for label, b in totals.items()]
    return {'format': FORMAT, 'version': VERSION, 'anchor': anchor, 'methods': list(bdrate.METHODS),
            'pictures': per_picture, 'average': average}


def average_curves(all_curves: Sequence[Curve]) -> list[Curve]:
    """Per label, the mean rate and PSNR of the i-th point over the pictures
    whose curve of that label has as many points as the others."""
    groups: 'OrderedDict[str, list[Curve]]' = OrderedDict()
    for c in all_curves:
        groups.setdefault(c.label, []).append(c)
    out = []
    for label, group in groups.items():
        count = min(len(c.points) for c in group)
        same = [c for c in group if len(c.points) == count] if count else []
        if not same:
            continue
        mean = Curve('', 'average', group[0].codec, group[0].settings, colour=group[0].colour)
        for i in range(count):
            mean.points.append((sum(c.points[i][0] for c in same) / len(same),
                                sum(c.points[i][1] for c in same) / len(same)))
        out.append(mean)
    return out


def _plot(group: Sequence[Curve], title: str, path: str) -> None:
    import matplotlib

    matplotlib.use('Agg')
    from matplotlib import pyplot, ticker

    figure, axes = pyplot.subplots(figsize=(6.4, 4.4), dpi=100)
    for c in group:
        axes.plot([p[0] for p in c.points], [p[1] for p in c.points], marker='o', markersize=3, label=c.label)
    axes.set_xscale('log', base=2)
    axes.xaxis.set_major_formatter(ticker.FuncFormatter(lambda v, _: f'{v:g}'))
    axes.set_xlabel('bits per pixel')
    axes.set_ylabel('PSNR (dB)')
    axes.set_title(title)
    axes.grid(True, which='both', alpha=0.3)
    axes.legend(fontsize='small')
    figure.tight_layout()
    figure.savefig(path, metadata={'Software': None})
    pyplot.close(figure)


def _number(value: Optional[float], unit: str) -> str:
    return '–' if value is None else f'{value:+.2f}{unit}'


def _table_html(rows: Sequence[dict[str, Any]], first: str) -> str:
    head = (f'<tr><th>{html.escape(first)}</th><th>BD-rate PCHIP</th><th>BD-rate cubic</th>'
            '<th>BD-PSNR PCHIP</th><th>BD-PSNR cubic</th><th></th></tr>')
    body = ''.join(
        f'<tr><td>{html.escape(r["label"])}</td><td>{_number(r.get("bdRate_pchip"), " %")}</td>'
        f'<td>{_number(r.get("bdRate_cubic"), " %")}</td><td>{_number(r.get("bdPsnr_pchip"), " dB")}</td>'
        f'<td>{_number(r.get("bdPsnr_cubic"), " dB")}</td><td>{html.escape(r.get("problem", ""))}</td></tr>'
        for r in rows)
    return f'<table>{head}{body}</table>'


def write(rows: Sequence[dict[str, Any]], folder: str, anchor: str = 'jpeg', axis: Optional[str] = None) -> str:
    """Writes bd.json, the plots (average.png, picture-N.png) and index.html
    into `folder`; returns the page's path."""
    os.makedirs(folder, exist_ok=True)
    all_curves = curves(rows, axis)
    figures = tables(all_curves, anchor)
    with open(os.path.join(folder, 'bd.json'), 'w', encoding='utf-8') as f:
        json.dump(figures, f, indent=1, ensure_ascii=False)
        f.write('\n')
    failed = [r for r in rows if r['status'] == 'failed']
    anchor_label = LABELS.get(anchor, anchor)
    parts = [
        '<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8"><title>vorlan-sweep report</title>',
        '<style>body{font-family:sans-serif;max-width:60em;margin:2em auto}table{border-collapse:collapse;'
        'margin:1em 0}td,th{border:1px solid #bbb;padding:.2em .6em;text-align:right}td:first-child,'
        'th:first-child{text-align:left}img{max-width:100%}</style></head><body>',
        '<h1>Coders compared</h1>',
        f'<p>{len(rows)} rows, {len(failed)} failed. BD-rate: the average rate difference at equal PSNR '
        f'against {html.escape(anchor_label)} (negative: fewer bits); BD-PSNR: the average PSNR difference at '
        'equal rate. Both are given with piecewise-cubic Hermite interpolation (PCHIP) and with the classic '
        'cubic fit, over the interval the two curves share only.</p>',
    ]
    if any(r.get('colour') for r in rows):
        parts.append('<p>Pictures marked (colour) were swept in colour: their PSNR is taken over the mean '
                     'squared error of R, G and B together, their SSIM is the mean of the three channels\' and '
                     'their rate is bits per pixel (not per sample); their curves are labelled “colour” and '
                     'averaged apart from the grey ones.</p>')
    average = average_curves(all_curves)
    if figures['average']:
        parts.append(f'<h2>Average over the pictures</h2>'
                     f'{_table_html(figures["average"], f"against {anchor_label}")}')
    if average:
        _plot(average, 'average over the pictures', os.path.join(folder, 'average.png'))
        parts.append('<p><img src="average.png" alt="average rate-distortion curves"></p>')
    groups: 'OrderedDict[str, list[Curve]]' = OrderedDict()
    for c in all_curves:
        groups.setdefault(c.picture, []).append(c)
    for i, (entry, group) in enumerate(zip(figures['pictures'], groups.values()), 1):
        name = html.escape(entry['name'])
        parts.append(f'<h2>{name}</h2>')
        if entry.get('problem'):
            parts.append(f'<p>No BD figures: {html.escape(entry["problem"])}.</p>')
        elif entry['curves']:
            parts.append(_table_html(entry['curves'], f'against {entry["anchor"]}'))
        plot = f'picture-{i}.png'
        _plot(group, entry['name'], os.path.join(folder, plot))
        parts.append(f'<p><img src="{plot}" alt="rate-distortion curves of {name}"></p>')
        points = ''.join(
            f'<tr><td>{html.escape(c.label)}</td><td>{p[0]:.4f}</td><td>{p[1]:.2f}</td><td>{s:.4f}</td></tr>'
            for c in group for p, s in zip(c.points, c.ssim))
        parts.append('<details><summary>points</summary><table><tr><th>curve</th><th>bpp</th><th>PSNR (dB)</th>'
                     f'<th>SSIM</th></tr>{points}</table></details>')
    if failed:
        items = ''.join(f'<tr><td>{html.escape(_picture_name(r))}</td><td>{html.escape(r["codec"])}</td>'
                        f'<td>{"" if r["target"] is None else r["target"]}</td>'
                        f'<td>{html.escape(r["reason"] or "")}</td></tr>' for r in failed)
        parts.append('<h2>Failed points</h2><table><tr><th>picture</th><th>codec</th><th>target</th>'
                     f'<th>reason</th></tr>{items}</table>')
    parts.append('</body></html>\n')
    page = os.path.join(folder, 'index.html')
    with open(page, 'w', encoding='utf-8') as f:
        f.write('\n'.join(parts))
    return page

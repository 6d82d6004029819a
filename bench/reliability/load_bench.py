#!/usr/bin/python3
"""Loading large graphs with `vorlan --run`, and stopping a load by signal.

  bench/reliability/load_bench.py [--vorlan build/release/vorlan] [--nodes 10000 20000 40000 200000]
                                  [--edges 1000000] [--signal-nodes 1000000] [--timeout 600]

Node graphs hold N Grayscale conversion nodes, each fed by the one before
(three edges per node; none with --unlinked). The edge graph holds 1000 such nodes and E edges
between them, every one valid. In both, the first node in run order is a
Grayscale conversion with nothing connected, so the run fails at once and
the time measured is what loading, preparing and ending cost: wall seconds
of the whole program, from start to exit, and its processor seconds (user +
system), which a loaded machine does not inflate.

The signal case starts a load of `--signal-nodes` nodes, sends SIGTERM
after 0.5 s (while the graph is still loading) and reports how long the
program took to end after it, and its exit code (143 expected).
"""
import argparse
import os
import signal
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, 'examples'))
import make_fractal  # noqa: E402
from gph import Graph  # noqa: E402
from process import default_vorlan, measured, signalled  # noqa: E402

GREY = make_fractal.GRAYSCALE
GREY_INPUTS = (make_fractal.GRAY_R, make_fractal.GRAY_G, make_fractal.GRAY_B)


def chain_graph(nodes: int, linked: bool = True) -> Graph:
    """A lone node first (it fails the run at once), then `nodes` more, each
    fed by the one before when `linked`."""
    g = Graph()
    settings = make_fractal.grayscale_settings()
    g.node(GREY, 'lone', 10, 10, settings)
    previous = None
    for i in range(nodes):
        node = g.node(GREY, f'grey {i}', 10 + 40 * (i % 1000), 60 + 40 * (i // 1000), settings)
        if previous is not None and linked:
            for pin in GREY_INPUTS:
                g.edge(previous, make_fractal.GRAY_OUT, node, pin)
        previous = node
    return g


def edge_graph(edges: int, nodes: int = 1000) -> Graph:
    g = chain_graph(0)
    settings = make_fractal.grayscale_settings()
    ids = [g.node(GREY, f'grey {i}', 10 + 40 * i, 60, settings) for i in range(nodes)]
    for e in range(edges):
        g.edge(ids[e % nodes], make_fractal.GRAY_OUT, ids[(e * 7 + 1) % nodes], GREY_INPUTS[e % 3])
    return g


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--vorlan', default=default_vorlan())
    parser.add_argument('--nodes', type=int, nargs='*', default=[10000, 20000, 40000, 200000])
    parser.add_argument('--edges', type=int, nargs='*', default=[1000000])
    parser.add_argument('--unlinked', action='store_true', help='node graphs without edges')
    parser.add_argument('--signal-nodes', type=int, default=1000000)
    parser.add_argument('--timeout', type=float, default=600.0, help='seconds one load may take')
    args = parser.parse_args()
    vorlan = os.path.abspath(args.vorlan)
    with tempfile.TemporaryDirectory(prefix='vorlan-load-') as work:
        print('| graph | file MB | exit | seconds | processor s | peak MB |')
        print('|---|---:|---:|---:|---:|---:|')
        graphs = [(f'{n} nodes, {0 if args.unlinked else 3 * (n - 1)} edges', chain_graph(n, not args.unlinked))
                  for n in args.nodes]
        graphs += [(f'1000 nodes, {e} edges', edge_graph(e)) for e in args.edges]
        for name, graph in graphs:
            path = os.path.join(work, 'graph.gph')
            graph.save(path)
            r = measured([vorlan, '--run', path, '--quiet'], cwd=work, timeout=args.timeout)
            print(f'| {name} | {os.path.getsize(path) / 1e6:.1f} | {r.exit} | {r.seconds:.2f} | {r.processor:.2f} '
                  f'| {r.peak_mb:.0f} |',
                  flush=True)
        if args.signal_nodes:
            path = os.path.join(work, 'graph.gph')
            chain_graph(args.signal_nodes).save(path)
            s = signalled([vorlan, '--run', path, '--quiet'], signal.SIGTERM, lambda t: t >= 0.5,
                          limit=args.timeout, cwd=work)
            last = s.stderr.strip().splitlines()[-1:] or ['']
            print(f'\nSIGTERM {s.signalled_at:.2f} s into loading {args.signal_nodes} nodes: exit {s.exit}, '
                  f'ended {s.after_signal:.3f} s after the signal ("{last[0]}")')


if __name__ == '__main__':
    main()

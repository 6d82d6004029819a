#!/usr/bin/env python3
"""What the Python module costs over the program: `vorlan.encode` of a
picture against the same encode through `vorlan --run examples/compress.gph`
(alternating, same run), and `vorlan.decode` of the picture's code.

  bench/python/module_bench.py [--image camera.bmp] [--repeats 3] [--decodes 20]
                               [--build build/release]

The module is given the plane the example graph's Grayscale conversion
makes of the picture, so both encodes produce the same code (checked).
Times are wall-clock seconds (medians and fastest) and processor seconds
(all threads): the module's from this process, the program's from its
resource usage. `vorlan --run` is timed as a whole program (start, plug-in
loading, BMP reading and grey conversion included). On a machine others
share, the processor-time and fastest-run ratios move far less than the
ratio of medians.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def graph_grey(levels):
    """The Grayscale conversion's plane (Y weights) of a grey BMP, in its order of operations."""
    import numpy as np
    n = (1.0 / 255.0) * levels.astype(np.float64) + (-0.0 / 255.0)
    top = 0.0 + 0.299 * 1.0 + 0.587 * 1.0 + 0.114 * 1.0
    return 0.299 * n + 0.587 * n + 0.114 * n, (0.0, max(top, 1.0))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--image', default=os.path.join(ROOT, '..', 'shared', 'data', 'camera.bmp'))
    parser.add_argument('--repeats', type=int, default=3, help='encodes each way')
    parser.add_argument('--decodes', type=int, default=20)
    parser.add_argument('--build', default=os.path.join(ROOT, 'build', 'release'))
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, 'python'))
    sys.path.append(os.path.join(ROOT, 'python'))
    import numpy as np
    import vorlan
    from vorlan_workbench.pictures import read_bmp_rgb

    rgb = read_bmp_rgb(args.image)
    if not (np.array_equal(rgb[..., 0], rgb[..., 1]) and np.array_equal(rgb[..., 1], rgb[..., 2])):
        raise SystemExit(f'{args.image}: a grey picture (R = G = B) is needed for the same code both ways')
    plane, value_range = graph_grey(np.ascontiguousarray(rgb[..., 0]))
    program = os.path.join(args.build, 'vorlan')
    graph = os.path.join(ROOT, 'examples', 'compress.gph')

    work = tempfile.mkdtemp(prefix='vorlan-module-bench-')
    target = os.path.join(work, 'code.hvf')
    run_times, run_cpu, module_times, module_cpu = [], [], [], []
    code = None
    for _ in range(args.repeats):
        start = time.perf_counter()
        child = subprocess.Popen([program, '--run', graph, '--quiet', '--path', f'source={args.image}',
                                  '--path', f'target={target}'], cwd=work)
        _, status, usage = os.wait4(child.pid, 0)
        run_times.append(time.perf_counter() - start)
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            raise SystemExit(f'vorlan --run failed with exit code {child.returncode}')
        run_cpu.append(usage.ru_utime + usage.ru_stime)
        start, cpu = time.perf_counter(), time.process_time()
        code = vorlan.encode(plane, value_range=value_range, threads=2)
        module_times.append(time.perf_counter() - start)
        module_cpu.append(time.process_time() - cpu)
        with open(target, 'rb') as f:
            if f.read() != code:
                raise SystemExit('the module and the graph wrote different codes')

    decode_times, decode_cpu = [], []
    for _ in range(args.decodes):
        start, cpu = time.perf_counter(), time.process_time()
        vorlan.decode(code)
        decode_times.append(time.perf_counter() - start)
        decode_cpu.append(time.process_time() - cpu)

    run_s, module_s = statistics.median(run_times), statistics.median(module_times)
    print(f'picture           {args.image} ({plane.shape[1]} x {plane.shape[0]}), code {len(code)} bytes '
          f'(the same both ways)')
    print(f'vorlan --run      {run_s:.3f} s (median of {args.repeats}: '
          + ', '.join(f'{t:.3f}' for t in run_times) + f'), {statistics.median(run_cpu):.3f} processor s')
    print(f'vorlan.encode     {module_s:.3f} s (median of {args.repeats}: '
          + ', '.join(f'{t:.3f}' for t in module_times) + f'), {statistics.median(module_cpu):.3f} processor s')
    print(f'encode ratio      {module_s / run_s:.3f} wall medians, {min(module_times) / min(run_times):.3f} fastest, '
          f'{statistics.median(module_cpu) / statistics.median(run_cpu):.3f} processor (module / program; '
          'goal at most 1.05)')
    print(f'vorlan.decode     {1000 * statistics.median(decode_times):.1f} ms wall, '
          f'{1000 * min(decode_times):.1f} ms fastest, {1000 * statistics.median(decode_cpu):.1f} ms processor '
          f'(median of {args.decodes}; goal under 30 ms)')
    load = os.getloadavg()[0]
    print(f'load average      {load:.1f} on {os.cpu_count()} processors')


if __name__ == '__main__':
    main()

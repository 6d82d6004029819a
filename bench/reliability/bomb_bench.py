#!/usr/bin/python3
"""Hostile and large inputs through `vorlan --run`: time, peak memory, exit.

  bench/reliability/bomb_bench.py [--vorlan build/release/vorlan] [--work DIR] [--limits default 256M]
                                  [--skip-large-code]

The crafted inputs come from build/release/bench/make_bombs (see
make_bombs.cpp): a 221-byte Huffman + serializer container of seven 1 GiB
streams, an 82-byte packed code claiming 11585 x 11585 pixels, a flat
8192 x 8192 PNG of 216 kB, a 6000 x 6000 BMP and a 6000 x 6000 JPEG photo.
Beside them run the legitimate cases that must keep working: the example
round trips on camera.bmp and astronaut.bmp in both containers (encoded
once, decoded at every limit), camera's code decoded at resolution factor
4, and the code of a 2048 x 2048 photo decoded at factors 1 and 3.

Every case runs once per memory limit ("default" passes no
--memory-limit). Prints one Markdown table row per run: exit code, wall
seconds, peak resident MB and the error line, if any.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, 'examples'))
import make_fractal  # noqa: E402
from gph import Graph, Settings  # noqa: E402
from process import default_vorlan, measured  # noqa: E402

EXAMPLES = os.path.join(ROOT, 'examples')
SHARED = os.path.join(ROOT, '..', 'shared', 'data')


def decode_graph(resolution: int) -> Graph:
    """source -> HV code unpacker -> HV decoder (resolution x resolution) -> Bmp encoder -> target."""
    g = Graph()
    source = g.node(make_fractal.FILE_INPUT_STREAM, 'source', 10, 10, Settings().text('image.hvf'))
    settings = Settings().int32(0).int32(resolution).int32(resolution).int32(20)
    settings.float32(5.0).float32(0.95).int32(0).int32(0).int32(0)
    decoder = make_fractal.receive_packed(
        g, source, lambda: g.node(make_fractal.HV_DECODER, 'decoder', 560, 10, settings))
    bmp = g.node(make_fractal.BMP_ENCODER, 'bmp', 740, 10)
    for pin in (make_fractal.BMPENC_R, make_fractal.BMPENC_G, make_fractal.BMPENC_B):
        g.edge(decoder, make_fractal.DECODER_OUT, bmp, pin)
    target = g.node(make_fractal.FILE_OUTPUT_STREAM, 'target', 910, 10, Settings().text('decoded.bmp'))
    g.edge(bmp, make_fractal.BMPENC_OUT, target, make_fractal.STREAM_PIN)
    return g


def picture_graph() -> Graph:
    """source -> Image decoder -> Bmp encoder -> target."""
    g = Graph()
    source = g.node(make_fractal.FILE_INPUT_STREAM, 'source', 10, 10, Settings().text('in.png'))
    decoder = g.node(1020, 'decoder', 180, 10)
    g.edge(source, make_fractal.STREAM_PIN, decoder, 2)
    bmp = g.node(make_fractal.BMP_ENCODER, 'bmp', 350, 10)
    for channel in (3, 4, 5):
        g.edge(decoder, channel, bmp, channel)
    target = g.node(make_fractal.FILE_OUTPUT_STREAM, 'target', 520, 10, Settings().text('out.bmp'))
    g.edge(bmp, make_fractal.BMPENC_OUT, target, make_fractal.STREAM_PIN)
    return g


def stream_graph() -> Graph:
    """source -> Huffman decoder."""
    g = Graph()
    source = g.node(make_fractal.FILE_INPUT_STREAM, 'source', 10, 10, Settings().text('in.huf'))
    huffman = g.node(make_fractal.HUFFMAN_DECODER, 'huffman', 180, 10)
    g.edge(source, make_fractal.STREAM_PIN, huffman, make_fractal.CODER_IN)
    return g


class Bench:
    def __init__(self, vorlan: str, work: str):
        self.vorlan = vorlan
        self.work = work
        self.bombs = os.path.join(work, 'bombs')
        self.out = os.path.join(work, 'out')
        os.makedirs(self.bombs, exist_ok=True)
        os.makedirs(self.out, exist_ok=True)

    def graph(self, name: str, graph: Graph) -> str:
        path = os.path.join(self.work, name)
        graph.save(path)
        return path

    def run(self, graph: str, paths: dict, limit: str):
        command = [self.vorlan, '--run', graph, '--quiet']
        for caption, path in paths.items():
            command += ['--path', f'{caption}={path}']
        if limit != 'default':
            command += ['--memory-limit', limit]
        return measured(command, cwd=self.out)

    def prepare(self, skip_large_code: bool):
        make_bombs = os.path.join(os.path.dirname(self.vorlan), 'bench', 'make_bombs')
        subprocess.run([make_bombs, self.bombs], check=True)
        self.decode1 = self.graph('decode1.gph', decode_graph(1))
        self.decode3 = self.graph('decode3.gph', decode_graph(3))
        self.decode4 = self.graph('decode4.gph', decode_graph(4))
        self.picture = self.graph('picture.gph', picture_graph())
        self.stream = self.graph('stream.gph', stream_graph())
        # The example codes, made once at the default limit.
        for image in ('camera', 'astronaut'):
            for container, compress in (('packed', 'compress.gph'), ('Huffman', 'compress_huffman.gph')):
                result = self.run(os.path.join(EXAMPLES, compress),
                                  {'source': os.path.join(SHARED, image + '.bmp'),
                                   'target': os.path.join(self.out, f'{image}-{container}.hvf')}, 'default')
                if result.exit != 0:
                    raise SystemExit(f'cannot encode {image}.bmp: {result.stderr}')
        self.camera_code = os.path.join(self.out, 'camera-packed.hvf')
        self.large_code = None
        if not skip_large_code:
            # A 2048 x 2048 photo: astronaut scaled (grey), 8000 ranges, domain step 16.
            large_bmp = os.path.join(self.bombs, 'photo_2048.bmp')
            compress = self.graph('compress_large.gph',
                                  make_fractal.build_compress('packed', max_ranges=8000, step=16))
            self.large_code = os.path.join(self.out, 'photo_2048.hvf')
            result = self.run(compress, {'source': large_bmp, 'target': self.large_code}, 'default')
            if result.exit != 0:
                raise SystemExit(f'cannot encode the 2048 x 2048 photo: {result.stderr}')

    def cases(self):
        """(name, graph, paths): the bombs first, then what must keep working."""
        b = self.bombs
        o = self.out
        camera = os.path.join(SHARED, 'camera.bmp')
        astronaut = os.path.join(SHARED, 'astronaut.bmp')
        yield ('Huffman stream, 15 B, 2^28 values', self.stream, {'source': f'{b}/huffman_bomb.huf'})
        yield ('Huffman container, 221 B', os.path.join(EXAMPLES, 'decompress_huffman.gph'),
               {'source': f'{b}/huffman_container.hvs', 'target': f'{o}/bomb1.bmp', 'original': camera})
        yield ('packed code, 82 B, 11585 x 11585', os.path.join(EXAMPLES, 'decompress.gph'),
               {'source': f'{b}/packed_11585.hvpk', 'target': f'{o}/bomb2.bmp', 'original': camera})
        yield ('flat PNG, 216 kB, 8192 x 8192', self.picture,
               {'source': f'{b}/flat_8192.png', 'target': f'{o}/flat.bmp'})
        yield ('BMP, 108 MB, 6000 x 6000', os.path.join(EXAMPLES, 'bmp_gray.gph'),
               {'source': f'{b}/large_6000.bmp', 'target': f'{o}/large_grey.bmp'})
        yield ('JPEG photo, 2.1 MB, 6000 x 6000', self.picture,
               {'source': f'{b}/photo_6000.jpg', 'target': f'{o}/photo.bmp'})
        for image, path in (('camera', camera), ('astronaut', astronaut)):
            for container, compress, decompress in (('packed', 'compress.gph', 'decompress.gph'),
                                                    ('Huffman', 'compress_huffman.gph',
                                                     'decompress_huffman.gph')):
                code = f'{o}/{image}-{container}.hvf'
                yield (f'{image} decode, {container}', os.path.join(EXAMPLES, decompress),
                       {'source': code, 'target': f'{o}/{image}-{container}.bmp', 'original': path})
        yield ('camera code at resolution 4', self.decode4,
               {'source': self.camera_code, 'target': f'{o}/camera4.bmp'})
        if self.large_code:
            yield ('2048 x 2048 photo code at resolution 1', self.decode1,
                   {'source': self.large_code, 'target': f'{o}/photo1.bmp'})
            yield ('2048 x 2048 photo code at resolution 3', self.decode3,
                   {'source': self.large_code, 'target': f'{o}/photo3.bmp'})


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--vorlan', default=default_vorlan())
    parser.add_argument('--work', help='scratch folder (default: a new temporary one, removed afterwards)')
    parser.add_argument('--limits', nargs='+', default=['default', '256M'])
    parser.add_argument('--skip-large-code', action='store_true',
                        help='skip encoding and decoding the 2048 x 2048 photo (the slowest part)')
    args = parser.parse_args()
    vorlan = os.path.abspath(args.vorlan)
    work = os.path.abspath(args.work) if args.work else tempfile.mkdtemp(prefix='vorlan-bombs-')
    try:
        bench = Bench(vorlan, work)
        bench.prepare(args.skip_large_code)
        print('| case | memory limit | exit | seconds | peak MB | message |')
        print('|---|---|---:|---:|---:|---|')
        for name, graph, paths in bench.cases():
            for limit in args.limits:
                r = bench.run(graph, paths, limit)
                message = r.last_error().replace('|', '/') if r.exit != 0 else ''
                print(f'| {name} | {limit} | {r.exit} | {r.seconds:.2f} | {r.peak_mb:.0f} | {message[:140]} |',
                      flush=True)
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()

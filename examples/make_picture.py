#!/usr/bin/env python3
"""Writes convert.gph: a File Input Stream captioned `source` reads a picture
in any format the Image decoder knows (PNG, JPEG, PGM/PPM, TIFF, WebP, BMP);
a Bmp encoder turns its planes into a 24-bit BMP that the File Output Stream
captioned `bmp` stores; a Bmp decoder reads that BMP back and an Image
encoder writes it as a PNG, stored by the File Output Stream captioned `png`.

    vorlan --run examples/convert.gph --path source=photo.png \\
        --path bmp=photo.bmp --path png=again.png
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gph import CURRENT_FOLDER, Graph, Settings, file_settings  # noqa: E402

FILE_INPUT_STREAM = 10
FILE_OUTPUT_STREAM = 20
BMP_DECODER = 40
BMP_ENCODER = 50
IMAGE_DECODER = 1020
IMAGE_ENCODER = 1030

DATA_PIN = 2  # "Out" of streams and encoders, "In" of decoders and the output stream
PLANE_PINS = (3, 4, 5)  # "R", "G", "B" on both decoders and both encoders

LIMIT_MEGAPIXELS = 64
PNG, EIGHT_BITS, QUALITY = 0, 8, 90


def build():
    g = Graph()
    source = g.node(FILE_INPUT_STREAM, 'source', 10, 10, file_settings('input.png'))
    decoder = g.node(IMAGE_DECODER, 'decoder', 190, 10, Settings().int32(LIMIT_MEGAPIXELS))
    to_bmp = g.node(BMP_ENCODER, 'to bmp', 370, 10)
    bmp = g.node(FILE_OUTPUT_STREAM, 'bmp', 550, 10, file_settings('output.bmp', CURRENT_FOLDER))
    from_bmp = g.node(BMP_DECODER, 'from bmp', 550, 150)
    to_png = g.node(IMAGE_ENCODER, 'to png', 730, 150, Settings().int32(PNG).int32(QUALITY).int32(EIGHT_BITS))
    png = g.node(FILE_OUTPUT_STREAM, 'png', 910, 150, file_settings('output.png', CURRENT_FOLDER))
    g.edge(source, DATA_PIN, decoder, DATA_PIN)
    for pin in PLANE_PINS:
        g.edge(decoder, pin, to_bmp, pin)
    g.edge(to_bmp, DATA_PIN, bmp, DATA_PIN)
    g.edge(to_bmp, DATA_PIN, from_bmp, DATA_PIN)
    for pin in PLANE_PINS:
        g.edge(from_bmp, pin, to_png, pin)
    g.edge(to_png, DATA_PIN, png, DATA_PIN)
    return g


if __name__ == '__main__':
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'convert.gph')
    build().save(out)

#!/usr/bin/env python3
"""Writes the colour round-trip example graphs.

compress_colour.gph: a File Input Stream captioned `source` reads a picture
(PNG, JPEG, TIFF, PGM/PPM, WebP or BMP) and the Image decoder splits it into
R, G and B. The RGB conversion (YCbCr) turns them into Y, Cb and Cr; two
Plane resamplers take Cb and Cr down to half size (area average), as JPEG
does. Three HV encoders, captioned `Y`, `Cb` and `Cr`, code the planes in
Rate-distortion mode, as the grey example does (Y with most of the
ranges), three HV code packers pack the codes, and a Serializer joins the
three streams, Y first, into the file that the File Output Stream captioned
`target` writes.

decompress_colour.gph: `source` reads such a file, the Deserializer splits
it, three HV code unpackers and HV decoders rebuild Y and the half-size Cb
and Cr; two Plane resamplers take Cb and Cr up to the size of Y (bicubic),
the RGB conversion turns the planes back into R, G and B, and the Image
encoder writes them as a PNG through `target`. The written PNG is read back
by an Image decoder and compared with the picture that `original` reads:
one PSNR enumerator per colour plane and one for the Y of both pictures;
Text display nodes show `PSNR R`, `PSNR G`, `PSNR B`, `PSNR Y` and the RMS
of each colour plane (from which the PSNR over all of R, G and B follows).

Run them with
  vorlan --run compress_colour.gph --path source=IN.png --path target=OUT.hvc \\
         [--set Y.maxRanges=N --set Cb.maxRanges=N --set Cr.maxRanges=N]
  vorlan --run decompress_colour.gph --path source=OUT.hvc --path target=OUT.png \\
         --path original=IN.png
(examples/colour_roundtrip.py, and examples/demo.sh --colour, split a rate
target between the planes and compare with colour JPEG).
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gph import CURRENT_FOLDER, Graph, Settings, file_settings  # noqa: E402
import make_fractal as mf  # noqa: E402

RGB_CONVERSION = 80
IMAGE_ENCODER = 1030
PLANE_RESAMPLER = 1040

# RGB conversion codes and pins: R, G, B first, then Y, Cb, Cr, whichever
# way the conversion goes.
RGB_TO_YCBCR, YCBCR_TO_RGB = 6, 7
CONVERSION_RGB = (2, 3, 4)
CONVERSION_YCBCR = (5, 6, 7)
PLANES = ('Y', 'Cb', 'Cr')

RESAMPLER_IN, RESAMPLER_OUT, RESAMPLER_SIZE = 2, 3, 4
AREA_AVERAGE, BILINEAR, BICUBIC = 0, 1, 2
UP_METHODS = {'bilinear': BILINEAR, 'bicubic': BICUBIC}
IMAGE_ENCODER_OUT, IMAGE_ENCODER_RGB = 2, (3, 4, 5)
PNG, QUALITY, EIGHT_BITS = 0, 90, 8
PRESCALING = 1  # the PSNR enumerator maps the second plane's range onto the first's

# Ranges per plane of the example: about 1 bit per pixel on a 512 x 512
# photograph, most of it for Y.
DEFAULT_RANGES = {'Y': 5200, 'Cb': 700, 'Cr': 700}


def resampler_settings(factor, method):
    return Settings().int32(factor).int32(method)


def add_plane_coders(g, ranges, threads, encoder_options, before_planes=lambda: None):
    """The source picture, its YCbCr conversion, `before_planes()` and, per
    plane, the encoder and packer (Cb and Cr halved first). Yields (index,
    plane, row y, plane source node and pin, packer)."""
    ranges = dict(DEFAULT_RANGES, **(ranges or {}))
    picture = mf.add_picture_reader(g, 'source', 'input.bmp', 10, 10)
    ycbcr = g.node(RGB_CONVERSION, 'ycbcr', 360, 10, Settings().int32(RGB_TO_YCBCR))
    for out, into in zip((mf.BMPDEC_R, mf.BMPDEC_G, mf.BMPDEC_B), CONVERSION_RGB):
        g.edge(picture, out, ycbcr, into)
    before_planes()
    for i, (plane, pin) in enumerate(zip(PLANES, CONVERSION_YCBCR)):
        y = 10 + 200 * i
        source, source_pin = ycbcr, pin
        if plane != 'Y':
            half = g.node(PLANE_RESAMPLER, plane + ' half', 530, y, resampler_settings(2, AREA_AVERAGE))
            g.edge(ycbcr, pin, half, RESAMPLER_IN)
            source, source_pin = half, RESAMPLER_OUT
        encoder = g.node(mf.HV_ENCODER, plane, 700, y,
                         mf.encoder_settings(**{'mode': mf.GREY_MODE, 'max_ranges': ranges[plane], 'threads': threads,
                                                **encoder_options}))
        g.edge(source, source_pin, encoder, mf.ENCODER_IN)
        packer = g.node(mf.HV_PACKER, plane + ' packer', 880, y)
        for name in ['HDR'] + mf.SHIPPED_ARRAYS:
            g.edge(encoder, mf.ENCODER_CODE[name], packer, mf.PACKER_CODE[name])
        yield i, plane, y, source, source_pin, packer


def build_compress(ranges=None, threads=2, **encoder_options):
    g = Graph()
    serializer = []
    add_serializer = lambda: serializer.append(
        g.node(mf.SERIALIZER, 'container', 1080, 10, Settings().int32(len(PLANES))))
    for i, plane, y, source, source_pin, packer in add_plane_coders(g, ranges, threads, encoder_options,
                                                                    add_serializer):
        g.edge(packer, mf.PACKER_OUT, serializer[0], mf.FIRST_NUMBERED + i)
    target = g.node(mf.FILE_OUTPUT_STREAM, 'target', 1250, 10, file_settings('image.hvc', CURRENT_FOLDER))
    g.edge(serializer[0], mf.CONTAINER_PIN, target, mf.STREAM_PIN)
    return g


def add_measurement(g, written, x, y):
    """PSNR of each colour plane and of Y between `original` and the planes
    of `written` (an Image decoder), shown by Text displays."""
    original = mf.add_picture_reader(g, 'original', 'input.bmp', x, y)
    rgb = (mf.BMPDEC_R, mf.BMPDEC_G, mf.BMPDEC_B)
    row = 0
    for name, pin in zip('RGB', rgb):
        psnr = g.node(mf.PSNR, 'psnr ' + name, x + 360, y + 140 * row, Settings().int32(PRESCALING))
        g.edge(original, pin, psnr, mf.PSNR_IN1)
        g.edge(written, pin, psnr, mf.PSNR_IN2)
        for caption, out, dy in (('PSNR ' + name, mf.PSNR_OUT, 0), ('RMS ' + name, mf.RMS_OUT, 60)):
            shown = g.node(mf.TEXT_DISPLAY, caption, x + 540, y + 140 * row + dy, Settings().text(caption))
            g.edge(psnr, out, shown, mf.DISPLAY_IN)
        row += 1
    greys = []
    for caption, picture, gx in (('original grey', original, x + 180), ('decoded grey', written, x + 180)):
        grey = g.node(mf.GRAYSCALE, caption, gx, y + 140 * row + 70 * len(greys), mf.grayscale_settings())
        for out, into in zip(rgb, (mf.GRAY_R, mf.GRAY_G, mf.GRAY_B)):
            g.edge(picture, out, grey, into)
        greys.append(grey)
    psnr = g.node(mf.PSNR, 'psnr Y', x + 360, y + 140 * row, Settings().int32(PRESCALING))
    g.edge(greys[0], mf.GRAY_OUT, psnr, mf.PSNR_IN1)
    g.edge(greys[1], mf.GRAY_OUT, psnr, mf.PSNR_IN2)
    shown = g.node(mf.TEXT_DISPLAY, 'PSNR Y', x + 540, y + 140 * row, Settings().text('PSNR Y'))
    g.edge(psnr, mf.PSNR_OUT, shown, mf.DISPLAY_IN)


def build_decompress(up='bicubic', iterations=20):
    """`up`: how Cb and Cr come back to full size, 'bicubic' or 'bilinear'
    (Plane resamplers) or 'fractal' (the HV decoder iterates the half-size
    code at twice its resolution)."""
    g = Graph()
    source = g.node(mf.FILE_INPUT_STREAM, 'source', 10, 10, file_settings('image.hvc', CURRENT_FOLDER))
    container = g.node(mf.DESERIALIZER, 'container', 180, 10, Settings().int32(len(PLANES)))
    g.edge(source, mf.STREAM_PIN, container, mf.CONTAINER_PIN)
    ycbcr = g.node(RGB_CONVERSION, 'rgb', 1080, 10, Settings().int32(YCBCR_TO_RGB))
    planes = {}
    for i, plane in enumerate(PLANES):
        y = 10 + 200 * i
        unpacker = g.node(mf.HV_UNPACKER, plane + ' unpacker', 360, y)
        g.edge(container, mf.FIRST_NUMBERED + i, unpacker, mf.UNPACKER_IN)
        factor = 2 if up == 'fractal' and plane != 'Y' else 1
        settings = mf.decoder_settings(iterations)
        if factor != 1:
            settings = Settings().int32(0).int32(factor).int32(factor).int32(iterations)
            settings.float32(5.0).float32(0.95).int32(0).int32(0).int32(0)
        decoder = g.node(mf.HV_DECODER, plane + ' decoder', 540, y, settings)
        for name in ['HDR'] + mf.SHIPPED_ARRAYS:
            g.edge(unpacker, mf.UNPACKER_CODE[name], decoder, mf.DECODER_CODE[name])
        planes[plane] = (decoder, mf.DECODER_OUT)
    for plane in ('Cb', 'Cr'):
        if up == 'fractal':
            continue
        decoder, pin = planes[plane]
        full = g.node(PLANE_RESAMPLER, plane + ' full', 720, 10 + 200 * PLANES.index(plane),
                      resampler_settings(2, UP_METHODS[up]))
        g.edge(decoder, pin, full, RESAMPLER_IN)
        g.edge(planes['Y'][0], planes['Y'][1], full, RESAMPLER_SIZE)
        planes[plane] = (full, RESAMPLER_OUT)
    for plane, into in zip(PLANES, CONVERSION_YCBCR):
        g.edge(planes[plane][0], planes[plane][1], ycbcr, into)
    png = g.node(IMAGE_ENCODER, 'png', 1250, 10, Settings().int32(PNG).int32(QUALITY).int32(EIGHT_BITS))
    for out, into in zip(CONVERSION_RGB, IMAGE_ENCODER_RGB):
        g.edge(ycbcr, out, png, into)
    target = g.node(mf.FILE_OUTPUT_STREAM, 'target', 1420, 10, file_settings('decoded.png', CURRENT_FOLDER))
    g.edge(png, IMAGE_ENCODER_OUT, target, mf.STREAM_PIN)
    # What the file holds, read back: the PSNR is that of the written picture.
    written = g.node(mf.IMAGE_DECODER, 'written', 1420, 150, Settings().int32(mf.LIMIT_MEGAPIXELS))
    g.edge(png, IMAGE_ENCODER_OUT, written, mf.BMPDEC_IN)
    add_measurement(g, written, 10, 640)
    return g


def build_probe(ranges=None, threads=2, **encoder_options):
    """One run that codes each plane as compress_colour.gph does, writes each
    packed code to its own file (File Output Streams `Y code`, `Cb code`,
    `Cr code`) and decodes it again at once: Text displays `RMS Y`, `RMS Cb`
    and `RMS Cr` show each plane's error at its coded size, on the planes'
    0 ... 1 scale. The rate split measures the planes with it."""
    g = Graph()
    for i, plane, y, source, source_pin, packer in add_plane_coders(g, ranges, threads, encoder_options):
        code = g.node(mf.FILE_OUTPUT_STREAM, plane + ' code', 1060, y, file_settings(plane + '.hvf', CURRENT_FOLDER))
        g.edge(packer, mf.PACKER_OUT, code, mf.STREAM_PIN)
        unpacker = g.node(mf.HV_UNPACKER, plane + ' unpacker', 1060, y + 70)
        g.edge(packer, mf.PACKER_OUT, unpacker, mf.UNPACKER_IN)
        decoder = g.node(mf.HV_DECODER, plane + ' decoder', 1240, y, mf.decoder_settings())
        for name in ['HDR'] + mf.SHIPPED_ARRAYS:
            g.edge(unpacker, mf.UNPACKER_CODE[name], decoder, mf.DECODER_CODE[name])
        psnr = g.node(mf.PSNR, 'psnr ' + plane, 1420, y, Settings().int32(0))
        g.edge(source, source_pin, psnr, mf.PSNR_IN1)
        g.edge(decoder, mf.DECODER_OUT, psnr, mf.PSNR_IN2)
        shown = g.node(mf.TEXT_DISPLAY, 'RMS ' + plane, 1600, y, Settings().text('RMS ' + plane))
        g.edge(psnr, mf.RMS_OUT, shown, mf.DISPLAY_IN)
    return g


def build_compare():
    """The measurement of decompress_colour.gph on its own: `original` and
    `decoded` are two pictures of the same size."""
    g = Graph()
    decoded = mf.add_picture_reader(g, 'decoded', 'decoded.png', 10, 10)
    add_measurement(g, decoded, 10, 150)
    return g


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('folder', nargs='?', default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument('--up', choices=['bicubic', 'bilinear', 'fractal'], default='bicubic',
                        help='how Cb and Cr come back to full size')
    args = parser.parse_args()
    build_compress().save(os.path.join(args.folder, 'compress_colour.gph'))
    build_decompress(args.up).save(os.path.join(args.folder, 'decompress_colour.gph'))


if __name__ == '__main__':
    main()

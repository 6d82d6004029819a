#!/usr/bin/env python3
"""Writes the fractal round-trip example graphs.

compress.gph: a File Input Stream captioned `source` reads a picture (PNG,
JPEG, TIFF, PGM/PPM, WebP or a BMP of any depth), the Image decoder splits it
into R, G and B, the Grayscale conversion (Y weights)
reduces them to one plane and the HV encoder turns that plane into a fractal
code in Rate-distortion mode: the partition grows as in Least error, always
cutting the range with the largest total squared error on the edge it finds,
and then undoes the cuts that buy the least squared error per bit of the
packed code (at most 4000 ranges, domain grid 8 x 8, ranges down to 2 pixels,
2 search threads); the quick attractor search then fits every range again to
the decoded code.
The HV code packer takes the header and the arrays the decoder needs (SI, OI, TRN,
DP, DF, RTD, RTT) and codes them into one stream (format version 2: each
offset predicted from the ranges around it) that a File Output Stream
captioned `target` writes.

decompress.gph: `source` reads such a stream, the HV code unpacker restores
the code and the HV decoder, given the partition tree (RTD + RTT) instead of
the range rectangles, iterates it into a plane and deblocks the range borders
edge-adaptively (post-processing 2: small steps between flat sides only,
which raises PSNR; the border smoothing of post-processing 1 lowers it). The
Bmp encoder writes it as a grey BMP through `target`. A
second File Input Stream captioned `original` reads the source picture again;
after the Image decoder and the same grayscale conversion, a PSNR enumerator
compares it with the decoded plane and Text display nodes show PSNR and RMS.

Run them with
  vorlan --run compress.gph --path source=IN.bmp --path target=OUT.hvf
  vorlan --run decompress.gph --path source=OUT.hvf --path target=OUT.bmp \
         --path original=IN.bmp
(examples/demo.sh does both and reports size, rate and quality against JPEG).

compress_huffman.gph and decompress_huffman.gph are the same round trip with
the code in the older container: one Huffman encoder per array, and the
Serializer joining the header and the seven streams (the Deserializer and
seven Huffman decoders on the way back).
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gph import CURRENT_FOLDER, Graph, Settings, file_settings  # noqa: E402

FILE_INPUT_STREAM = 10
FILE_OUTPUT_STREAM = 20
BMP_DECODER = 40
BMP_ENCODER = 50
IMAGE_DECODER = 1020
TEXT_DISPLAY = 70
GRAYSCALE = 90
HV_ENCODER = 130
HV_DECODER = 140
SERIALIZER = 150
DESERIALIZER = 160
HUFFMAN_ENCODER = 190
HUFFMAN_DECODER = 200
PSNR = 210
HV_PACKER = 1000
HV_UNPACKER = 1010

STREAM_PIN = 2  # "Out" of the input stream, "In" of the output stream
BMPDEC_IN, BMPDEC_R, BMPDEC_G, BMPDEC_B = 2, 3, 4, 5  # the Image decoder's pins too
BMPENC_OUT, BMPENC_R, BMPENC_G, BMPENC_B = 2, 3, 4, 5
GRAY_R, GRAY_G, GRAY_B, GRAY_OUT = 2, 3, 4, 5
CODER_IN, CODER_OUT = 2, 3  # Huffman encoder and decoder
CONTAINER_PIN = 2  # serializer "Out", deserializer "In"
FIRST_NUMBERED = 3  # serializer inputs / deserializer outputs "1", "2", ...
PSNR_IN1, PSNR_IN2, PSNR_OUT, RMS_OUT = 2, 3, 4, 5
DISPLAY_IN = 2

# The code's pins, in the same order on the encoder (outputs from 3) and the
# decoder (inputs from 2).
CODE_PINS = ['HDR', 'SI', 'OI', 'TRN', 'DP', 'DF', 'RP', 'RS', 'RTD', 'RTT']
ENCODER_IN = 2
ENCODER_CODE = {name: 3 + i for i, name in enumerate(CODE_PINS)}
DECODER_CODE = {name: 2 + i for i, name in enumerate(CODE_PINS)}
DECODER_OUT = 12
PACKER_CODE = {name: 2 + i for i, name in enumerate(CODE_PINS)}
PACKER_OUT = 12
UNPACKER_IN = 2
UNPACKER_CODE = {name: 3 + i for i, name in enumerate(CODE_PINS)}

# What travels in the container: the header as it is, then the arrays a
# decoder needs when it rebuilds the ranges from the partition tree.
SHIPPED_ARRAYS = ['SI', 'OI', 'TRN', 'DP', 'DF', 'RTD', 'RTT']

Y_METHOD = 2
THIRD = 0.3333333333333333


# The settings the example round trip uses: the best measured on camera.bmp
# and astronaut's grey (docs/rate-distortion.md).
LEAST_ERROR = 2
RATE_DISTORTION = 3
# The grey round trip's mode; the colour example (make_colour.py) keeps
# Least error through encoder_settings' own default.
GREY_MODE = RATE_DISTORTION
# Search modes: the step grid; then, in Rate-distortion mode, every range
# searched again against the decoded code (more PSNR at the same rate), on
# a coarse grid and around its best candidates (the quick attractor search:
# nearly the whole search's gain in about three quarters of its time).
GRID_SEARCH, ATTRACTOR_SEARCH, QUICK_ATTRACTOR_SEARCH = 0, 2, 3
DEFAULT_MAX_RANGES = 4000
DEFAULT_STEP = 8
DEFAULT_MIN_RANGE_SIZE = 2
DEFAULT_SCALE_LEVELS = 32
DEFAULT_OFFSET_LEVELS = 128
PACKED_FORMAT_VERSION = 2
NO_POST_PROCESSING, BORDER_SMOOTHING, DEBLOCKING = 0, 1, 2
DEFAULT_POST_PROCESSING = DEBLOCKING


def grayscale_settings():
    return Settings().int32(Y_METHOD).float64(THIRD).float64(THIRD).float64(THIRD)


def encoder_settings(mode=LEAST_ERROR, quality=0.985, max_ranges=DEFAULT_MAX_RANGES, threads=2,
                     step=DEFAULT_STEP, scale_levels=DEFAULT_SCALE_LEVELS, offset_levels=DEFAULT_OFFSET_LEVELS,
                     min_range_size=DEFAULT_MIN_RANGE_SIZE, max_factor=2, max_scale=1.0, cover_mode=1,
                     search_mode=None):
    """The twenty fields of the HV encoder, in order (the trailing lambda and
    maxRate stay 0: Rate-distortion mode stops on the range count alone).
    The search mode is the quick attractor search in Rate-distortion mode
    and the grid search otherwise, unless given."""
    if search_mode is None:
        search_mode = QUICK_ATTRACTOR_SEARCH if mode == RATE_DISTORTION else GRID_SEARCH
    s = Settings()
    s.int32(mode)           # mode: 0 Fidelity, 1 Size, 2 Least error, 3 Rate-distortion
    s.float32(30.0)         # maxError (errorMode 0 only)
    s.int32(0)              # maxDiffCheck
    s.int32(max_ranges)     # maxRanges (Size and Least error)
    s.int32(min_range_size)  # minRangeSize
    s.int32(0)              # maxRangeSize: no limit
    s.int32(2)              # minRangeFactor
    s.int32(max_factor)     # maxRangeFactor
    s.float32(max_scale)    # maxScale
    s.int32(offset_levels)  # offsetLevels
    s.int32(scale_levels)   # scaleLevels
    s.int32(search_mode)    # searchMode: 0 grid, 2 attractor, 3 quick attractor
    s.int32(step)           # stepX
    s.int32(step)           # stepY
    s.int32(cover_mode)     # coverMode: 0 best cover, 1 cover in tolerance
    s.int32(1)              # errorMode: tolerance from quality (Fidelity)
    s.float32(quality)      # quality
    s.int32(threads)        # threadCount
    s.int32(0)              # threadPriority: normal
    s.int32(0)              # feedback window off
    return s


def decoder_settings(iterations=20, post_processing=DEFAULT_POST_PROCESSING):
    """The nine fields of the HV decoder: mode 0, 1 x 1, no feedback."""
    s = Settings()
    s.int32(0).int32(1).int32(1).int32(iterations)
    s.float32(5.0).float32(0.95)
    s.int32(post_processing).int32(0).int32(0)  # postProcessing, feedback, drawRanges
    return s


def packer_settings(version=PACKED_FORMAT_VERSION):
    """The HV code packer's one field, the format version it writes."""
    return Settings().int32(version)


# The Image decoder's largest picture, in megapixels (its default).
LIMIT_MEGAPIXELS = 64


def add_picture_reader(g, caption, path, x, y):
    """A File Input Stream and the Image decoder after it; returns the decoder,
    whose R, G and B pins are those of the Bmp decoder."""
    source = g.node(FILE_INPUT_STREAM, caption, x, y, file_settings(path))
    picture = g.node(IMAGE_DECODER, caption + ' picture', x + 170, y, Settings().int32(LIMIT_MEGAPIXELS))
    g.edge(source, STREAM_PIN, picture, BMPDEC_IN)
    return picture


def add_grey_source(g, caption, path, x, y):
    bmp = add_picture_reader(g, caption, path, x, y)
    gray = g.node(GRAYSCALE, caption + ' grey', x + 340, y, grayscale_settings())
    for out, into in ((BMPDEC_R, GRAY_R), (BMPDEC_G, GRAY_G), (BMPDEC_B, GRAY_B)):
        g.edge(bmp, out, gray, into)
    return gray


def ship_packed(g, encoder):
    """The HV code packer takes the code pin for pin; its stream is the file."""
    packer = g.node(HV_PACKER, 'packer', 710, 10, packer_settings())
    for name in ['HDR'] + SHIPPED_ARRAYS:
        g.edge(encoder, ENCODER_CODE[name], packer, PACKER_CODE[name])
    return packer, PACKER_OUT


def ship_huffman(g, encoder):
    """One Huffman encoder per array, joined with the header by the serializer."""
    serializer = g.node(SERIALIZER, 'container', 900, 10, Settings().int32(1 + len(SHIPPED_ARRAYS)))
    g.edge(encoder, ENCODER_CODE['HDR'], serializer, FIRST_NUMBERED)
    for i, name in enumerate(SHIPPED_ARRAYS):
        huffman = g.node(HUFFMAN_ENCODER, 'huffman ' + name, 710, 10 + 70 * i, Settings().int32(1))
        g.edge(encoder, ENCODER_CODE[name], huffman, CODER_IN)
        g.edge(huffman, CODER_OUT, serializer, FIRST_NUMBERED + 1 + i)
    return serializer, CONTAINER_PIN


def receive_packed(g, source, make_decoder):
    unpacker = g.node(HV_UNPACKER, 'unpacker', 370, 10)
    g.edge(source, STREAM_PIN, unpacker, UNPACKER_IN)
    decoder = make_decoder()
    for name in ['HDR'] + SHIPPED_ARRAYS:
        g.edge(unpacker, UNPACKER_CODE[name], decoder, DECODER_CODE[name])
    return decoder


def receive_huffman(g, source, make_decoder):
    container = g.node(DESERIALIZER, 'container', 180, 10, Settings().int32(1 + len(SHIPPED_ARRAYS)))
    g.edge(source, STREAM_PIN, container, CONTAINER_PIN)
    decoder = make_decoder()
    g.edge(container, FIRST_NUMBERED, decoder, DECODER_CODE['HDR'])
    for i, name in enumerate(SHIPPED_ARRAYS):
        huffman = g.node(HUFFMAN_DECODER, 'huffman ' + name, 370, 10 + 70 * i)
        g.edge(container, FIRST_NUMBERED + 1 + i, huffman, CODER_IN)
        g.edge(huffman, CODER_OUT, decoder, DECODER_CODE[name])
    return decoder


# How the code travels to and from the file: (sender, receiver).
CONTAINERS = {'packed': (ship_packed, receive_packed), 'huffman': (ship_huffman, receive_huffman)}


def build_compress(container='packed', **encoder_options):
    g = Graph()
    gray = add_grey_source(g, 'source', 'input.bmp', 10, 10)
    encoder = g.node(HV_ENCODER, 'encoder', 520, 10, encoder_settings(**{'mode': GREY_MODE, **encoder_options}))
    g.edge(gray, GRAY_OUT, encoder, ENCODER_IN)
    stream, pin = CONTAINERS[container][0](g, encoder)
    target = g.node(FILE_OUTPUT_STREAM, 'target', 1080, 10, file_settings('image.hvf', CURRENT_FOLDER))
    g.edge(stream, pin, target, STREAM_PIN)
    return g


def build_decompress(iterations=20, container='packed', post_processing=DEFAULT_POST_PROCESSING):
    g = Graph()
    source = g.node(FILE_INPUT_STREAM, 'source', 10, 10, file_settings('image.hvf', CURRENT_FOLDER))
    decoder = CONTAINERS[container][1](
        g, source, lambda: g.node(HV_DECODER, 'decoder', 560, 10, decoder_settings(iterations, post_processing)))
    bmp = g.node(BMP_ENCODER, 'bmp', 740, 10)
    for pin in (BMPENC_R, BMPENC_G, BMPENC_B):
        g.edge(decoder, DECODER_OUT, bmp, pin)
    target = g.node(FILE_OUTPUT_STREAM, 'target', 910, 10, file_settings('decoded.bmp', CURRENT_FOLDER))
    g.edge(bmp, BMPENC_OUT, target, STREAM_PIN)

    gray = add_grey_source(g, 'original', 'input.bmp', 10, 560)
    psnr = g.node(PSNR, 'psnr', 740, 560, Settings().int32(0))
    g.edge(gray, GRAY_OUT, psnr, PSNR_IN1)
    g.edge(decoder, DECODER_OUT, psnr, PSNR_IN2)
    for caption, pin, row in (('PSNR', PSNR_OUT, 0), ('RMS', RMS_OUT, 1)):
        shown = g.node(TEXT_DISPLAY, caption, 910, 560 + 70 * row, Settings().text(caption))
        g.edge(psnr, pin, shown, DISPLAY_IN)
    return g


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('folder', nargs='?', default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument('--mode', type=int, default=GREY_MODE,
                        help='0 Fidelity, 1 Size, 2 Least error, 3 Rate-distortion')
    parser.add_argument('--quality', type=float, default=0.985, help='Fidelity: tolerance = 1 - quality')
    parser.add_argument('--max-ranges', type=int, default=DEFAULT_MAX_RANGES,
                        help='Size and Least error: number of ranges')
    parser.add_argument('--step', type=int, default=DEFAULT_STEP, help='domain grid step, pixels')
    parser.add_argument('--min-range-size', type=int, default=DEFAULT_MIN_RANGE_SIZE)
    parser.add_argument('--threads', type=int, default=2)
    parser.add_argument('--post-processing', type=int, choices=(0, 1, 2), default=DEFAULT_POST_PROCESSING,
                        help='decoder post-processing: 0 none, 1 border smoothing, 2 edge-adaptive deblocking')
    parser.add_argument('--container', choices=sorted(CONTAINERS),
                        help='write only this pair (default: packed as compress.gph/decompress.gph and '
                             'huffman as compress_huffman.gph/decompress_huffman.gph)')
    parser.add_argument('--compress', help='file name of the compress graph (with --container)')
    parser.add_argument('--decompress', help='file name of the decompress graph (with --container)')
    args = parser.parse_args()
    pairs = [('packed', 'compress.gph', 'decompress.gph'),
             ('huffman', 'compress_huffman.gph', 'decompress_huffman.gph')]
    if args.container:
        pairs = [(args.container, args.compress or 'compress.gph', args.decompress or 'decompress.gph')]
    for container, compress, decompress in pairs:
        build_compress(container, mode=args.mode, quality=args.quality, max_ranges=args.max_ranges,
                       step=args.step, min_range_size=args.min_range_size,
                       threads=args.threads).save(os.path.join(args.folder, compress))
        build_decompress(container=container,
                         post_processing=args.post_processing).save(os.path.join(args.folder, decompress))


if __name__ == '__main__':
    main()

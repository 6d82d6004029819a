#!/usr/bin/env python3
"""Writes the imaging example graphs.

bmp_gray.gph: a File Input Stream captioned `source` reads a picture (PNG,
JPEG, TIFF, PGM/PPM, WebP or a BMP of any depth), the Image decoder splits it
into R, G and B, the Grayscale conversion (Y weights)
reduces them to one plane, the Bmp encoder writes that plane into R, G and
B, and a File Output Stream captioned `target` stores the grey BMP.

psnr.gph: `source` -> Image decoder; one PSNR enumerator compares the green
plane with itself (PSNR -1.0: no error), another compares it with a Y
grayscale copy (prescaling on, since the grey plane is declared [0, 1]);
Text display nodes show the results.

view.gph: `source` -> Image decoder; an RGB display captioned `colour` shows
R, G and B, and a Mono display captioned `grey` shows a Y grayscale copy.
In the editor they open windows; `vorlan --run view.gph --snapshots DIR`
writes what they received as PNG files instead.

Run them with `vorlan --run GRAPH --path source=PICTURE [--path target=OUT.bmp]`.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gph import CURRENT_FOLDER, Graph, Settings, file_settings  # noqa: E402

FILE_INPUT_STREAM = 10
FILE_OUTPUT_STREAM = 20
TEXT_DISPLAY = 70
RGB_DISPLAY = 30
MONO_DISPLAY = 60
BMP_ENCODER = 50
IMAGE_DECODER = 1020
GRAYSCALE = 90
PSNR = 210

STREAM_PIN = 2  # "Out" of the input stream, "In" of the output stream
DECODER_IN, DECODER_R, DECODER_G, DECODER_B = 2, 3, 4, 5  # of the Image decoder, as of the Bmp decoder
ENCODER_OUT, ENCODER_R, ENCODER_G, ENCODER_B = 2, 3, 4, 5
GRAY_R, GRAY_G, GRAY_B, GRAY_OUT = 2, 3, 4, 5
PSNR_IN1, PSNR_IN2 = 2, 3
PSNR_OUTPUTS = {'PSNR': 4, 'RMS': 5, 'MD': 6, 'AD': 7}
DISPLAY_IN = 2
RGB_DISPLAY_R, RGB_DISPLAY_G, RGB_DISPLAY_B = 2, 3, 4
STRETCH = 1
LIMIT_MEGAPIXELS = 64  # the Image decoder's largest picture (its default)

Y_METHOD = 2
THIRD = 0.3333333333333333


def grayscale_settings(method=Y_METHOD):
    return Settings().int32(method).float64(THIRD).float64(THIRD).float64(THIRD)


def add_decoder(g, x, y):
    source = g.node(FILE_INPUT_STREAM, 'source', x, y, file_settings('input.bmp'))
    decoder = g.node(IMAGE_DECODER, 'decoder', x + 180, y, Settings().int32(LIMIT_MEGAPIXELS))
    g.edge(source, STREAM_PIN, decoder, DECODER_IN)
    return decoder


def add_grayscale(g, decoder, x, y):
    gray = g.node(GRAYSCALE, 'grayscale', x, y, grayscale_settings())
    g.edge(decoder, DECODER_R, gray, GRAY_R)
    g.edge(decoder, DECODER_G, gray, GRAY_G)
    g.edge(decoder, DECODER_B, gray, GRAY_B)
    return gray


def build_bmp_gray():
    g = Graph()
    decoder = add_decoder(g, 10, 10)
    gray = add_grayscale(g, decoder, 370, 10)
    encoder = g.node(BMP_ENCODER, 'encoder', 550, 10)
    for pin in (ENCODER_R, ENCODER_G, ENCODER_B):
        g.edge(gray, GRAY_OUT, encoder, pin)
    target = g.node(FILE_OUTPUT_STREAM, 'target', 730, 10, file_settings('gray.bmp', CURRENT_FOLDER))
    g.edge(encoder, ENCODER_OUT, target, STREAM_PIN)
    return g


def build_psnr():
    g = Graph()
    decoder = add_decoder(g, 10, 10)
    gray = add_grayscale(g, decoder, 370, 150)

    same = g.node(PSNR, 'psnr self', 550, 10, Settings().int32(0))
    g.edge(decoder, DECODER_G, same, PSNR_IN1)
    g.edge(decoder, DECODER_G, same, PSNR_IN2)
    shown = g.node(TEXT_DISPLAY, 'self PSNR', 730, 10, Settings().text('self PSNR'))
    g.edge(same, PSNR_OUTPUTS['PSNR'], shown, DISPLAY_IN)

    versus = g.node(PSNR, 'psnr gray', 550, 150, Settings().int32(1))
    g.edge(decoder, DECODER_G, versus, PSNR_IN1)
    g.edge(gray, GRAY_OUT, versus, PSNR_IN2)
    for row, (name, pin) in enumerate(PSNR_OUTPUTS.items()):
        caption = 'gray ' + name
        shown = g.node(TEXT_DISPLAY, caption, 730, 150 + 60 * row, Settings().text(caption))
        g.edge(versus, pin, shown, DISPLAY_IN)
    return g


def build_view():
    g = Graph()
    decoder = add_decoder(g, 10, 10)
    colour = g.node(RGB_DISPLAY, 'colour', 370, 10, Settings().byte(STRETCH).text('colour'))
    g.edge(decoder, DECODER_R, colour, RGB_DISPLAY_R)
    g.edge(decoder, DECODER_G, colour, RGB_DISPLAY_G)
    g.edge(decoder, DECODER_B, colour, RGB_DISPLAY_B)
    gray = add_grayscale(g, decoder, 370, 150)
    grey = g.node(MONO_DISPLAY, 'grey', 550, 150, Settings().byte(STRETCH).text('grey'))
    g.edge(gray, GRAY_OUT, grey, DISPLAY_IN)
    return g


if __name__ == '__main__':
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    build_bmp_gray().save(os.path.join(folder, 'bmp_gray.gph'))
    build_psnr().save(os.path.join(folder, 'psnr.gph'))
    build_view().save(os.path.join(folder, 'view.gph'))

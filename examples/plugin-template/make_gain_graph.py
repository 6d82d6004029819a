#!/usr/bin/env python3
"""Writes gain.gph: input.bmp is decoded, reduced to grey, passed through
"Gain" (factor 0.5) and written as gain.bmp; a PSNR enumerator compares the
grey plane before and after the gain and a text display shows the PSNR.

    vorlan --filters build/filters --run gain.gph \\
        --path source=picture.bmp --path target=darker.bmp
"""
import os
import shutil
import sys

here = os.path.dirname(os.path.abspath(__file__))


def gph_folders():
    """Where the SDK's graph module gph.py may be, in the order searched: this
    folder, its parent (Vorlan's examples/, or share/vorlan where the template
    is installed), then share/vorlan of the vorlan found on PATH and of the
    usual prefixes. PYTHONPATH, when it names gph.py's folder, comes first."""
    folders = [here, os.path.dirname(here)]
    program = shutil.which('vorlan')
    if program:
        folders.append(os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(program))), 'share', 'vorlan'))
    folders += ['/usr/local/share/vorlan', '/usr/share/vorlan']
    return folders


def import_gph():
    try:
        import gph
        return gph
    except ImportError:
        pass
    for folder in gph_folders():
        if os.path.isfile(os.path.join(folder, 'gph.py')):
            sys.path.insert(0, folder)
            import gph
            return gph
    sys.exit('make_gain_graph.py: cannot find gph.py, the graph module of the Vorlan SDK (package vorlan-dev); '
             'looked in ' + ', '.join(gph_folders()) + '; name its folder in PYTHONPATH')


gph = import_gph()
Graph, Settings = gph.Graph, gph.Settings

FILE_INPUT_STREAM, FILE_OUTPUT_STREAM = 10, 20
BMP_DECODER, BMP_ENCODER, GRAYSCALE, PSNR, TEXT_DISPLAY = 40, 50, 90, 210, 70
GAIN = 10000
STREAM_PIN = 2
DECODER_IN, DECODER_R, DECODER_G, DECODER_B = 2, 3, 4, 5
ENCODER_OUT, ENCODER_R, ENCODER_G, ENCODER_B = 2, 3, 4, 5
GRAY_R, GRAY_G, GRAY_B, GRAY_OUT = 2, 3, 4, 5
GAIN_IN, GAIN_OUT = 2, 3
PSNR_IN1, PSNR_IN2, PSNR_OUT = 2, 3, 4
DISPLAY_IN = 2
THIRD = 0.3333333333333333


def build():
    g = Graph()
    # The picture is read beside the graph, the result written where the run
    # stands (the folder field of the File Output Stream).
    source = g.node(FILE_INPUT_STREAM, 'source', 10, 10, gph.file_settings('input.bmp'))
    decoder = g.node(BMP_DECODER, 'decoder', 190, 10)
    g.edge(source, STREAM_PIN, decoder, DECODER_IN)
    gray = g.node(GRAYSCALE, 'grayscale', 370, 10,
                  Settings().int32(2).float64(THIRD).float64(THIRD).float64(THIRD))
    for a, b in ((DECODER_R, GRAY_R), (DECODER_G, GRAY_G), (DECODER_B, GRAY_B)):
        g.edge(decoder, a, gray, b)
    gain = g.node(GAIN, 'gain', 550, 10, Settings().float64(0.5).int32(1))
    g.edge(gray, GRAY_OUT, gain, GAIN_IN)
    encoder = g.node(BMP_ENCODER, 'encoder', 730, 10)
    for pin in (ENCODER_R, ENCODER_G, ENCODER_B):
        g.edge(gain, GAIN_OUT, encoder, pin)
    target = g.node(FILE_OUTPUT_STREAM, 'target', 910, 10, gph.file_settings('gain.bmp', gph.CURRENT_FOLDER))
    g.edge(encoder, ENCODER_OUT, target, STREAM_PIN)
    psnr = g.node(PSNR, 'psnr', 730, 150, Settings().int32(1))
    g.edge(gray, GRAY_OUT, psnr, PSNR_IN1)
    g.edge(gain, GAIN_OUT, psnr, PSNR_IN2)
    shown = g.node(TEXT_DISPLAY, 'gain PSNR', 910, 150, Settings().text('gain PSNR'))
    g.edge(psnr, PSNR_OUT, shown, DISPLAY_IN)
    return g


if __name__ == '__main__':
    build().save(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'gain.gph'))

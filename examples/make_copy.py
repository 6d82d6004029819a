#!/usr/bin/env python3
"""Writes copy.gph: a File Input Stream reading input.bmp feeds a File
Output Stream writing copy.bmp, so running the graph copies the picture.
Both names are relative: they are taken from the graph file's folder."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gph import CURRENT_FOLDER, Graph, file_settings  # noqa: E402

FILE_INPUT_STREAM = 10
FILE_OUTPUT_STREAM = 20
DATA_PIN = 2  # "Out" of the input stream, "In" of the output stream


def build():
    g = Graph()
    source = g.node(FILE_INPUT_STREAM, 'source', 10, 10, file_settings('input.bmp'))
    target = g.node(FILE_OUTPUT_STREAM, 'target', 200, 10, file_settings('copy.bmp', CURRENT_FOLDER))
    g.edge(source, DATA_PIN, target, DATA_PIN)
    return g


if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), 'copy.gph')
    build().save(out)

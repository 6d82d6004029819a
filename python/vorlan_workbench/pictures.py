"""8-bit grey pictures as numpy arrays (rows top first, dtype uint8), read
from and written to the files the workbench and the rival codecs exchange:
24-bit BMP, PGM/PPM (P5/P6, maxval 255) and monochrome YUV4MPEG2."""
from __future__ import annotations

import struct

import numpy as np

# The grey the example graphs' Grayscale conversion makes (Y weights).
Y_WEIGHTS = (0.299, 0.587, 0.114)


def luma(rgb: np.ndarray) -> np.ndarray:
    """Y = 0.299 R + 0.587 G + 0.114 B of an (h, w, 3) RGB array, as float64
    in the same units (grey levels 0 ... 255 for 8-bit input)."""
    rgb = np.asarray(rgb, dtype=np.float64)
    return Y_WEIGHTS[0] * rgb[..., 0] + Y_WEIGHTS[1] * rgb[..., 1] + Y_WEIGHTS[2] * rgb[..., 2]


def to_bytes(values: np.ndarray) -> np.ndarray:
    """Grey levels rounded to the nearest integer and clipped to 0 ... 255."""
    return np.clip(np.rint(values), 0, 255).astype(np.uint8)


def read_bmp_rgb(path: str) -> np.ndarray:
    """An uncompressed 24-bit BMP as an (h, w, 3) uint8 array in R, G, B order."""
    with open(path, 'rb') as f:
        data = f.read()
    if len(data) < 54 or data[:2] != b'BM':
        raise ValueError(f'{path}: not a BMP file')
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits, = struct.unpack_from('<H', data, 28)
    compression, = struct.unpack_from('<I', data, 30)
    if bits != 24 or compression != 0:
        raise ValueError(f'{path}: a 24-bit uncompressed BMP is needed, not {bits}-bit (compression {compression})')
    if width < 1 or height == 0:
        raise ValueError(f'{path}: no pixels ({width} x {height})')
    rows = abs(height)
    stride = (width * 3 + 3) & ~3
    if offset + stride * rows > len(data):
        raise ValueError(f'{path}: the pixel rows are cut short')
    raw = np.frombuffer(data, np.uint8, count=stride * rows, offset=offset).reshape(rows, stride)
    bgr = raw[:, :width * 3].reshape(rows, width, 3)
    if height > 0:  # stored bottom row first
        bgr = bgr[::-1]
    return np.ascontiguousarray(bgr[..., ::-1])


def read_bmp_grey(path: str) -> np.ndarray:
    """The grey of a 24-bit BMP as 8-bit levels (Y rounded to the nearest level):
    the picture the rival codecs are given and every decoded picture is
    measured against."""
    return to_bytes(luma(read_bmp_rgb(path)))


def _pnm_header(data: bytes, path: str) -> tuple[bytes, int, int, int, int]:
    fields: list[bytes] = []
    i = 0
    while len(fields) < 4:
        if i >= len(data):
            raise ValueError(f'{path}: the PNM header is cut short')
        c = data[i:i + 1]
        if c.isspace():
            i += 1
        elif c == b'#':
            while i < len(data) and data[i:i + 1] != b'\n':
                i += 1
        else:
            j = i
            while j < len(data) and not data[j:j + 1].isspace():
                j += 1
            fields.append(data[i:j])
            i = j
    return fields[0], int(fields[1]), int(fields[2]), int(fields[3]), i + 1


def read_pnm(path: str) -> np.ndarray:
    """A binary PGM (P5, returns (h, w)) or PPM (P6, returns (h, w, 3)) with
    maxval 255, as uint8."""
    with open(path, 'rb') as f:
        data = f.read()
    magic, width, height, maxval, start = _pnm_header(data, path)
    if magic not in (b'P5', b'P6') or maxval != 255:
        raise ValueError(f'{path}: only 8-bit binary PGM/PPM is read (got {magic!r}, maxval {maxval})')
    channels = 1 if magic == b'P5' else 3
    count = width * height * channels
    if start + count > len(data):
        raise ValueError(f'{path}: the samples are cut short')
    pixels = np.frombuffer(data, np.uint8, count=count, offset=start)
    return pixels.reshape(height, width) if channels == 1 else pixels.reshape(height, width, 3)


def read_grey(path: str) -> np.ndarray:
    """A picture file as 8-bit grey: PGM as it is, PPM and BMP through Y."""
    with open(path, 'rb') as f:
        head = f.read(2)
    if head == b'BM':
        return read_bmp_grey(path)
    pixels = read_pnm(path)
    return pixels if pixels.ndim == 2 else to_bytes(luma(pixels))


def write_pgm(path: str, grey: np.ndarray) -> None:
    """Writes an (h, w) uint8 array as a binary PGM."""
    grey = np.ascontiguousarray(grey, dtype=np.uint8)
    with open(path, 'wb') as f:
        f.write(b'P5\n%d %d\n255\n' % (grey.shape[1], grey.shape[0]))
        f.write(grey.tobytes())


def write_y4m_mono(path: str, grey: np.ndarray) -> None:
    """One frame of full-range monochrome YUV4MPEG2 (what avifenc reads)."""
    grey = np.ascontiguousarray(grey, dtype=np.uint8)
    with open(path, 'wb') as f:
        f.write(b'YUV4MPEG2 W%d H%d F25:1 Ip A1:1 Cmono XCOLORRANGE=FULL\nFRAME\n' % (grey.shape[1], grey.shape[0]))
        f.write(grey.tobytes())


def read_y4m_luma(path: str) -> np.ndarray:
    """The Y plane of the first frame of a YUV4MPEG2 file (8-bit), as (h, w)."""
    with open(path, 'rb') as f:
        data = f.read()
    end = data.find(b'\n')
    if not data.startswith(b'YUV4MPEG2') or end < 0:
        raise ValueError(f'{path}: not a YUV4MPEG2 file')
    params = {p[:1]: p[1:] for p in data[:end].split()[1:]}
    width, height = int(params[b'W']), int(params[b'H'])
    colour = params.get(b'C', b'420jpeg')
    if colour.endswith(b'p10') or colour.endswith(b'p12') or colour.endswith(b'p16'):
        raise ValueError(f'{path}: only 8-bit samples are read (C{colour.decode()})')
    frame = data.find(b'FRAME', end)
    start = data.find(b'\n', frame) + 1
    if frame < 0 or start + width * height > len(data):
        raise ValueError(f'{path}: the first frame is cut short')
    return np.frombuffer(data, np.uint8, count=width * height, offset=start).reshape(height, width)

"""8-bit pictures as numpy arrays (rows top first, dtype uint8; grey (h, w),
RGB (h, w, 3)), read from and written to the files the workbench and the
rival codecs exchange: 24-bit BMP, PGM/PPM (P5/P6, maxval 255), PNG and
monochrome YUV4MPEG2; any format Pillow reads comes in through `load`."""
from __future__ import annotations

import hashlib
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


def write_ppm(path: str, rgb: np.ndarray) -> None:
    """Writes an (h, w, 3) uint8 array as a binary PPM."""
    rgb = np.ascontiguousarray(rgb, dtype=np.uint8)
    if rgb.ndim != 3 or rgb.shape[2] != 3:
        raise ValueError(f'an RGB picture is needed, not an array of shape {rgb.shape}')
    with open(path, 'wb') as f:
        f.write(b'P6\n%d %d\n255\n' % (rgb.shape[1], rgb.shape[0]))
        f.write(rgb.tobytes())


def write_png(path: str, pixels: np.ndarray) -> None:
    """Writes a grey or RGB uint8 array as a PNG (through Pillow)."""
    from PIL import Image

    Image.fromarray(np.ascontiguousarray(pixels, dtype=np.uint8)).save(path)


def read_rgb(path: str) -> np.ndarray:
    """A picture file as (h, w, 3) RGB: BMP and PPM read here, any other
    format through Pillow; a grey file gives three equal channels."""
    with open(path, 'rb') as f:
        head = f.read(2)
    if head == b'BM':
        return read_bmp_rgb(path)
    if head in (b'P5', b'P6'):
        pixels = read_pnm(path)
        return pixels if pixels.ndim == 3 else np.repeat(pixels[..., None], 3, axis=2)
    return load(path, colour=True)


def is_grey(rgb: np.ndarray) -> bool:
    """True when the three channels of an (h, w, 3) picture are equal: a grey
    picture in an RGB file."""
    return bool(np.array_equal(rgb[..., 0], rgb[..., 1]) and np.array_equal(rgb[..., 1], rgb[..., 2]))


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


def write_bmp(path: str, pixels: np.ndarray) -> None:
    """Writes an (h, w) grey or (h, w, 3) RGB uint8 array as an uncompressed
    24-bit BMP (bottom row first, rows padded to 4 bytes); grey goes into
    all three channels, so its Y is the grey itself."""
    pixels = np.asarray(pixels, dtype=np.uint8)
    if pixels.ndim == 2:
        pixels = np.repeat(pixels[..., None], 3, axis=2)
    if pixels.ndim != 3 or pixels.shape[2] != 3 or pixels.size == 0:
        raise ValueError(f'a non-empty grey or RGB picture is needed, not an array of shape {pixels.shape}')
    h, w, _ = pixels.shape
    stride = (w * 3 + 3) & ~3
    body = np.zeros((h, stride), np.uint8)
    body[:, :w * 3] = pixels[::-1, :, ::-1].reshape(h, w * 3)
    header = struct.pack('<2sIHHI', b'BM', 54 + body.size, 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, body.size, 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + body.tobytes())


def load(path: str, colour: bool = False) -> np.ndarray:
    """Any picture file Pillow reads (BMP, PNG, JPEG, PGM/PPM, TIFF, WebP, ...)
    as 8-bit samples: (h, w, 3) RGB when `colour`, else (h, w) grey through
    Y rounded to the nearest level, as read_bmp_grey makes it. Grey files
    stay grey; 16-bit grey keeps its high byte; transparency is dropped.
    Raises ValueError for a file that is not a readable picture."""
    from PIL import Image, UnidentifiedImageError  # only the sweep needs Pillow

    try:
        with Image.open(path) as img:
            img.load()
            if img.mode in ('I;16', 'I;16B', 'I;16L', 'I'):
                grey = np.asarray(img, dtype=np.int64)
                high = 65535 if grey.max(initial=0) > 255 else 255
                grey = to_bytes(grey * (255.0 / high))
                return np.repeat(grey[..., None], 3, axis=2) if colour else grey
            if img.mode in ('L', '1') and not colour:
                return np.array(img.convert('L'), dtype=np.uint8)
            rgb = np.array(img.convert('RGB'), dtype=np.uint8)
    except (OSError, UnidentifiedImageError, ValueError, SyntaxError) as error:
        raise ValueError(f'{path}: not a readable picture ({error})') from error
    if rgb.size == 0:
        raise ValueError(f'{path}: no pixels')
    return rgb if colour else to_bytes(luma(rgb))


def content_hash(pixels: np.ndarray) -> str:
    """SHA-256 (hex) of a picture's samples and shape: the same picture gives
    the same hash whatever its file name or lossless file format."""
    pixels = np.ascontiguousarray(pixels, dtype=np.uint8)
    digest = hashlib.sha256(b'vorlan-picture %s\n' % ' '.join(map(str, pixels.shape)).encode())
    digest.update(pixels.tobytes())
    return digest.hexdigest()

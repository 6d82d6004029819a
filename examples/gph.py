"""Writes Vorlan graph files (.gph) for the examples.

A graph file is little-endian: origin x, origin y, node count, the node
records (filter id, node id, caption length, caption bytes, a zero byte, x, y,
settings length, settings bytes), edge count, then the edges (from node id,
from pin, to node id, to pin). Settings are the filter's ConfigStream bytes;
`Settings` builds them item by item.
"""
import struct


class Settings:
    def __init__(self):
        self.data = bytearray()

    def int32(self, v):
        self.data += struct.pack('<i', v)
        return self

    def float32(self, v):
        self.data += struct.pack('<f', v)
        return self

    def float64(self, v):
        self.data += struct.pack('<d', v)
        return self

    def byte(self, v):
        self.data += struct.pack('<B', v)
        return self

    def text(self, s):
        if s is None:
            return self.int32(-1)
        raw = s.encode('utf-8')
        self.int32(len(raw))
        self.data += raw
        return self


# Where a File Input or Output Stream takes a relative path from: the graph
# file's folder (what a stream without the field means), or the current
# folder of the run, so that an installed example writes where its user
# stands.
GRAPH_FOLDER, CURRENT_FOLDER = 0, 1


def file_settings(path, folder=GRAPH_FOLDER):
    """The settings of a file stream: the path, then the folder field unless it
    is the graph's folder (such streams keep the bytes older versions wrote)."""
    s = Settings().text(path)
    return s.int32(folder) if folder != GRAPH_FOLDER else s


class Graph:
    def __init__(self, origin=(0, 0)):
        self.origin = origin
        self.nodes = []
        self.edges = []

    def node(self, filter_id, caption, x, y, settings=None):
        """Adds a node and returns its node id (1, 2, ...)."""
        node_id = len(self.nodes) + 1
        data = bytes(settings.data) if settings is not None else b''
        self.nodes.append((filter_id, node_id, caption, x, y, data))
        return node_id

    def edge(self, from_node, from_pin, to_node, to_pin):
        self.edges.append((from_node, from_pin, to_node, to_pin))

    def to_bytes(self):
        out = bytearray(struct.pack('<iii', self.origin[0], self.origin[1], len(self.nodes)))
        for filter_id, node_id, caption, x, y, data in self.nodes:
            cap = caption.encode('utf-8')
            out += struct.pack('<iii', filter_id, node_id, len(cap)) + cap + b'\0'
            out += struct.pack('<iii', x, y, len(data)) + data
        out += struct.pack('<i', len(self.edges))
        for e in self.edges:
            out += struct.pack('<iiii', *e)
        return bytes(out)

    def save(self, path):
        with open(path, 'wb') as f:
            f.write(self.to_bytes())

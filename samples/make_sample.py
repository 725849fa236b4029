#!/usr/bin/env python3
"""Writes the bundled sample: the application tree of "Vornhelm Atlas" by Vornhelm Software.

    make_sample.py OUT_DIR

OUT_DIR must be missing or empty. The tree is the same, byte for byte and time for time, on
every run and every machine: the bytes come from a fixed-seed generator of this file's own, and
every file gets a fixed modification and access time. About 4 MB in all: ATLAS.EXE and the maps
are incompressible (2 MiB and 1 MiB), the gazetteer, the routes table and the help pages are
text and compress well. Packed, the tree spans three floppy volumes.
"""
import hashlib
import os
import sys

# 14 May 1996, 10:30:00 UTC; file k is stamped k minutes later.
BASE_TIME = 832069800


class Generator:
    """xorshift32: the same numbers on every Python version."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def below(self, n):
        return self.next() % n

    def pick(self, items):
        return items[self.below(len(items))]


def noise(label, size):
    """size incompressible bytes, SHA-256 in counter mode over label."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(b"%s:%d" % (label.encode(), counter)).digest()
        counter += 1
    return bytes(out[:size])


def dos_text(text):
    return text.replace("\n", "\r\n").encode("ascii")


SYLLABLES = ["vor", "hel", "mar", "ost", "lin", "dra", "kes", "ber", "tun", "ash", "wen", "gal",
             "rim", "sol", "tor", "ney", "bra", "fen", "ul", "ka"]
KINDS = ["town", "village", "city", "port", "pass", "lake", "peak", "ford", "bay", "cape"]


def place_name(gen):
    name = "".join(gen.pick(SYLLABLES) for _ in range(2 + gen.below(2)))
    return name.capitalize()


def gazetteer(gen, count):
    lines = ["; Vornhelm Atlas gazetteer: name, kind, latitude, longitude, population\n"]
    for _ in range(count):
        lat = gen.below(180000) - 90000
        lon = gen.below(360000) - 180000
        lines.append("%s,%s,%+08.3f,%+09.3f,%d\n" % (place_name(gen), gen.pick(KINDS),
                                                     lat / 1000, lon / 1000,
                                                     gen.below(2000) * 50))
    return dos_text("".join(lines))


def routes(gen, count):
    # Fixed-width records whose fields vary little: compressible binary data.
    out = bytearray(b"VARTROUT\x01\x00")
    for i in range(count):
        out += i.to_bytes(4, "little")
        out += gen.below(4096).to_bytes(2, "little")
        out += gen.below(4096).to_bytes(2, "little")
        out += bytes([gen.below(8), 0, 0, gen.below(3)])
        out += (gen.below(900) + 100).to_bytes(4, "little")
    return bytes(out)


def executable(size):
    # A DOS stub header followed by code-like noise.
    head = b"MZ" + bytes(58) + (0x80).to_bytes(4, "little")
    head += dos_text("This program cannot be run in DOS mode.\n$")
    return (head + noise("ATLAS.EXE", size))[:size]


HELP_TOPICS = {
    "CONTENTS": "Contents",
    "MAPS": "Reading the maps",
    "SEARCH": "Finding a place",
    "ROUTES": "Planning a route",
    "PRINTING": "Printing a map",
    "KEYS": "Keyboard shortcuts",
}

WORDS = ["the", "map", "shows", "every", "place", "you", "choose", "from", "list", "and", "its",
         "route", "scale", "legend", "window", "press", "click", "zoom", "print", "search",
         "atlas", "drive", "with", "to", "a", "of", "in", "on", "for", "by", "name", "region"]


def help_page(gen, title, paragraphs):
    text = [title, "=" * len(title), ""]
    for _ in range(paragraphs):
        words = [gen.pick(WORDS) for _ in range(40 + gen.below(40))]
        words[0] = words[0].capitalize()
        line, lines = "", []
        for word in words:
            if len(line) + len(word) + 1 > 72:
                lines.append(line)
                line = word
            else:
                line = (line + " " + word).strip()
        lines.append(line + ".")
        text += lines + [""]
    return dos_text("\n".join(text))


README = """VORNHELM ATLAS 2.1
Vornhelm Software

Maps for every desk.

Start ATLAS.EXE from the Vornhelm Software program group. The help
pages in HELP explain the maps, the search and the route planner; the
SAMPLES directory holds two tours to begin with.

Files:
  ATLAS.EXE        the program
  ATLAS.INI        settings
  DATA\\PLACES.DAT  gazetteer
  DATA\\ROUTES.DAT  road and ferry links
  DATA\\MAPS\\      map sheets
  HELP\\            help pages
  SAMPLES\\         tours
"""

INI = """[Atlas]
Maps=DATA\\MAPS
Gazetteer=DATA\\PLACES.DAT
Units=metric
LastSheet=WORLD

[Window]
Maximized=1
"""

MAP_SHEETS = ["WORLD", "NORTH", "SOUTH", "EAST", "WEST", "ISLANDS", "POLAR", "COAST"]


def tour(gen, name, stops):
    lines = ["[Tour]", "Name=%s" % name, "Stops=%d" % stops]
    for i in range(stops):
        lines.append("Stop%d=%s" % (i + 1, place_name(gen)))
    return dos_text("\n".join(lines) + "\n")


def sample_tree():
    """(relative path with '/', bytes) in a fixed order."""
    gen = Generator(0x56A7)
    files = [
        ("README.TXT", dos_text(README)),
        ("ATLAS.INI", dos_text(INI)),
        ("ATLAS.EXE", executable(2 * 1024 * 1024)),
        ("DATA/PLACES.DAT", gazetteer(gen, 16000)),
        ("DATA/ROUTES.DAT", routes(gen, 20000)),
    ]
    for sheet in MAP_SHEETS:
        files.append(("DATA/MAPS/%s.MAP" % sheet, noise(sheet, 128 * 1024)))
    for topic, title in HELP_TOPICS.items():
        files.append(("HELP/%s.TXT" % topic, help_page(gen, title, 12 + gen.below(12))))
    files.append(("SAMPLES/TOUR.ATL", tour(gen, "Grand tour", 24)))
    files.append(("SAMPLES/COAST.ATL", tour(gen, "Along the coast", 9)))
    return files


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_sample.py OUT_DIR")
    root = sys.argv[1]
    if os.path.exists(root) and (not os.path.isdir(root) or os.listdir(root)):
        sys.exit("make_sample.py: %s exists and is not an empty directory; "
                 "choose another or remove it" % root)
    total = 0
    files = sample_tree()
    for index, (relative, data) in enumerate(files):
        path = os.path.join(root, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        stamp = BASE_TIME + 60 * index
        os.utime(path, (stamp, stamp))
        total += len(data)
    for directory, _, _ in sorted(os.walk(root), reverse=True):
        os.utime(directory, (BASE_TIME, BASE_TIME))
    print("%d files, %d bytes in %s" % (len(files), total, root))


if __name__ == "__main__":
    main()

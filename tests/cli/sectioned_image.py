"""A firmware image of random sections, and the digest korva-sim reports once it
holds them all: an update that loses, repeats or reorders a byte shows."""

import os
import subprocess

SECTIONS = {"mcu": 30000, "dsp-header": 300, "dsp": 20000, "config": 2000}


def fnv1a(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return f"{h:08x}"


def image_with_sections(mkimage, folder, model="RULKO"):
    """Writes the image into folder; returns its path and the digest."""
    files, data = [], b""
    for name, size in SECTIONS.items():
        blob = os.urandom(size)
        path = os.path.join(folder, name + ".part")
        with open(path, "wb") as f:
            f.write(blob)
        files += ["--" + name, path]
        data += blob
    image = os.path.join(folder, "sections.bin")
    subprocess.run([mkimage, "-o", image, "--model", model, *files], check=True, capture_output=True)
    return image, fnv1a(data)

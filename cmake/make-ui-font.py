#!/usr/bin/env python3
"""Cuts the toolbox's own small font out of a large CJK font.

The window's fixed texts (captions, labels, messages, results) use a few hundred Chinese characters out of the
tens of thousands a CJK font carries. Reading such a font at start-up maps megabytes of it; a font holding only
the characters of the program's own texts is a fraction of that. Text the program does not know in advance
(hero names, pasted text) falls back to the full system font.

    make-ui-font.py SOURCE_FONT FACE_INDEX FAMILY OUTPUT TEXT_FILE...

Characters kept: printable ASCII, the CJK and full-width punctuation blocks, and every other character that
appears in a TEXT_FILE (the forms and sources, read as UTF-8, XML character references resolved). The family is
renamed, so the cut font never stands in for the full one under the full one's name; the copyright and licence
records are kept.
"""

import html
import os
import sys

from fontTools import subset
from fontTools.ttLib import TTFont


def characters(paths):
    wanted = {chr(c) for c in range(0x20, 0x7F)}
    wanted.update(chr(c) for c in range(0x3000, 0x3040))  # CJK punctuation
    wanted.update(chr(c) for c in range(0xFF01, 0xFF5F))  # full-width forms
    for path in paths:
        with open(path, encoding="utf-8") as f:
            text = f.read()
        if path.endswith(".ui"):
            text = html.unescape(text)
        wanted.update(c for c in text if ord(c) >= 0x80 and c.isprintable())
    return wanted


def rename(font, family):
    names = font["name"]
    old_family = (names.getName(16, 3, 1, 0x409) or names.getName(1, 3, 1, 0x409)).toUnicode()
    old_postscript = names.getName(6, 3, 1, 0x409).toUnicode().split("-")[0]
    postscript = family.replace(" ", "")
    for record in names.names:
        text = record.toUnicode()
        if record.nameID in (1, 3, 4, 6, 16, 18, 20, 21):
            record.string = text.replace(old_family, family).replace(old_postscript, postscript)
    if "CFF " in font:
        # The outlines carry a PostScript name of their own (in a collection, often another region's).
        font["CFF "].cff.fontNames = [names.getName(6, 3, 1, 0x409).toUnicode()]


def main(argv):
    if len(argv) < 6:
        sys.exit(__doc__)
    source, index, family, output, texts = argv[1], int(argv[2]), argv[3], argv[4], argv[5:]
    wanted = "".join(sorted(characters(texts)))
    # An edit that brings no new character leaves the cut untouched, so nothing built from it is built again.
    record = output + ".chars"
    if os.path.exists(output) and os.path.exists(record):
        with open(record, encoding="utf-8") as f:
            if f.read() == wanted + "\n" + source:
                return
    font = TTFont(source, fontNumber=index, lazy=False)
    options = subset.Options()
    options.name_IDs = ["*"]          # copyright, licence and their addresses travel with the font
    options.name_languages = ["*"]
    options.notdef_outline = True
    options.recalc_bounds = True
    subsetter = subset.Subsetter(options)
    subsetter.populate(text=wanted)
    subsetter.subset(font)
    rename(font, family)
    font.save(output)
    with open(record, "w", encoding="utf-8") as f:
        f.write(wanted + "\n" + source)


if __name__ == "__main__":
    main(sys.argv)

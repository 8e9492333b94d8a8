#!/usr/bin/env python3
"""Generates the normalizer's character tables and the simple case-folding table.

Run at development time only; the outputs are committed and the build never needs Python or
the Unicode data files:

    python3 tools/gen_char_table.py [UNICODE_DIR]      (default /usr/share/unicode, from the
                                                        Debian package unicode-data)

Outputs
  text/char_table_generated.cpp   the character table (class, action and replacement for every
                                  UTF-16 code unit of the 94 blocks that have entries), the
                                  two-character table of half-width katakana with their voiced
                                  marks, and the katakana compositions of the word tables
  text/case_fold_generated.cpp    simple case folding of the Basic Multilingual Plane

What is derived, and from where
  * Block U+0000-U+00FF is written out below (LATIN1_ROWS) row by row; nothing is derived.
  * Letter folding ("unaccented lower-case base letter") for Latin extended, Greek, Cyrillic,
    Armenian and the Latin ligatures U+FB00-U+FB06: UnicodeData.txt field 5 (decomposition,
    canonical and compatibility, applied recursively, combining marks and modifier letters
    removed), then CaseFolding.txt (status C and S) for the case. Letters without a
    decomposition that are named "LATIN ... LETTER X WITH ..." (stroke, hook, bar: field 1, the
    name) fold to x; "LATIN ... LIGATURE OE" folds to oe. Latin-1 bases fold as block 0 says.
  * Which code points are letters, marks, punctuation, symbols and spaces: UnicodeData.txt
    field 2 (general category). Marks (Mn, Me) and modifier letters (Lm) are dropped,
    punctuation and symbols are word breaks in the punctuation pass, spacing accents (Sk) are
    dropped in that pass, spaces are word breaks, format characters (Cf) are dropped.
  * Hiragana to katakana: field 1, "HIRAGANA LETTER X" maps to "KATAKANA LETTER X"; the small
    hiragana are copied.
  * Half-width and full-width forms: field 5 (<narrow> and <wide> decompositions); a form
    behaves exactly like the character it decomposes to.
  * The two-character table and the katakana compositions: field 5 (canonical decompositions of
    the form katakana + U+3099 or U+309A), with the <narrow> marks U+FF9E and U+FF9F.
  * Ideographs U+4E00-U+9FFF and U+FA00-U+FAFF: Unihan_Variants.txt kSimplifiedVariant
    (traditional to simplified, only when the ideograph is not its own simplified form and the
    target is one BMP code unit), after the canonical singleton decomposition of the
    compatibility ideographs; Unihan_NumericValues.txt kPrimaryNumeric 1-9 fold to digits.
  * Case folding: CaseFolding.txt, statuses C and S, both code points in the BMP.
"""

import bz2
import os
import re
import sys

SPACE, LETTER, DIGIT, PUNCT, CONTROL, OTHER = range(6)
COPY, DROP, BREAK, REPLACE, WORD, INSIDE, BETWEEN, GROUPING = range(8)

# Block U+0000-U+00FF: (first, last, class, action, replacement). A replacement of None on an
# A-Z row means "the lower-case letter".
LATIN1_ROWS = [
    (0x00, 0x00, SPACE, COPY, ""),
    (0x01, 0x08, CONTROL, DROP, ""),
    (0x0E, 0x1F, CONTROL, DROP, ""),
    (0x7F, 0x9F, CONTROL, DROP, ""),
    (0x09, 0x0D, SPACE, BREAK, ""),
    (0x20, 0x20, SPACE, BREAK, ""),
    (0xA0, 0xA0, SPACE, BREAK, ""),
]
for first, last in [(0x21, 0x23), (0x28, 0x29), (0x2B, 0x2B), (0x2D, 0x2D), (0x2F, 0x2F),
                    (0x3A, 0x40), (0x5B, 0x5F), (0x7B, 0x7E), (0xA1, 0xA2), (0xA4, 0xA7),
                    (0xAB, 0xAC), (0xAE, 0xAF), (0xB1, 0xB1), (0xB6, 0xB7), (0xBB, 0xBB),
                    (0xBE, 0xBF), (0xD7, 0xD7), (0xF7, 0xF7)]:
    LATIN1_ROWS.append((first, last, PUNCT, BREAK, ""))
LATIN1_ROWS += [
    (0x24, 0x24, PUNCT, INSIDE, "s"),
    (0xA3, 0xA3, PUNCT, INSIDE, "l"),
    (0x25, 0x25, PUNCT, WORD, "percent"),
    (0x26, 0x26, PUNCT, WORD, "and"),
    (0xA9, 0xA9, PUNCT, WORD, "copyright"),
    (0xB0, 0xB0, PUNCT, WORD, "degree"),
    (0xBC, 0xBC, PUNCT, WORD, "quarter"),
    (0xBD, 0xBD, PUNCT, WORD, "half"),
    (0x27, 0x27, PUNCT, DROP, ""),
    (0x60, 0x60, PUNCT, DROP, ""),
    (0xA8, 0xA8, PUNCT, DROP, ""),
    (0xAD, 0xAD, PUNCT, DROP, ""),
    (0xB4, 0xB4, PUNCT, DROP, ""),
    (0x2A, 0x2A, PUNCT, BETWEEN, "e"),
    (0x2C, 0x2C, PUNCT, GROUPING, ""),
    (0x2E, 0x2E, PUNCT, GROUPING, ""),
    (0x30, 0x39, DIGIT, COPY, ""),
    (0x41, 0x5A, LETTER, REPLACE, None),
    (0x61, 0x7A, LETTER, COPY, ""),
    (0xAA, 0xAA, LETTER, DROP, ""),
    (0xB8, 0xB8, LETTER, DROP, ""),
    (0xBA, 0xBA, LETTER, DROP, ""),
    (0xB2, 0xB2, PUNCT, REPLACE, "2"),
    (0xB3, 0xB3, PUNCT, REPLACE, "3"),
    (0xB9, 0xB9, PUNCT, REPLACE, "1"),
    (0xB5, 0xB5, PUNCT, REPLACE, "mu"),
]
for first, last, text in [(0xC0, 0xC5, "a"), (0xE0, 0xE5, "a"), (0xC6, 0xC6, "ae"),
                          (0xE6, 0xE6, "ae"), (0xC7, 0xC7, "c"), (0xE7, 0xE7, "c"),
                          (0xC8, 0xCB, "e"), (0xE8, 0xEB, "e"), (0xCC, 0xCF, "i"),
                          (0xEC, 0xEF, "i"), (0xD0, 0xD0, "eth"), (0xF0, 0xF0, "eth"),
                          (0xD1, 0xD1, "n"), (0xF1, 0xF1, "n"), (0xD2, 0xD6, "o"),
                          (0xD8, 0xD8, "o"), (0xF2, 0xF6, "o"), (0xF8, 0xF8, "o"),
                          (0xD9, 0xDC, "u"), (0xF9, 0xFC, "u"), (0xDD, 0xDD, "y"),
                          (0xFD, 0xFD, "y"), (0xFF, 0xFF, "y"), (0xDE, 0xDE, "th"),
                          (0xFE, 0xFE, "th"), (0xDF, 0xDF, "ss")]:
    LATIN1_ROWS.append((first, last, LETTER, REPLACE, text))

# Blocks (high byte) that have a table; every other block is class 5, action 0.
TABLE_BLOCKS = ([0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x20, 0x30] + list(range(0x4E, 0xA0)) +
                [0xFA, 0xFB, 0xFE, 0xFF])


class Ucd:
    def __init__(self, root):
        self.name, self.gc, self.decomp, self.decomp_tag = {}, {}, {}, {}
        with open(os.path.join(root, "UnicodeData.txt"), encoding="utf-8") as f:
            for line in f:
                fields = line.rstrip("\n").split(";")
                cp = int(fields[0], 16)
                self.name[cp] = fields[1]
                self.gc[cp] = fields[2]
                if fields[5]:
                    parts = fields[5].split()
                    tag = parts.pop(0) if parts[0].startswith("<") else ""
                    self.decomp[cp] = [int(p, 16) for p in parts]
                    self.decomp_tag[cp] = tag
        self.by_name = {n: cp for cp, n in self.name.items()}
        self.fold = {}
        with open(os.path.join(root, "CaseFolding.txt"), encoding="utf-8") as f:
            for line in f:
                line = line.split("#")[0].strip()
                if not line:
                    continue
                code, status, mapping = [x.strip() for x in line.split(";")[:3]]
                if status in ("C", "S"):
                    self.fold[int(code, 16)] = int(mapping, 16)
        self.simplified = {}
        for cp, value in unihan(root, "Unihan_Variants.txt.bz2", "kSimplifiedVariant"):
            self.simplified[cp] = [int(v[2:], 16) for v in value.split()]
        self.numeric = {}
        for cp, value in unihan(root, "Unihan_NumericValues.txt.bz2", "kPrimaryNumeric"):
            self.numeric[cp] = value

    def category(self, cp):
        if 0x4E00 <= cp <= 0x9FFF:
            return "Lo"  # the ideograph range is given as a First/Last pair
        return self.gc.get(cp, "Cn")


def unihan(root, file_name, field):
    with bz2.open(os.path.join(root, file_name), "rt", encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split("\t")
            if len(parts) == 3 and parts[1] == field:
                yield int(parts[0][2:], 16), parts[2]


class Table:
    def __init__(self, ucd):
        self.ucd = ucd
        self.entries = {}  # code point -> (class, action, replacement)
        for first, last, cls, action, text in LATIN1_ROWS:
            for cp in range(first, last + 1):
                assert cp not in self.entries, hex(cp)
                self.entries[cp] = (cls, action, chr(cp + 0x20) if text is None else text)
        assert len(self.entries) == 256

    def set(self, cp, cls, action, text=""):
        self.entries[cp] = (cls, action, text)

    def letter(self, cp):
        """Class 1 entry of a letter: copied when it folds to itself, else replaced."""
        folded = self.fold_letter(cp)
        if folded == "":
            self.set(cp, LETTER, DROP)
        elif folded == chr(cp):
            self.set(cp, LETTER, COPY)
        else:
            self.set(cp, LETTER, REPLACE, folded)

    def fold_letter(self, cp):
        ucd = self.ucd
        if cp < 0x100:
            cls, action, text = self.entries[cp]
            if cls != LETTER:
                return ""
            return chr(cp) if action == COPY else text
        if cp in ucd.decomp:
            return "".join(self.fold_letter(part) for part in ucd.decomp[cp])
        gc = ucd.category(cp)
        if gc in ("Mn", "Me", "Mc", "Lm") or not gc.startswith("L"):
            return ""
        name = ucd.name.get(cp, "")
        m = re.match(r"LATIN (CAPITAL|SMALL) LETTER ([A-Z]) WITH ", name)
        if m:
            return m.group(2).lower()
        m = re.match(r"LATIN (CAPITAL|SMALL) LIGATURE ([A-Z]+)$", name)
        if m:
            return m.group(2).lower()
        m = re.match(r"LATIN SMALL LETTER DOTLESS ([A-Z])$", name)
        if m:
            return m.group(1).lower()
        if ucd.fold.get(cp, cp) != cp:
            return self.fold_letter(ucd.fold[cp])
        return chr(cp)

    def by_category(self, cp):
        """The scheme shared by the alphabetic blocks: letters fold, marks and modifier letters
        drop, punctuation and symbols break words, spacing accents drop, spaces break words."""
        gc = self.ucd.category(cp)
        if gc in ("Mn", "Me", "Lm"):
            self.set(cp, LETTER, DROP)
        elif gc.startswith("L"):
            self.letter(cp)
        elif gc == "Sk":
            self.set(cp, PUNCT, DROP)
        elif gc[0] in "PS":
            self.set(cp, PUNCT, BREAK)
        elif gc == "Zs":
            self.set(cp, SPACE, BREAK)
        elif gc == "Cf":
            self.set(cp, CONTROL, DROP)

    def build(self):
        ucd = self.ucd
        # Latin extended.
        for cp in range(0x100, 0x300):
            if 0x1F6 <= cp <= 0x1F9 or 0x218 <= cp <= 0x2AF:
                continue
            if 0x2B0 <= cp <= 0x2D7 or cp == 0x2DE or 0x2E0 <= cp <= 0x2E9:
                self.set(cp, LETTER, DROP)
            elif 0x2D8 <= cp <= 0x2DD:
                self.set(cp, PUNCT, BREAK)
            elif ucd.category(cp).startswith("L"):
                self.letter(cp)
        # Combining marks, Greek, Cyrillic, Armenian; Hebrew stays out of the table.
        for cp in range(0x300, 0x590):
            self.by_category(cp)
        # General punctuation, superscripts and subscripts, currency, combining marks for symbols.
        for cp in range(0x2000, 0x2100):
            gc = ucd.category(cp)
            if cp == 0x200B or gc in ("Zs", "Zl", "Zp"):
                self.set(cp, SPACE, BREAK)
            elif 0x202A <= cp <= 0x202E:
                self.set(cp, SPACE, COPY)
            elif cp == 0x2019:
                self.set(cp, PUNCT, DROP)
            elif cp in (0x20A0, 0x20AC):
                self.set(cp, PUNCT, INSIDE, "e")
            elif gc == "Sc":
                self.set(cp, PUNCT, DROP)
            elif gc == "No" and ucd.decomp_tag.get(cp) in ("<super>", "<sub>"):
                self.set(cp, PUNCT, REPLACE, "".join(chr(d) for d in ucd.decomp[cp]))
            else:
                self.by_category(cp)
        self.build_kana()
        # Ideographs: numerals fold to digits, traditional forms to simplified ones.
        for cp in list(range(0x4E00, 0xA000)) + list(range(0xFA00, 0xFB00)):
            if ucd.numeric.get(cp) in [str(d) for d in range(1, 10)]:
                self.set(cp, DIGIT, REPLACE, ucd.numeric[cp])
                continue
            target = cp
            if cp >= 0xFA00:
                if ucd.decomp_tag.get(cp) != "" or len(ucd.decomp.get(cp, [])) != 1:
                    continue
                target = ucd.decomp[cp][0]
            target = self.simplify(target)
            if target != cp and target <= 0xFFFF:
                self.set(cp, LETTER, REPLACE, chr(target))
        for cp in range(0xFB00, 0xFB07):
            self.letter(cp)
        self.set(0xFEFF, CONTROL, DROP)
        self.build_forms()

    def simplify(self, cp):
        seen = {cp}
        while True:
            targets = self.ucd.simplified.get(cp)
            if not targets or cp in targets or targets[0] > 0xFFFF or targets[0] in seen:
                return cp
            cp = targets[0]
            seen.add(cp)

    def build_kana(self):
        ucd = self.ucd
        for cp in range(0x3000, 0x3100):
            gc, name = ucd.category(cp), ucd.name.get(cp, "")
            if cp in (0x3000, 0x303F):
                self.set(cp, SPACE, BREAK)
            elif cp == 0x3006:
                self.set(cp, LETTER, REPLACE, "\u30B7\u30E1")  # shime
            elif cp == 0x303C:
                self.set(cp, LETTER, REPLACE, "\u30DE\u30B9")  # masu
            elif cp == 0x3007:
                self.set(cp, DIGIT, REPLACE, "0")
            elif cp in (0x3099, 0x309A):
                self.set(cp, LETTER, COPY)  # kept for the katakana compositions
            elif cp in (0x309B, 0x309C, 0x30FC):
                self.set(cp, LETTER, DROP)
            elif name.startswith("HIRAGANA") and gc.startswith("L"):
                katakana = self.katakana_of(cp)
                if katakana == chr(cp):
                    self.set(cp, LETTER, COPY)
                else:
                    self.set(cp, LETTER, REPLACE, katakana)
            elif name.startswith("KATAKANA") and gc.startswith("L"):
                self.set(cp, LETTER, COPY)
            elif gc in ("Lm", "Lo"):
                self.set(cp, LETTER, COPY)  # ideographic iteration and repeat marks
            elif gc[0] == "P":
                self.set(cp, PUNCT, BREAK)
            elif gc[0] in "SM":
                self.set(cp, PUNCT if gc[0] == "S" else LETTER, DROP)

    def katakana_of(self, cp):
        ucd = self.ucd
        name = ucd.name[cp]
        if "SMALL" in name.split():
            return chr(cp)
        if ucd.decomp_tag.get(cp) == "<vertical>":  # the digraph yori
            return "".join(self.katakana_of(part) for part in ucd.decomp[cp])
        return chr(ucd.by_name[name.replace("HIRAGANA", "KATAKANA", 1)])

    def build_forms(self):
        ucd = self.ucd
        for cp in range(0xFF00, 0xFFF0):
            gc = ucd.category(cp)
            if cp in (0xFF9E, 0xFF9F):
                self.set(cp, LETTER, COPY)  # kept for the two-character table and compositions
                continue
            tag = ucd.decomp_tag.get(cp)
            if tag not in ("<wide>", "<narrow>") or not (cp <= 0xFF9D or cp >= 0xFFE0):
                continue
            base = ucd.decomp[cp][0]
            cls, action, text = self.entries.get(base, (OTHER, COPY, ""))
            if (cls, action) == (OTHER, COPY):
                if gc[0] in "PS":
                    self.set(cp, PUNCT, BREAK)
                continue
            if action == COPY:
                action, text = REPLACE, chr(base)
            self.set(cp, cls, action, text)

    def pairs(self):
        """Half-width katakana ka-to and ha-ho with a half-width voiced or semi-voiced mark."""
        result = []
        composed = self.compositions()
        for cp in range(0xFF76, 0xFF8F):
            for mark in (0xFF9E, 0xFF9F):
                key = (self.ucd.decomp[cp][0], self.ucd.decomp[mark][0])
                if key in composed:
                    result.append((cp, mark, composed[key]))
        return result

    def compositions(self):
        return {tuple(parts): cp for cp, parts in self.ucd.decomp.items()
                if 0x30A0 <= cp <= 0x30FF and self.ucd.decomp_tag[cp] == ""
                and len(parts) == 2 and parts[1] in (0x3099, 0x309A)}

    def word_compositions(self):
        """Two-character katakana words written with a separate mark, combining or half-width."""
        result = []
        for (base, mark), cp in sorted(self.compositions().items(), key=lambda kv: kv[1]):
            half = 0xFF9E if mark == 0x3099 else 0xFF9F
            result.append((chr(base) + chr(mark), chr(cp)))
            result.append((chr(base) + chr(half), chr(cp)))
        return result


def u16_literal(text):
    return "u\"" + "".join(c if 0x20 <= ord(c) < 0x7F and c not in "\"\\" else
                            "\\u%04X" % ord(c) for c in text) + "\""


def write_char_table(table, path):
    pool, offsets = [], {}

    def intern(text):
        if text not in offsets:
            offsets[text] = sum(len(p) for p in pool)
            pool.append(text)
        return offsets[text]

    out = [HEADER.format(what="the normalizer's character table")]
    out.append('#include "text/char_table_data.h"\n\nnamespace pelk::text::internal {\n')
    blocks = []
    for hi in TABLE_BLOCKS:
        kinds, lengths, offs = [], [], []
        for lo in range(256):
            cls, action, text = table.entries.get(hi << 8 | lo, (OTHER, COPY, ""))
            kinds.append(cls << 4 | action)
            lengths.append(len(text))
            offs.append(intern(text) if text else 0)
        blocks.append((hi, kinds, lengths, offs))
    total = sum(len(p) for p in pool)
    assert total < 0x10000
    out.append("const char16_t kReplacementPool[] =")
    for i in range(0, len(pool), 8):
        out.append("    " + " ".join(u16_literal(p) for p in pool[i:i + 8]))
    out.append(";\n")
    for hi, kinds, lengths, offs in blocks:
        out.append("static constexpr CharBlock kBlock%02X = {" % hi)
        for label, values, fmt in (("kind", kinds, "0x%02X"), ("length", lengths, "%d"),
                                   ("offset", offs, "%d")):
            out.append("    // %s" % label)
            out.append("    {")
            for i in range(0, 256, 16):
                out.append("        " + ", ".join(fmt % v for v in values[i:i + 16]) + ",")
            out.append("    },")
        out.append("};\n")
    out.append("const CharBlock* const kCharBlocks[256] = {")
    present = {hi for hi, _, _, _ in blocks}
    for i in range(0, 256, 8):
        out.append("    " + " ".join(("&kBlock%02X," % hi) if hi in present else "nullptr,"
                                     for hi in range(i, i + 8)))
    out.append("};\n")
    pairs = table.pairs()
    out.append("const CharPair kHalfwidthPairs[] = {")
    for first, second, composed in pairs:
        out.append("    {0x%04X, 0x%04X, 0x%04X}," % (first, second, composed))
    out.append("};")
    out.append("const size_t kHalfwidthPairCount = %d;\n" % len(pairs))
    words = table.word_compositions()
    out.append("const WordEntry kKatakanaCompositions[] = {")
    for source, target in words:
        out.append("    {%s, %s}," % (u16_literal(source), u16_literal(target)))
    out.append("};")
    out.append("const size_t kKatakanaCompositionCount = %d;\n" % len(words))
    out.append("}  // namespace pelk::text::internal")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    return len(blocks), len(pairs), len(words), total


def write_case_fold(ucd, path):
    pairs = sorted((k, v) for k, v in ucd.fold.items() if k <= 0xFFFF and v <= 0xFFFF)
    out = [HEADER.format(what="simple case folding of the Basic Multilingual Plane")]
    out.append('#include "text/case_fold_data.h"\n\nnamespace pelk::text::internal {\n')
    out.append("// Sorted by the first code unit.")
    out.append("const CaseFoldPair kCaseFoldPairs[] = {")
    for i in range(0, len(pairs), 6):
        out.append("    " + " ".join("{0x%04X, 0x%04X}," % p for p in pairs[i:i + 6]))
    out.append("};")
    out.append("const size_t kCaseFoldPairCount = %d;\n" % len(pairs))
    out.append("}  // namespace pelk::text::internal")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")
    return len(pairs)


HEADER = """// Generated by tools/gen_char_table.py from the Unicode character database: {what}.
// Do not edit; change the generator and run it again.
// clang-format off
"""


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode"
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ucd = Ucd(root)
    table = Table(ucd)
    table.build()
    blocks, pairs, words, pool = write_char_table(
        table, os.path.join(repo, "text", "char_table_generated.cpp"))
    folds = write_case_fold(ucd, os.path.join(repo, "text", "case_fold_generated.cpp"))
    simplified = sum(1 for cp, e in table.entries.items()
                     if (0x4E00 <= cp <= 0x9FFF or cp >= 0xFA00 and cp <= 0xFAFF)
                     and e[0] == LETTER and e[1] == REPLACE)
    print("blocks %d, two-character pairs %d, katakana compositions %d, pool %d code units, "
          "ideographs folded %d, case folds %d" % (blocks, pairs, words, pool, simplified, folds))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Synthetic folder tree for the scaling benchmark.

    bench/make_tree.py ROOT NAMES [SEED]

Makes NAMES names (folders and empty files) under ROOT, which must not exist
yet: about 20 names a folder (one name in 20 a folder), depths 1 to 12,
file names built from common stems, numbers and extensions, so that many
names repeat across folders. The same NAMES and SEED give the same tree.

On top of NAMES it adds a few known rare names, for finds that match almost
nothing: zephyrine_notes.md in three folders (near the start, in the middle
and at the very end of the folders made) and Zephyrine_Draft.TXT in one
(upper case, for case-insensitive finds of "zephyrine" and "*.txt").
The last line printed is "NAMES names in FOLDERS folders under ROOT".
"""
import os
import random
import sys

RARE = ("zephyrine_notes.md", "Zephyrine_Draft.TXT")


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__.strip().splitlines()[2].strip())
    root, total = sys.argv[1], int(sys.argv[2])
    rnd = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
    stems = ("main util index config readme notes report image photo data test build "
             "module parser driver window table record folder invoice letter draft "
             "summary schedule budget backup archive player track album").split()
    exts = ".txt .c .h .cpp .py .md .json .jpg .png .pdf .doc .xml .html .log .o .so".split()
    os.makedirs(root)
    base_depth = root.rstrip(os.sep).count(os.sep)
    folders = [root]
    made = 0
    fno = 0
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL
    while made < total:
        parent = folders[rnd.randrange(len(folders))] if len(folders) > 1 else root
        if parent.count(os.sep) - base_depth >= 12:
            parent = root
        fno += 1
        d = os.path.join(parent, f"{rnd.choice(stems)}_{fno}")
        os.mkdir(d)
        folders.append(d)
        made += 1
        for _ in range(rnd.randint(10, 28)):
            if made >= total:
                break
            n = f"{rnd.choice(stems)}{rnd.randrange(1000)}{rnd.choice(exts)}"
            try:  # a name drawn twice in one folder is made once
                os.close(os.open(os.path.join(d, n), flags, 0o644))
                made += 1
            except FileExistsError:
                pass
    # The rare names: folders by position in the order they were made, so
    # that a large tree has some of them far past its first folders.
    last = len(folders) - 1
    spots = sorted({min(last, 1), last // 2, last})
    for i in spots:
        os.close(os.open(os.path.join(folders[i], RARE[0]), flags, 0o644))
        made += 1
    os.close(os.open(os.path.join(folders[spots[len(spots) // 2]], RARE[1]), flags, 0o644))
    made += 1
    print(f"{made} names in {last} folders under {root}")


if __name__ == "__main__":
    main()

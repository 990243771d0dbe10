"""Checks that a batch run elsewhere (on a cluster, in containers) wrote what
one plain run wrote: the same image files, byte for byte, and the same
render_report.csv, times and the output folder aside.

    compare_runs.py <plain output folder> <other output folder> [<other folder as its run saw it>]

The last argument is the output folder's path inside the other run (a
container's mount point), where it differs from the folder given.
"""
import csv
import io
import pathlib
import sys


def images(root):
    return {p.relative_to(root): p.read_bytes() for p in root.rglob("*.png")}


def report(root, seen_as):
    text = (root / "render_report.csv").read_text(encoding="utf-8-sig").replace(seen_as, "<out>")
    rows = list(csv.reader(io.StringIO(text)))
    keep = [i for i, title in enumerate(rows[0]) if "耗时" not in title and title != "输出文件夹"]
    return [[row[i] for i in keep] for row in rows]


def main(one_dir, other_dir, other_seen_as=None):
    one_root, other_root = pathlib.Path(one_dir), pathlib.Path(other_dir)
    one, other = images(one_root), images(other_root)
    failures = []
    if one.keys() != other.keys():
        failures.append(f"images differ in names: {sorted(map(str, one.keys() ^ other.keys()))}")
    failures += [f"{path} differs" for path in sorted(one.keys() & other.keys()) if one[path] != other[path]]
    if not (other_root / "render_report.csv").is_file():
        failures.append("no render_report.csv")
    elif report(one_root, str(one_root)) != report(other_root, other_seen_as or str(other_root)):
        failures.append("render_report.csv differs from the plain run's")
    if not one:
        failures.append("the plain run wrote no image")
    print("\n".join(failures) or f"{len(one)} images and the report equal the plain run's")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))

#!/usr/bin/python3
"""Writes the canonical dump of a hive that dump_hivex.py writes, read with libregf instead: a
second reader that shares no code with hivex, which the platform reads hives through. One line a
key ("K path") and one a value ("V path\\name type hexdata"), keys and values sorted
case-insensitively, paths from the root key.
Usage: dump_libregf.py HIVE [--counts]   (with --counts, prints "keys values" alone)."""
import sys
import pyregf


def walk(key, path, out):
    out.append("K " + path)
    values = [key.get_value(i) for i in range(key.number_of_values)]
    for value in sorted(values, key=lambda v: (v.name or "").lower()):
        out.append("V %s\\%s %d %s" % (path, value.name or "", value.type, (value.data or b"").hex()))
    children = [key.get_sub_key(i) for i in range(key.number_of_sub_keys)]
    for child in sorted(children, key=lambda c: c.name.lower()):
        walk(child, path + "\\" + child.name, out)


def main():
    sys.setrecursionlimit(10000)
    hive = pyregf.file()
    hive.open(sys.argv[1])
    out = []
    walk(hive.get_root_key(), "", out)
    if "--counts" in sys.argv[2:]:
        print(sum(1 for line in out if line[0] == "K"), sum(1 for line in out if line[0] == "V"))
    else:
        sys.stdout.write("\n".join(out) + "\n")


main()

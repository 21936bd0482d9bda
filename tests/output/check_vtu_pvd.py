#!/usr/bin/env python3
"""Checks the structure of VTU and PVD files with a real XML parser.

usage: python3 check_vtu_pvd.py FILE...          (.vtu and .pvd files)
       python3 check_vtu_pvd.py --same A.vtu B.vtu  (both checked, same arrays)
Exit status 0 when every file is well formed and consistent, 1 otherwise.
A VTU file is either ASCII or holds its arrays in one raw appended block.
Where VTK's Python modules are installed (Debian's python3-vtk9), every VTU file
is also read with VTK's own reader, the one ParaView uses, which must give the
same values as the XML parse; --same then compares what VTK reads from the two
files, otherwise what this script decodes from them.
"""
import math
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

RAW_START = b'<AppendedData encoding="raw">'
RAW_END = b"</AppendedData>"
RAW_TYPES = {"Int32": "i", "UInt8": "B", "Float64": "d"}

POINT_ARRAYS = [
    ("particle_id", "Int32", 1),
    ("phase", "Int32", 1),
    ("status", "Int32", 1),
    ("material", "Int32", 1),
    ("section", "Int32", 1),
    ("velocity", "Float64", 3),
    ("acceleration", "Float64", 3),
    ("density", "Float64", 1),
    ("pressure", "Float64", 1),
    ("temperature", "Float64", 1),
    ("smoothing_length", "Float64", 1),
]


def real(text):
    # The three-digit exponent form has no letter E: "1.0000000000000000+100".
    return float(re.sub(r"(\d)([+-]\d{3})$", r"\1E\2", text))


def check(condition, message):
    if not condition:
        raise AssertionError(message)


class VtuFile:
    """The XML of a VTU file and, for the binary form, its appended block."""

    def __init__(self, path):
        with open(path, "rb") as f:
            raw = f.read()
        self.block = None
        start = raw.find(RAW_START)
        if start < 0:
            self.root = ET.fromstring(raw)
            text_parts = [raw]
        else:
            underscore = raw.index(b"_", start + len(RAW_START))
            check(raw[start + len(RAW_START) : underscore].strip() == b"", "text before _")
            end = raw.rindex(RAW_END)
            self.block = raw[underscore + 1 : end]
            self.root = ET.fromstring(raw[:underscore] + raw[end:])
            text_parts = [raw[:underscore], raw[end:]]
            check(self.root.get("version") == "1.0", "binary form: version 1.0")
            check(self.root.get("header_type") == "UInt64", "binary form: UInt64 headers")
        for part in text_parts:
            check(part.count(b"\n") == part.count(b"\r\n"), "CR LF line ends")

    def values(self, array, kind):
        if self.block is None:
            check(array.get("format") == "ascii", f"{array.get('Name')}: format")
            words = (array.text or "").split()
            return [int(w) for w in words] if kind != "Float64" else [real(w) for w in words]
        check(array.get("format") == "appended", f"{array.get('Name')}: format")
        check(not (array.text or "").strip(), f"{array.get('Name')}: text in appended array")
        offset = int(array.get("offset"))
        (size,) = struct.unpack_from("<Q", self.block, offset)
        code = RAW_TYPES[kind]
        count = size // struct.calcsize(code)
        check(count * struct.calcsize(code) == size, f"{array.get('Name')}: block size")
        check(offset + 8 + size <= len(self.block), f"{array.get('Name')}: block past the end")
        return list(struct.unpack_from(f"<{count}{code}", self.block, offset + 8))


def check_array(vtu, array, name, kind, components, n):
    check(array.tag == "DataArray", f"{name}: not a DataArray")
    check(array.get("Name") == name, f"expected array {name}, got {array.get('Name')}")
    check(array.get("type") == kind, f"{name}: type {array.get('type')}")
    check(int(array.get("NumberOfComponents", "1")) == components, f"{name}: components")
    got = vtu.values(array, kind)
    check(len(got) == n * components, f"{name}: {len(got)} values for {n} points")
    return got


def vtu_arrays(vtu):
    """Every array of the file by name, checked against the layout."""
    root = vtu.root
    check(root.tag == "VTKFile" and root.get("type") == "UnstructuredGrid", "root")
    pieces = root.findall("./UnstructuredGrid/Piece")
    check(len(pieces) == 1, "one Piece")
    piece = pieces[0]
    n = int(piece.get("NumberOfPoints"))
    check(int(piece.get("NumberOfCells")) == n, "cells == points")
    point_data = piece.find("PointData")
    check(point_data.get("Scalars") == "pressure", "Scalars")
    check(point_data.get("Vectors") == "velocity", "Vectors")
    arrays = list(point_data)
    check(len(arrays) == len(POINT_ARRAYS), "eleven point arrays")
    found = {}
    for array, (name, kind, components) in zip(arrays, POINT_ARRAYS):
        found[name] = check_array(vtu, array, name, kind, components, n)
    points = list(piece.find("Points"))
    check(len(points) == 1, "one Points array")
    found["Points"] = check_array(vtu, points[0], "Points", "Float64", 3, n)
    cells = list(piece.find("Cells"))
    check(len(cells) == 3, "three cell arrays")
    connectivity = check_array(vtu, cells[0], "connectivity", "Int32", 1, n)
    check(connectivity == list(range(n)), "connectivity")
    check(check_array(vtu, cells[1], "offsets", "Int32", 1, n) == list(range(1, n + 1)), "offsets")
    check(check_array(vtu, cells[2], "types", "UInt8", 1, n) == [1] * n, "types")
    return found


def same_value(ours, theirs):
    if math.isnan(ours):
        return math.isnan(theirs)
    if math.isinf(ours):  # VTK's reader drops the sign of "-inf"
        return math.isinf(theirs)
    return ours == theirs


def identical(ours, theirs):
    return ours == theirs or (math.isnan(ours) and math.isnan(theirs))


def read_with_vtk(path):
    """The arrays as VTK's reader gives them, or None without VTK."""
    try:
        from vtkmodules.vtkIOXML import vtkXMLUnstructuredGridReader
    except ImportError:
        return None
    reader = vtkXMLUnstructuredGridReader()
    reader.SetFileName(path)
    reader.Update()
    grid = reader.GetOutput()
    point_data = grid.GetPointData()
    found = {}
    for name in [a[0] for a in POINT_ARRAYS] + ["Points"]:
        if name == "Points":
            array = grid.GetPoints().GetData() if grid.GetPoints() is not None else None
        else:
            array = point_data.GetArray(name)
        if array is None and grid.GetNumberOfPoints() == 0:
            found[name] = []
            continue
        check(array is not None, f"VTK could not read array {name}")
        found[name] = [array.GetValue(k) for k in range(array.GetNumberOfValues())]
    return found, grid.GetNumberOfPoints()


def check_with_vtk(path, ours):
    read = read_with_vtk(path)
    if read is None:
        return None
    theirs_all, n = read
    check(n == len(ours["density"]), "VTK: number of points")
    for name, values in ours.items():
        theirs = theirs_all[name]
        check(len(theirs) == len(values), f"VTK: {name} has {len(theirs)} values")
        for k, (a, b) in enumerate(zip(values, theirs)):
            check(same_value(float(a), float(b)), f"VTK reads {name}[{k}] as {b}, not {a}")
    return theirs_all


def check_same(path_a, path_b):
    """Both files valid, and their arrays (as VTK reads them where it can) equal."""
    ours_a = vtu_arrays(VtuFile(path_a))
    ours_b = vtu_arrays(VtuFile(path_b))
    vtk_a = check_with_vtk(path_a, ours_a)
    vtk_b = check_with_vtk(path_b, ours_b)
    a, b = (vtk_a, vtk_b) if vtk_a is not None else (ours_a, ours_b)
    for name in a:
        check(len(a[name]) == len(b[name]), f"{name}: lengths differ")
        for k, (x, y) in enumerate(zip(a[name], b[name])):
            check(identical(float(x), float(y)), f"{name}[{k}]: {x} in one file, {y} in the other")


def check_pvd(path):
    root = ET.parse(path).getroot()
    check(root.tag == "VTKFile" and root.get("type") == "Collection", "root")
    collection = root.find("Collection")
    check(collection is not None, "Collection")
    for data_set in collection:
        check(data_set.tag == "DataSet", "DataSet")
        real(data_set.get("timestep"))
        check(data_set.get("group") == "" and data_set.get("part") == "0", "group/part")
        name = data_set.get("file")
        check("/" not in name and "\\" not in name, f"bare file name: {name}")
        check(os.path.isfile(os.path.join(os.path.dirname(path), name)), f"{name} exists")


def main(paths):
    if paths[:1] == ["--same"]:
        if len(paths) != 3:
            print("--same takes two VTU files")
            return 1
        try:
            check_same(paths[1], paths[2])
        except Exception as error:
            print(f"{paths[1]} / {paths[2]}: {error}")
            return 1
        return 0
    failed = False
    for path in paths:
        try:
            if path.endswith(".pvd"):
                with open(path, "rb") as f:
                    raw = f.read()
                check(raw.count(b"\n") == raw.count(b"\r\n"), "CR LF line ends")
                check_pvd(path)
            else:
                check_with_vtk(path, vtu_arrays(VtuFile(path)))
        except Exception as error:  # report every file, then fail
            print(f"{path}: {error}")
            failed = True
    return 1 if failed or not paths else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/env python3
"""Checks the structure of VTU and PVD files with a real XML parser.

usage: python3 check_vtu_pvd.py FILE...   (.vtu and .pvd files)
Exit status 0 when every file is well formed and consistent, 1 otherwise.
Where VTK's Python modules are installed (Debian's python3-vtk9), every VTU file
is also read with VTK's own reader, the one ParaView uses, which must give the
same values as the XML parse.
"""
import math
import os
import re
import sys
import xml.etree.ElementTree as ET

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


def values(array, kind):
    words = (array.text or "").split()
    return [int(w) for w in words] if kind != "Float64" else [real(w) for w in words]


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def check_array(array, name, kind, components, n):
    check(array.tag == "DataArray", f"{name}: not a DataArray")
    check(array.get("Name") == name, f"expected array {name}, got {array.get('Name')}")
    check(array.get("type") == kind, f"{name}: type {array.get('type')}")
    check(array.get("format") == "ascii", f"{name}: format")
    check(int(array.get("NumberOfComponents", "1")) == components, f"{name}: components")
    got = values(array, kind)
    check(len(got) == n * components, f"{name}: {len(got)} values for {n} points")
    return got


def check_vtu(path):
    root = ET.parse(path).getroot()
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
    for array, (name, kind, components) in zip(arrays, POINT_ARRAYS):
        check_array(array, name, kind, components, n)
    points = list(piece.find("Points"))
    check(len(points) == 1, "one Points array")
    check_array(points[0], "Points", "Float64", 3, n)
    cells = list(piece.find("Cells"))
    check(len(cells) == 3, "three cell arrays")
    check(check_array(cells[0], "connectivity", "Int32", 1, n) == list(range(n)), "connectivity")
    check(check_array(cells[1], "offsets", "Int32", 1, n) == list(range(1, n + 1)), "offsets")
    check(check_array(cells[2], "types", "UInt8", 1, n) == [1] * n, "types")


def same_value(ours, theirs):
    if math.isnan(ours):
        return math.isnan(theirs)
    if math.isinf(ours):  # VTK's reader drops the sign of "-inf"
        return math.isinf(theirs)
    return ours == theirs


def check_with_vtk(path):
    try:
        from vtkmodules.vtkIOXML import vtkXMLUnstructuredGridReader
    except ImportError:
        return
    reader = vtkXMLUnstructuredGridReader()
    reader.SetFileName(path)
    reader.Update()
    grid = reader.GetOutput()
    piece = ET.parse(path).getroot().find("./UnstructuredGrid/Piece")
    n = int(piece.get("NumberOfPoints"))
    check(grid.GetNumberOfPoints() == n, "VTK: number of points")
    expected = {a.get("Name"): values(a, a.get("type")) for a in piece.find("PointData")}
    expected["Points"] = values(piece.find("Points")[0], "Float64")
    point_data = grid.GetPointData()
    for name, ours in expected.items():
        array = grid.GetPoints().GetData() if name == "Points" else point_data.GetArray(name)
        check(array is not None, f"VTK could not read array {name}")
        theirs = [array.GetValue(k) for k in range(array.GetNumberOfValues())] if n else []
        check(len(theirs) == len(ours), f"VTK: {name} has {len(theirs)} values")
        for k, (a, b) in enumerate(zip(ours, theirs)):
            check(same_value(float(a), float(b)), f"VTK reads {name}[{k}] as {b}, not {a}")


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
    failed = False
    for path in paths:
        try:
            with open(path, "rb") as f:
                raw = f.read()
            check(raw.count(b"\n") == raw.count(b"\r\n"), "CR LF line ends")
            if path.endswith(".pvd"):
                check_pvd(path)
            else:
                check_vtu(path)
                check_with_vtk(path)
        except Exception as error:  # report every file, then fail
            print(f"{path}: {error}")
            failed = True
    return 1 if failed or not paths else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

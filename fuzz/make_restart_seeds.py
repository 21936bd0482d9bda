#!/usr/bin/env python3
"""Writes the restart seed corpus: one small file per layout (one water particle,
written the way each layout lays its records out). Run from the repository root."""
import pathlib

TAGS = ["STATE_0_2", "STATE_0_3", "STATE_0_3_1", "STATE_0_4", "STATE_0_4_1",
        "STATE_0_5", "STATE_0_5_1", "STATE_0_8", "STATE_0_8_1"]


def layout(tag):
    at = lambda oldest: TAGS.index(tag) >= TAGS.index(oldest)
    r = [f"VELUNOR_RESTART 0 8 3 {tag}", "1.5e-6 3 1", "10 T 0.5", "out",
         "1000 1480 7 0 312914285.71428573", "0.1 0 0.01", "0 0 -9.81", "0.6 1 1 1 1",
         "1 0.125", "0 0 0 0 1000 1000 0", "1e-7 1e-7 1e-7"]
    if at("STATE_0_3"):
        r += ["1 1 1.4 0 0 0 0 0 0 0 0", "1 1 1", "0 0 0", "0 0 0",
              "0 0 0 0 0 0 0 0 0 0", "0 0 0 0 0 0 0", "0 0 0"]
    if at("STATE_0_3_1"):
        r += ["0"]
    r += ["7 1 0 1 0", "0 0 0 0.1 0.2 0.3 1 2 3 0 0 -9.81 1 2 3", "0.125 1001 1.2e-4 5 0 293 0.6"]
    if at("STATE_0_3_1"):
        r += ["0 0 0 0 0"]
    if at("STATE_0_4"):
        r += ["0", "0", "0"]
        if at("STATE_0_4_1"):
            r += ["0 0", "0 0 0 0 0", "0 0 0 0", "0 0", "0 0 0", "0 0 0 0 0 0 0 0 1 0.125 0.125"]
        else:
            r += ["1 0 0.5 2 0 0 0 0"]
    if at("STATE_0_5"):
        r += ["F 0", "0 0 0", "0 0 0", "0 0 0 0 0 0", "0 0 0 0 0 0", "0 0 0"]
        if at("STATE_0_5_1"):
            r += ["0 0 0", "0 0 0"]
        r += ["F"]
    if at("STATE_0_8"):
        r += ["VELUNOR_COUPLING_STATE", "0 0", "0 0 0 0 0 0", "0 0"]
        if at("STATE_0_8_1"):
            r += ["0 0 0 0", "1 0 0 0 0 0 0 0 0", "0 0 0 0 0 0 0", "0 0 0 0 0 0 0", "0 0 0", "1",
                  " ".join(["0"] * 18)]
        else:
            r += ["0 0 0", "1", " ".join(["0"] * 11)]
    return "\n".join(r) + "\n"


out = pathlib.Path("fuzz/corpus/restart")
out.mkdir(parents=True, exist_ok=True)
for tag in TAGS:
    (out / f"{tag.lower()}.rst").write_text(layout(tag))

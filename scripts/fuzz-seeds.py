#!/usr/bin/env python3
"""Writes the seed corpora of fuzz/ from the sample files and a few hand-built records:
the first byte of each seed picks the reader (or the class), the rest is the file."""
import json
import pathlib
import struct

root = pathlib.Path(__file__).resolve().parent.parent
corpus = root / "fuzz" / "corpus"
sample = root / "examples" / "market"


def put(harness, name, data):
    folder = corpus / harness
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def text(s):
    b = s.encode()
    return struct.pack("<Q", len(b)) + b


def matrix(rows):
    n, m = len(rows), len(rows[0]) if rows else 0
    return struct.pack("<QQ", n, m) + b"".join(struct.pack("<d", x) for r in rows for x in r)


def doubles(values):
    return struct.pack("<I", len(values)) + b"".join(struct.pack("<d", x) for x in values)



# access: a JSON file and a binary envelope around a short payload.
put("access_fuzz", "json", (sample / "settings.json").read_bytes())
payload = b"\x01\x02\x03"
header = b"TVXB" + struct.pack("<IQ", 1, len(payload))
h = 1469598103934665603
for byte in payload:
    h = ((h ^ byte) * 1099511628211) % (1 << 64)
put("access_fuzz", "binary", header + struct.pack("<Q", h) + payload)

# Library classes, numbered as in fuzz/registered_classes.h.
settings, targets, parameters = 1, 2, 11
for number, file in [(settings, "settings.json"), (targets, "targets.json"), (parameters, "hjm_parameters.json")]:
    put("library_json_fuzz", file, bytes([number]) + (sample / file).read_bytes())
correlation = {
    "root": {"Class": "tarvex::correlation_manager", "valuation_date": 46027.0, "factors": [2, 1],
             "correlation": {"class": "tarvex.matrix", "rows": 3, "columns": 3,
                             "data": [[1.0, 0.2, 0.1], [0.2, 1.0, 0.3], [0.1, 0.3, 1.0]]},
             "ids": [{"Class": "tarvex::diffusion_ir_id",
                      "id": {"Class": "tarvex::discount_id", "definition": "OIS", "currency": "USD"}},
                     {"Class": "empty"}]}}
put("library_json_fuzz", "correlation.json", bytes([5]) + json.dumps(correlation).encode())
for number in range(12):
    put("library_json_fuzz", f"empty{number}.json", bytes([number]) + b'{"root": {"Class": "empty"}}')
    put("library_binary_fuzz", f"empty{number}", bytes([number]) + text("empty"))

dcc = text("tarvex::day_count_convention") + struct.pack("<i", 0) + text("tarvex::calendar") + b"\x01" + \
    struct.pack("<I", 0)
hjm = text("tarvex::parameter_markovian_hjm") + matrix([[0.05]]) + matrix([[0.01]]) + matrix([[1.0]]) + \
    doubles([46100.0]) + doubles([46100.0]) + dcc + struct.pack("<i", 0)
put("library_binary_fuzz", "hjm", bytes([parameters]) + hjm)
hjm_settings = text("tarvex::calibration_hjm_settings") + struct.pack("<Q", 2) + doubles([1e-4, 0.03]) + \
    doubles([-0.05, 1.5]) + struct.pack("<i", 0) + struct.pack("<dd", 1e-6, 1e4) + b"\x01\x00\x01\x01\x00" + \
    struct.pack("<i", 200)
put("library_binary_fuzz", "settings", bytes([settings]) + hjm_settings)
manager = text("tarvex::correlation_manager") + struct.pack("<d", 46027.0) + struct.pack("<IQ", 1, 1) + \
    matrix([[1.0]]) + struct.pack("<I", 0)
put("library_binary_fuzz", "correlation", bytes([5]) + manager)

# The command line's readers, numbered as in fuzz/command_line_fuzz.cpp.
for number, file in enumerate(["market.json", "job.json", "settings.json", "targets.json", "hjm_parameters.json",
                               "correlation.json"]):
    put("command_line_fuzz", file, bytes([number]) + (sample / file).read_bytes())

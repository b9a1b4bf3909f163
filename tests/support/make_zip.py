#!/usr/bin/env python3
"""Writes a zip archive for the updater tests from a JSON description on standard input:
{"out": PATH, "entries": [{"name": N, and one of: "file": PATH, "text": T, "zeros": COUNT, "link": TARGET;
optional "mode": unix mode}]}. Names are written exactly as given (absolute and ".." names included)."""
import json
import sys
import zipfile

spec = json.load(sys.stdin)
with zipfile.ZipFile(spec["out"], "w", zipfile.ZIP_DEFLATED) as z:
    for e in spec["entries"]:
        info = zipfile.ZipInfo(e["name"])
        info.create_system = 3  # Unix, so the mode bits count
        info.compress_type = zipfile.ZIP_DEFLATED
        if "link" in e:
            info.external_attr = 0o120777 << 16
            data = e["link"].encode()
        else:
            info.external_attr = e.get("mode", 0o100644) << 16
            if "file" in e:
                with open(e["file"], "rb") as f:
                    data = f.read()
            elif "zeros" in e:
                data = bytes(e["zeros"])
            else:
                data = e.get("text", "").encode()
        z.writestr(info, data)

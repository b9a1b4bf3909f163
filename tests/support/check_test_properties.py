#!/usr/bin/env python3
"""The properties CTest holds for each test, as the tests' CMake files meant them: every test of a gtest program with
its time limit, and the desktop sessions one at a time (two desktops at once load the machine as no user's PC is)
after the web players are set up. Properties given to gtest_discover_tests were once lost without a word."""
import json
import subprocess
import sys

ctest, build = sys.argv[1], sys.argv[2]
listing = json.loads(subprocess.run([ctest, "--show-only=json-v1"], cwd=build, check=True, capture_output=True).stdout)
faults = []
for test in listing["tests"]:
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    name = test["name"]
    if "SKIP_REGULAR_EXPRESSION" in props and "TIMEOUT" not in props:  # made by gtest_discover_tests
        faults.append(f"{name}: no TIMEOUT")
    if name.startswith("Desktops."):
        if props.get("RESOURCE_LOCK") != ["desktop"]:
            faults.append(f"{name}: RESOURCE_LOCK {props.get('RESOURCE_LOCK')}")
        if props.get("FIXTURES_REQUIRED") != ["WebPlayers"]:
            faults.append(f"{name}: FIXTURES_REQUIRED {props.get('FIXTURES_REQUIRED')}")
print("\n".join(faults) or f"{len(listing['tests'])} tests as meant")
sys.exit(1 if faults else 0)

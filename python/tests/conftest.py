"""Shared fixtures: the zpapi tool the results are compared with, the real
sets beside the checkout and a small generated set."""

import json
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def _tool() -> str:
    path = os.environ.get("ZPAPI_TOOL") or str(ROOT / "build" / "release" / "cli" / "zpapi")
    if not os.access(path, os.X_OK):
        pytest.exit(f"the zpapi tool is not built ({path}); set ZPAPI_TOOL", returncode=2)
    return path


@pytest.fixture(scope="session")
def tool():
    """Runs the zpapi tool: tool(args..., json=True) -> parsed stdout; check: exit codes allowed."""
    path = _tool()

    def run(*args, json_out=True, check=(0, 1)):
        argv = [path, *map(str, args)] + (["--json"] if json_out else [])
        done = subprocess.run(argv, capture_output=True, text=True)
        if done.returncode not in check:
            raise AssertionError(f"{' '.join(argv)} exited {done.returncode}: {done.stderr}")
        return json.loads(done.stdout) if json_out else done

    return run


def data_dir():
    path = os.environ.get("ZPAPI_DATA_DIR") or str(ROOT.parent / "shared" / "data")
    return Path(path) if os.path.isdir(path) else None


@pytest.fixture(scope="session")
def real_sets():
    """Folders of the real sets; skips (or fails with ZPAPI_REQUIRE_DATA=1) when absent."""
    found = data_dir()
    if found is None:
        message = "real fingerprint sets not found (../shared/data or $ZPAPI_DATA_DIR)"
        if os.environ.get("ZPAPI_REQUIRE_DATA") == "1":
            pytest.fail(message + " and ZPAPI_REQUIRE_DATA=1")
        pytest.skip(message + "; skipping")
    sets = sorted(p for p in found.iterdir() if p.is_dir() and (p / "101_1.tif").exists())
    assert sets, f"{found} holds no sets"
    return sets


@pytest.fixture(scope="session")
def synth_set(tmp_path_factory, tool):
    """4 fingers x 4 impressions written by zpapi synth (seed 7)."""
    out = tmp_path_factory.mktemp("synth")
    tool("synth", "--fingers", 4, "--impressions", 4, "--seed", 7, "-o", out, "--quiet", json_out=False, check=(0,))
    return out

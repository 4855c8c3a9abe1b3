"""python3 -m zpapi.plot draws the report zpapi eval writes."""

import json
import subprocess
import sys

import pytest

from zpapi import plot


@pytest.fixture(scope="module")
def report(synth_set, tool, tmp_path_factory):
    out = tmp_path_factory.mktemp("eval") / "report.json"
    tool("eval", synth_set, "--report", out, "--quiet", json_out=False, check=(0,))
    return out


def _is_png(path):
    return path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_one_set_gives_one_picture(report, tmp_path):
    out = tmp_path / "det.png"
    done = subprocess.run([sys.executable, "-m", "zpapi.plot", str(report), "-o", str(out)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert _is_png(out)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["det.png"]


def test_several_sets_share_one_det_plot(report, tmp_path):
    doc = json.loads(report.read_text())
    second = json.loads(json.dumps(doc["sets"][0]))
    second["set"] = "copy"
    two = tmp_path / "two.json"
    two.write_text(json.dumps({"threads": 1, "sets": [second]}))
    out = tmp_path / "det.png"
    assert plot.main([str(report), str(two), "-o", str(out)]) == 0
    name = doc["sets"][0]["set"]
    for path in (out, tmp_path / f"det_{name}.png", tmp_path / "det_copy.png"):
        assert _is_png(path)
    with pytest.raises(SystemExit):
        plot.main([str(report), "-o", str(out), "--sets", "absent"])


def test_probit_axes():
    assert plot.probit(0.5) == pytest.approx(0.0)
    assert plot.probit(0.8413447) == pytest.approx(1.0, abs=1e-6)
    assert plot.probit([0.0])[0] < -5  # zero rates clipped, never infinite

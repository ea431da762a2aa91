import importlib.util
import os
import re
import shutil
import subprocess
import sys

import pytest

# The page is drawn in a process of its own: matplotlib's extensions would
# join this one's binding state.
pytestmark = pytest.mark.skipif(importlib.util.find_spec("matplotlib") is None,
                                reason="make demo installs matplotlib")

HERD = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "herd.csv")
# Set on the page's body once it has loaded, by a copy of the page that the test adds it to.
MARKER = """<script>
window.addEventListener("load", () => {
  const drawn = [...document.images].filter(image => image.complete && image.naturalWidth > 0).length;
  document.body.setAttribute("data-drawn", drawn + " of " + document.images.length);
});
</script>"""


def chromium():
    found = shutil.which("chromium")
    if found is None and os.environ.get("CI") == "true":
        pytest.fail("CI runs the page in Debian's chromium: apt-get install -y chromium")
    if found is None:
        pytest.skip("needs Debian's chromium")
    return found


def report(tmp_path, *arguments):
    page = tmp_path / "report.html"
    run = subprocess.run([sys.executable, "-m", "tolmkit", "report", HERD, "-o", str(page), *arguments],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return page.read_text(encoding="utf-8")


@pytest.mark.parametrize("arguments, cohort, pictures", [
    (["--by", "birth_year", "--reference-by", "birth_year=2020"], "Inbreeding by birth_year", 2),
    ([], None, 1),
], ids=["by_year", "no_cohorts"])
def test_the_page_renders_in_a_browser_with_its_pictures(tmp_path, arguments, cohort, pictures):
    browser = chromium()
    page = report(tmp_path, *arguments)
    # Self-contained: nothing fetched, nothing run.
    assert not re.search(r"https?:|<script|<link|@import|url\(", page)
    for heading in ["Completeness", "Generation intervals", "founder genome equivalents f_g",
                    "Ne, individual increase in coancestry", "Main ancestors", "share with F ≤ 0.0625",
                    "The most inbred animals"] + ([cohort] if cohort else []):
        assert heading in page
    marked = tmp_path / "marked.html"
    marked.write_text(page.replace("</body>", MARKER + "</body>"), encoding="utf-8")
    run = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--enable-logging=stderr",
                          "--virtual-time-budget=5000", "--dump-dom", marked.as_uri()],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert f'data-drawn="{pictures} of {pictures}"' in run.stdout
    assert not re.search(r"CONSOLE.*(Uncaught|Error)|Failed to load resource|Not allowed to load", run.stderr)


def test_a_wrong_column_is_a_usage_error(tmp_path):
    run = subprocess.run([sys.executable, "-m", "tolmkit", "report", HERD, "-o", str(tmp_path / "r.html"),
                          "--by", "born"], capture_output=True, text=True)
    assert run.returncode == 2 and "no column 'born'" in run.stderr and not (tmp_path / "r.html").exists()


DRAW = """
import sys
import pandas as pd
import tolmkit
from tolmkit.plots import plot_ancestry, plot_trend
frame = pd.read_csv(sys.argv[1], dtype=str, keep_default_na=False)
herd = tolmkit.read_pedigree(frame.assign(herd=[f"H{k % 300:03d}" for k in range(len(frame))]))
plot_trend(tolmkit.summary_by(herd, "herd"), sys.argv[2] + "/herds.png")
plot_ancestry(herd, str(herd.ids[herd.inbreeding.argmax()]), sys.argv[2] + "/chart.svg", generations=6)
"""


def test_many_cohorts_and_a_deep_chart_are_drawn(tmp_path):
    # 300 cohorts of text: thinned ticks, Ne on an axis of its own
    run = subprocess.run([sys.executable, "-c", DRAW, HERD, str(tmp_path)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "herds.png").read_bytes().startswith(b"\x89PNG")
    chart = (tmp_path / "chart.svg").read_text()
    # More animals than the 31 of 4 generations, each with its F
    assert chart.startswith("<?xml") and chart.count("<!-- F = ") > 31


def test_the_demo_writes_its_pictures_and_report(tmp_path):
    workflow = os.path.join(os.path.dirname(HERD), "workflow.py")
    out = {name: str(tmp_path / name) for name in ("trend.png", "report.html", "ancestors.png")}
    run = subprocess.run([sys.executable, workflow, HERD, "--by", "birth_year", "--plot", out["trend.png"],
                          "--report", out["report.html"], "--chart", out["ancestors.png"]],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert all(os.path.getsize(path) > 0 for path in out.values())

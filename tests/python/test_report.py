import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

# Pages are drawn in processes of their own: matplotlib's extensions would
# join this one's binding state.

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
    run = subprocess.run(
        [sys.executable, "-m", "tolmkit", "report", HERD, "-o", str(page), *arguments], capture_output=True, text=True
    )
    assert run.returncode == 0, run.stderr
    return page.read_text(encoding="utf-8")


@pytest.mark.parametrize(
    "arguments, cohort, pictures",
    [
        (["--by", "birth_year", "--reference-by", "birth_year=2020"], "Sires and dams by birth_year", 3),
        ([], None, 2),
    ],
    ids=["by_year", "no_cohorts"],
)
def test_the_page_renders_in_a_browser_with_its_pictures(tmp_path, arguments, cohort, pictures):
    browser = chromium()
    page = report(tmp_path, *arguments)
    # Self-contained: nothing fetched, nothing run.
    assert not re.search(r"https?:|<script|<link|@import|url\(", page)
    for heading in [
        "Completeness",
        "Birth order",
        "Generation intervals",
        "founder genome equivalents f_g",
        "Ne, individual increase in coancestry",
        "Main ancestors",
        "share with 0 &lt; F ≤ 0.0625",
        "The most inbred animals",
        "Completeness by generation",
        "Generation intervals over time",
        "Ne, regression of ln(1 − F) on equivalent generations",
        "Ne, sex ratio",
        "Ne, family size (Hill 1979)",
        "n50",
        "mean kinship of the reference",
        "mean F_ANC (Kalinowski et al. 2000)",
        "Founders of the inbreeding",
        f"herd.csv</code>, SHA-256 <code>{hashlib.sha256(Path(HERD).read_bytes()).hexdigest()}",
    ] + ([cohort, "Inbreeding by birth_year"] if cohort else []):
        assert heading in page
    marked = tmp_path / "marked.html"
    marked.write_text(page.replace("</body>", MARKER + "</body>"), encoding="utf-8")
    run = subprocess.run(
        [
            browser,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--enable-logging=stderr",
            "--virtual-time-budget=5000",
            "--dump-dom",
            marked.as_uri(),
        ],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert run.returncode == 0, run.stderr
    assert f'data-drawn="{pictures} of {pictures}"' in run.stdout
    assert not re.search(r"CONSOLE.*(Uncaught|Error)|Failed to load resource|Not allowed to load", run.stderr)


def test_a_wrong_column_is_a_usage_error(tmp_path):
    run = subprocess.run(
        [sys.executable, "-m", "tolmkit", "report", HERD, "-o", str(tmp_path / "r.html"), "--by", "born"],
        capture_output=True,
        text=True,
    )
    assert run.returncode == 2 and "no column 'born'" in run.stderr and not (tmp_path / "r.html").exists()


DRAW = """
import sys
import pandas as pd
import tolmkit
from tolmkit.plots import plot_ancestry, plot_trend
frame = pd.read_csv(sys.argv[1], dtype=str, keep_default_na=False)
herd = tolmkit.read_pedigree(frame.assign(herd=[f"H{k % 300:03d}" for k in range(len(frame))]))
plot_trend(tolmkit.summary_by(herd, "herd"), sys.argv[2] + "/herds.png")
many = tolmkit.read_pedigree(frame.assign(herd=[f"H{k % 1000:04d}" for k in range(len(frame))]))
plot_trend(tolmkit.summary_by(many, "herd"), sys.argv[2] + "/many.png")
plot_ancestry(herd, str(herd.ids[herd.inbreeding.argmax()]), sys.argv[2] + "/chart.svg", generations=6)
"""


def test_many_cohorts_and_a_deep_chart_are_drawn(tmp_path):
    # 300 cohorts of text: thinned ticks, Ne on an axis of its own; 1000: a line a cohort
    run = subprocess.run([sys.executable, "-c", DRAW, HERD, str(tmp_path)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert all((tmp_path / name).read_bytes().startswith(b"\x89PNG") for name in ("herds.png", "many.png"))
    chart = (tmp_path / "chart.svg").read_text()
    # More animals than the 31 of 4 generations, each with its F
    assert chart.startswith("<?xml") and chart.count("<!-- F = ") > 31


def test_the_demo_writes_its_pictures_and_report(tmp_path):
    workflow = os.path.join(os.path.dirname(HERD), "workflow.py")
    out = {name: str(tmp_path / name) for name in ("trend.png", "report.html", "ancestors.png")}
    run = subprocess.run(
        [
            sys.executable,
            workflow,
            HERD,
            "--by",
            "birth_year",
            "--plot",
            out["trend.png"],
            "--report",
            out["report.html"],
            "--chart",
            out["ancestors.png"],
        ],
        capture_output=True,
        text=True,
    )
    assert run.returncode == 0, run.stderr
    assert all(os.path.getsize(path) > 0 for path in out.values())


# National files: (file, read_pedigree's keywords, reference, report_html's
# keywords) and what the page says, each as it stands in the HTML ("!" before
# what it does not say).
NATIONAL = {
    "parents_not_listed": (
        "animal,sire,dam,birth_year\nc1,S1,D1,2010\nc2,S1,D2,2011\nc3,S2,D1,2011\ng1,c2,c1,2014\ng2,c2,c3,2015\n",
        {},
        ["g1", "g2"],
        {"by": "birth_year"},
        [
            '<td>parents added as founders</td><td class="n">4</td>',
            "<th>2010</th>",
            '<td class="n">2014</td>',
            '<td>both parents known</td><td class="n">55.6 %</td>',
            "0 pairs are left out",
        ],
    ),
    "groups": (
        "id,sire,dam,born\na,UPG1,UPG2,2010\nb,UPG1,UPG2,2010\nc,a,b,2012\nd,a,b,2013\ne,c,d,2016\n",
        {"groups": ["UPG1", "UPG2"]},
        ["e"],
        {},
        [
            '<td>groups of unknown parents</td><td class="n">2</td>',
            '<td>Ne, individual increase in inbreeding</td><td class="n">2.0</td>',
            "No Ne by individual increase in coancestry: Ne by coancestry needs at least two reference animals",
        ],
    ),
    "dates_and_birth_order_errors": (
        "animal,sire,dam,birth_date\nc1,s1,d1,2015-03-01\nc2,s1,d2,2015-04-11\ng1,c2,c1,2018-02-02\n"
        "g3,g4,g1,2016-05-05\ng4,c2,c1,2018-06-01\n",
        {},
        ["g1", "g4"],
        {"by": "birth_date"},
        [
            '<td>parents born after their offspring (errors)</td><td class="n">2</td>',
            '<td>parents less than 1 year older than their offspring (warnings)</td><td class="n">0</td>',
            '<td class="n">2016-05-05</td>',
            "<th>2015</th>",
            "Inbreeding by birth_date",
        ],
    ),
    "fish_within_a_year": (
        "id,sire,dam,born\nm,0,0,2020-01-10\nw,0,0,2020-03-01\nx,m,w,2020-09-01\nz,x,w,2021-06-01\n",
        {},
        ["x", "z"],
        {"min_age": 0.25},
        [
            '<td>parents less than 0.25 years older than their offspring (warnings)</td><td class="n">0</td>',
            '<th>all</th><td class="n">0.57</td>',
        ],
    ),
    "no_birth_column": (
        "id,sire,dam\na,0,0\nb,0,0\nc,a,b\nd,a,b\ne,c,d\n",
        {},
        ["e"],
        {},
        ["No column of births was found by its name"],
    ),
    "births_of_text": (
        "id,sire,dam,born\na,0,0,spring\nb,0,0,spring\nc,a,b,autumn\n",
        {},
        ["c"],
        {},
        [
            "The column born, found by its name, is not read as births: the birth of &#x27;a&#x27;, &#x27;spring"
            "&#x27;, is neither a year nor a date",
            "No Ne by individual increase in inbreeding: none of the 1",
        ],
    ),
    "dollars_and_a_generation_column": (
        "id,sire,dam,generation\nS$,0,0,g1\nD,0,0,g1\nC,S$,D,g2\nX,S$,D,g2\nY$^$,C,X,g3\n",
        {},
        ["Y$^$"],
        {"by": "generation"},
        ["Y$^$", '<th>reference</th><td class="n">100.0 %</td>', "!Every animal by cohort"],
    ),
    "one_date_found_by_name_not_read": (
        "id,sire,dam,birth_date\nA,0,0,2010-01-15\nB,0,0,15.03.2010\nC,A,B,2012-03-01\nD,A,B,\nE,C,D,2015-06-30\n",
        {},
        ["E"],
        {},
        ["The column birth_date, found by its name, is not read as births", "!2012"],
    ),
    "births_of_text_given": (
        "id,sire,dam,born\na,0,0,spring\nb,0,0,spring\nc,a,b,autumn\n",
        {},
        ["c"],
        {"birth": "born"},
        ["PedigreeError: the birth of 'a', 'spring', is neither a year nor a date"],
    ),
}
RENDER = """
import io, json, sys, tolmkit
from tolmkit.report import report_html
for name, (text, reading, reference, options, _) in json.loads(sys.argv[1]).items():
    pedigree = tolmkit.read_pedigree(io.StringIO(text), **reading)
    try:
        page = report_html(pedigree, reference, **options)
    except Exception as error:
        page = f"{type(error).__name__}: {error}"
    with open(f"{sys.argv[2]}/{name}.html", "w", encoding="utf-8") as out:
        out.write(page)
"""


@pytest.fixture(scope="module")
def national(tmp_path_factory):
    folder = tmp_path_factory.mktemp("national")
    run = subprocess.run(
        [sys.executable, "-c", RENDER, json.dumps(NATIONAL), str(folder)], capture_output=True, text=True
    )
    assert run.returncode == 0, run.stderr
    return folder


@pytest.mark.parametrize("name", list(NATIONAL))
def test_the_report_takes_a_national_file(national, name):
    page = (national / f"{name}.html").read_text(encoding="utf-8")
    missing = [text for text in NATIONAL[name][-1] if (text.lstrip("!") in page) == text.startswith("!")]
    assert not missing
    assert not re.search(r"\d,\d{3}\b", page.replace("1,000", ""))  # years and small counts need no separator

"""The licence and the citation say the same everywhere.

CITATION.cff, read with a YAML parser (Debian's python3-yaml), is CFF
1.2.0 with the keys that format requires, and names the project's version
as the project() line of CMakeLists.txt gives it, and the MIT licence. The
licence is the same text in LICENSE and in the Debian packages' copyright
file (where Debian calls it Expat), and the Python package's metadata names
it too.

Usage: citation_test.py SOURCE_DIR
"""

import datetime
import pathlib
import re
import sys
import tomllib

import yaml

SOURCE = pathlib.Path(sys.argv[1])
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def words(text):
    """The text's words, whatever its line breaks and indentation."""
    return " ".join(text.split())


project = re.search(r"^project\(Talveron VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text(), re.M)
version = project.group(1)

# CITATION.cff
cff = yaml.safe_load((SOURCE / "CITATION.cff").read_text())
check(isinstance(cff, dict), "CITATION.cff: not a YAML mapping")
cff = cff if isinstance(cff, dict) else {}
check(cff.get("cff-version") == "1.2.0", f"CITATION.cff: cff-version {cff.get('cff-version')!r}, not '1.2.0'")
for key in ("message", "title", "authors", "version", "date-released", "license"):
    check(key in cff, f"CITATION.cff: no {key}")
# A version written 0.1 without quotes is read as a number: compare text.
check(isinstance(cff.get("version"), str),
      f"CITATION.cff: version {cff.get('version')!r} is not a string (quote it)")
check(str(cff.get("version")) == version,
      f"CITATION.cff: version {cff.get('version')!r}, but CMakeLists.txt's project() says {version}: "
      "update the version in CITATION.cff (and date-released)")
check(cff.get("license") == "MIT", f"CITATION.cff: license {cff.get('license')!r}, not MIT")
authors = cff.get("authors") or []
check(isinstance(authors, list) and {"name": "The Talveron developers"} in authors,
      f"CITATION.cff: authors {authors!r} do not name 'The Talveron developers'")
released = cff.get("date-released")
try:
    datetime.date.fromisoformat(str(released))
except ValueError:
    failures.append(f"CITATION.cff: date-released {released!r} is not a date YYYY-MM-DD")

# LICENSE, the MIT licence's text.
licence = (SOURCE / "LICENSE").read_text()
check(licence.startswith("MIT License\n"), "LICENSE: does not begin with 'MIT License'")
check("Copyright (c) 2026 The Talveron developers" in licence, "LICENSE: no copyright line of the developers")
grant = licence[licence.index("Permission is hereby granted"):] if "Permission is hereby granted" in licence else ""
check(grant != "", "LICENSE: no permission notice")
check(words(grant).endswith("OTHER DEALINGS IN THE SOFTWARE."), "LICENSE: the notice does not end as MIT's does")

# The Debian copyright file: every file of Talveron under Expat, whose
# stand-alone paragraph carries the text of LICENSE.
copyright_text = (SOURCE / "cmake" / "debian" / "copyright").read_text()
paragraphs = [p for p in re.split(r"\n\s*\n", copyright_text) if p.strip()]


def fields(paragraph):
    """The fields of one paragraph: name -> the first line's value, with
    the continuation lines (a line holding only '.' is an empty line)."""
    found = {}
    name = None
    for line in paragraph.splitlines():
        if line[:1] in (" ", "\t") and name:
            found[name] += "\n" + ("" if line.strip() == "." else line.strip())
        elif ":" in line:
            name, value = line.split(":", 1)
            found[name] = value.strip()
    return found


parsed = [fields(p) for p in paragraphs]
talveron = [f for f in parsed if f.get("Files") == "*"]
check(len(talveron) == 1 and talveron[0].get("License", "").split("\n")[0] == "Expat",
      "cmake/debian/copyright: the paragraph 'Files: *' does not name License: Expat")
texts = [f["License"] for f in parsed if "License" in f and "Files" not in f and
         f["License"].split("\n")[0] == "Expat"]
check(len(texts) == 1, "cmake/debian/copyright: no single stand-alone 'License: Expat' paragraph")
if texts and grant:
    check(words(texts[0].split("\n", 1)[1]) == words(grant),
          "cmake/debian/copyright: the Expat text differs from the notice in LICENSE")

# The Python package's metadata.
pyproject = tomllib.loads((SOURCE / "pyproject.toml").read_text())["project"]
check(pyproject.get("license") == {"text": "MIT"}, f"pyproject.toml: license {pyproject.get('license')!r}")
check("License :: OSI Approved :: MIT License" in pyproject.get("classifiers", []),
      "pyproject.toml: no classifier 'License :: OSI Approved :: MIT License'")

for failure in failures:
    print("FAIL:", failure)
print(f"citation and licence: {len(failures)} failures")
sys.exit(1 if failures else 0)

"""The API reference (docs/api/*.rst) lists every public name of the
package exactly once, so a new export cannot go undocumented."""
import collections
import inspect
import re
from pathlib import Path

import vantor

API = Path(__file__).resolve().parent.parent / "docs" / "api"


def test_every_public_name_is_in_the_reference_once():
    listed = collections.Counter()
    for page in API.glob("*.rst"):
        # Entries of the autosummary lists: indented names under the directive.
        for block in re.findall(r"\.\. autosummary::\n(?:   :.*\n)*\n((?:   \S+\n)+)", page.read_text()):
            listed.update(line.strip() for line in block.splitlines())
    public = {name for name in dir(vantor)
              if not name.startswith("_") and not inspect.ismodule(getattr(vantor, name))}
    assert sorted(public - set(listed)) == [], "public names missing from docs/api"
    assert sorted(set(listed) - public) == [], "docs/api lists names the package lacks"
    assert [name for name, count in listed.items() if count > 1] == []

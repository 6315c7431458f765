"""The README's Python snippet runs as written and prints what its comments say."""
import re

from conftest import ROOT


def test_readme_python_snippet(capsys):
    blocks = re.findall(r"^```python\n(.*?)^```$", (ROOT / "README.md").read_text(), flags=re.S | re.M)
    assert blocks, "no python block in the README"
    exec(compile(blocks[0], "README.md", "exec"), {})
    out = capsys.readouterr().out
    assert "[ 1.  4.  9. 16.] float32" in out and "refused with status -4" in out

"""What a packager and a newcomer meet: man pages that say what --help says, the Python package
installed where its interpreter imports it, and the Python build routes failing with a message
that says what to run. Run by ctest with SCAN39_BUILD_DIR, SCAN39_SOURCE_DIR and the programs.
"""

import gzip
import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

BUILD = Path(os.environ["SCAN39_BUILD_DIR"])
SOURCE = Path(os.environ["SCAN39_SOURCE_DIR"])
sys.path.insert(0, str(SOURCE / "packaging"))
import python_site  # noqa: E402

ENV = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8", LC_MESSAGES="C.UTF-8", COLUMNS="80",
           QT_QPA_PLATFORM="offscreen", PYTHONPATH=str(BUILD / "python"))

PROGRAMS = {
    "scan39": BUILD / "cli" / "scan39",
    "scan39-demo": BUILD / "app" / "scan39-demo",
    "scan39-batch": BUILD / "python" / "scan39-batch",
}
SECTIONS = {
    "scan39": ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "OUTPUT", "SPLIT", "EXIT STATUS",
               "ENVIRONMENT", "FILES", "EXAMPLES", "SEE ALSO"],
    "scan39-demo": ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "ENVIRONMENT",
                    "FILES", "EXAMPLES", "SEE ALSO"],
    "scan39-batch": ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "SEE ALSO"],
}


def words(text):
    """The words of a text, with groff's typographic dashes and quotes made plain again."""
    for fancy, plain in (("\u2010", "-"), ("\u2212", "-"), ("\u2019", "'"), ("\u2018", "'"),
                         ("\u201c", '"'), ("\u201d", '"'), ("\u00ad", "")):
        text = text.replace(fancy, plain)
    return text.split()


def render(page):
    """The man page as a terminal shows it, without hyphenation; groff's warnings on stderr."""
    result = subprocess.run(
        ["groff", "-man", "-Tutf8", "-ww", "-rHY=0", "-rLL=200n", "-P-cbou", "-K", "utf8"],
        input=gzip.decompress(page.read_bytes()), capture_output=True, check=True)
    return result.stdout.decode("utf-8"), result.stderr.decode("utf-8")


@pytest.fixture(scope="module", params=sorted(PROGRAMS))
def page(request):
    name = request.param
    if not PROGRAMS[name].exists():
        pytest.skip(f"{name} is not built")
    if shutil.which("groff") is None:
        pytest.skip("no groff")
    help_text = subprocess.run([str(PROGRAMS[name]), "--help"], env=ENV, capture_output=True,
                               text=True, check=True).stdout
    text, warnings = render(BUILD / "man" / f"{name}.1.gz")
    return name, help_text, text, warnings


def test_man_page_is_gzipped_roff_without_warnings(page):
    name, _, text, warnings = page
    assert warnings == ""
    assert text.startswith(name.upper())


def test_man_page_has_its_sections_in_order(page):
    name, _, text, _ = page
    headings = [line for line in text.splitlines() if re.fullmatch(r"[A-Z][A-Z ]+", line)]
    assert headings == SECTIONS[name]


def test_man_page_says_every_word_of_help_in_order(page):
    """The page is --help plus the template's own parts, never a different text."""
    _, help_text, text, _ = page
    # The labels that become section headings.
    help_text = re.sub(r"^(Usage:|usage:|Exit status:|Language:)", "", help_text, flags=re.M)
    want, have = words(help_text), words(text)
    position = 0
    for i, word in enumerate(want):
        try:
            position = have.index(word, position) + 1
        except ValueError:
            context = " ".join(want[max(0, i - 5):i + 5])
            pytest.fail(f"--help's word {word!r} ({context}) is missing or out of order")


def test_man_page_lists_every_option_of_help(page):
    _, help_text, text, _ = page
    options = set(re.findall(r"^ {2}(-[-\w]+)", help_text, re.MULTILINE))
    assert options
    listed = set(re.findall(r"^ {7}(-[-\w]+)", text, re.MULTILINE))
    assert options <= listed


@pytest.mark.parametrize("argument, want", [("--help", "Usage: scan39-demo [PICTURE]\n"),
                                            ("-h", "Usage: scan39-demo [PICTURE]\n"),
                                            ("--version", "scan39-demo ")])
def test_demo_prints_help_and_version_without_a_display(argument, want):
    env = {k: v for k, v in ENV.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    result = subprocess.run([str(PROGRAMS["scan39-demo"]), argument], env=env,
                            capture_output=True, text=True, timeout=30)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.startswith(want)


def imported_from(env):
    """The folders a fresh interpreter imports from, in that environment."""
    out = subprocess.run([sys.executable, "-c", "import sys; print('\\n'.join(sys.path))"],
                         env=env, capture_output=True, text=True, check=True).stdout
    return {os.path.realpath(p) for p in out.splitlines() if p}


@pytest.mark.parametrize("prefix", ["/usr", "/usr/local", "USERBASE"])
def test_site_folder_is_one_the_interpreter_imports(prefix, tmp_path):
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["PYTHONUSERBASE"] = str(tmp_path / "userbase")
    if prefix == "/usr/local" and "posix_local" not in sysconfig.get_scheme_names():
        pytest.skip("not Debian's Python")
    if prefix == "USERBASE":
        prefix = env["PYTHONUSERBASE"]
    # As the install asks it: a fresh interpreter, whose user base follows the environment.
    folder = subprocess.run([sys.executable, str(SOURCE / "packaging" / "python_site.py"), prefix],
                            env=env, capture_output=True, text=True, check=True).stdout.strip()
    target = os.path.realpath(os.path.join(prefix, folder))
    if prefix == env["PYTHONUSERBASE"]:
        os.makedirs(target)  # the user's site folder is on the path once it exists
    assert target in imported_from(env)


def install(prefix, env):
    subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(prefix)], env=env,
                   check=True, capture_output=True)


@pytest.mark.parametrize("where", ["user", "other"])
def test_prefix_install_imports(where, tmp_path):
    """cmake --install --prefix ~/.local: the user's Python imports it with nothing set; any
    other prefix: from the folder python_site names, with PYTHONPATH."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["PYTHONUSERBASE"] = str(tmp_path / "userbase")
    env["QT_QPA_PLATFORM"] = "offscreen"
    prefix = Path(env["PYTHONUSERBASE"]) if where == "user" else tmp_path / "prefix"
    install(prefix, env)
    if where == "other":
        env["PYTHONPATH"] = str(prefix / python_site.site_dir(str(prefix)))
    code = "import scan39, sys; print(scan39.__file__); print(scan39.__version__)"
    out = subprocess.run([sys.executable, "-c", code], env=env, cwd=tmp_path,
                         capture_output=True, text=True, check=True).stdout.splitlines()
    assert out[0].startswith(str(prefix))
    assert "dist-packages" not in out[0] or where != "user"
    batch = subprocess.run([str(prefix / "bin" / "scan39-batch"), "--help"], env=env,
                           capture_output=True, text=True)
    assert batch.returncode == 0 and "PATH" in batch.stdout


def test_setup_py_says_which_python_to_use():
    """An interpreter without setuptools, wheel, pybind11 or NumPy (here: Debian's without its
    site folders) stops at once with what to run, and writes nothing."""
    before = sorted(p.name for p in SOURCE.iterdir())
    result = subprocess.run([sys.executable, "-S", "setup.py", "bdist_wheel"], cwd=SOURCE,
                            capture_output=True, text=True)
    assert result.returncode != 0
    assert "cannot be built with" in result.stderr
    assert "/usr/bin/python3 -m venv --system-site-packages" in result.stderr
    assert "/usr/bin/python3 -m build --no-isolation --wheel" in result.stderr
    assert sorted(p.name for p in SOURCE.iterdir()) == before


def test_build_folder_does_not_hide_what_to_run():
    """python3 -m build in the source root with a Python that has no build module finds the
    CMake build folder; it says what to run instead of "No module named build.__main__"."""
    if BUILD.resolve() != (SOURCE / "build").resolve():
        pytest.skip("the build folder is not the source root's build/")
    result = subprocess.run([sys.executable, "-S", "-m", "build"], cwd=SOURCE,
                            capture_output=True, text=True)
    assert result.returncode == 1
    assert "/usr/bin/python3 -m build --no-isolation --wheel" in result.stderr
    # With its build module, the interpreter finds that one, not the folder.
    result = subprocess.run([sys.executable, "-m", "build", "--version"], cwd=SOURCE,
                            capture_output=True, text=True)
    if result.returncode == 0:
        assert result.stdout.startswith("build ")


def test_pip_route_installs_a_package_that_imports(tmp_path):
    """The documented route: Debian's Python, a venv that sees Debian's packages, pip without
    build isolation; the package imports from the venv and scan39-batch is its command."""
    venv = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    python = venv / "bin" / "python"
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["QT_QPA_PLATFORM"] = "offscreen"
    result = subprocess.run([str(python), "-m", "pip", "install", "--no-build-isolation",
                             "--no-deps", "--no-index", str(SOURCE)],
                            env=env, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-3000:]
    code = "import scan39; print(scan39.__file__); print(scan39.__version__)"
    out = subprocess.run([str(python), "-c", code], env=env, cwd=tmp_path, capture_output=True,
                         text=True, check=True).stdout.splitlines()
    assert out[0].startswith(str(venv))
    batch = subprocess.run([str(venv / "bin" / "scan39-batch"), "--help"], env=env,
                           capture_output=True, text=True)
    assert batch.returncode == 0 and "PATH" in batch.stdout

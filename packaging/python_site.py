"""Prints where the Python package goes under an install prefix, relative to the prefix.

Run by the interpreter the extensions are built for, at install time (cmake --install
--prefix P decides the prefix only then). The folder is one that interpreter imports from
wherever it can be: its user scheme for the user's base (~/.local), Debian's
dist-packages for /usr and /usr/local, the plain prefix scheme (site-packages) elsewhere,
which needs PYTHONPATH.
"""

import os
import site
import sys
import sysconfig


def site_dir(prefix: str) -> str:
    prefix = os.path.normpath(os.path.abspath(prefix))
    schemes = sysconfig.get_scheme_names()
    if os.path.realpath(prefix) == os.path.realpath(site.getuserbase()):
        path = sysconfig.get_path("platlib", f"{os.name}_user", vars={"userbase": prefix})
    elif prefix == "/usr" and "deb_system" in schemes:
        path = sysconfig.get_path("platlib", "deb_system", vars={"base": "/usr", "platbase": "/usr"})
    elif prefix == "/usr/local" and "posix_local" in schemes:
        path = sysconfig.get_path("platlib", "posix_local", vars={"base": "/usr", "platbase": "/usr"})
    else:
        path = sysconfig.get_path("platlib", f"{os.name}_prefix",
                                  vars={"base": prefix, "platbase": prefix})
    return os.path.relpath(path, prefix)


if __name__ == "__main__":
    print(site_dir(sys.argv[1]))

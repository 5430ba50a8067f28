# Sourced by the set-up scripts: installs the Debian packages that are missing, and nothing
# when everything is present, so a second run is quick and works offline.
scan39_install() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# libpoppler-qt6-dev, pkg-config: PDF pages (scan39 and the Python package read every page).
# libxkbcommon-dev: Qt6Gui looks for it while being found and prints "Could NOT find XKB"
# without it; nothing here links it. libpng-dev, libjpeg-dev: the picture loader.
SCAN39_BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins qt6-translations-l10n
                       qt6-image-formats-plugins fonts-wqy-zenhei libxkbcommon-dev libpng-dev
                       libjpeg-dev libpoppler-qt6-dev pkg-config)
# libqpdf-dev, libtiff-dev: scan39 split copies PDF and TIFF pages into its parts as they are.
SCAN39_BUILD_PACKAGES+=(libqpdf-dev libtiff-dev)
# The Python package (Debian's own python3), built with the programs so that `import scan39`
# works after the run command.
SCAN39_BUILD_PACKAGES+=(pybind11-dev python3-dev python3-numpy)
SCAN39_TEST_PACKAGES=(libgtest-dev libbenchmark-dev libzxing-dev ccache)
# The Python package's tests, and the packages people install: the .deb (cpack, dpkg-deb,
# dpkg-shlibdeps, lintian), man pages (groff), pkg-config files, pip and wheels built offline.
SCAN39_TEST_PACKAGES+=(python3-pil python3-pytest python3-dask python3-distributed dpkg-dev
                       lintian groff-base pkg-config python3-setuptools python3-wheel
                       python3-pybind11 python3-build python3-pip python3-venv)
# The fuzz targets (scripts/fuzz.sh): Clang with libFuzzer and the sanitizer runtimes.
SCAN39_TEST_PACKAGES+=(clang libclang-rt-14-dev)
# The browser page (scripts/web.sh) and its tests in headless Chromium (scripts/web-test.sh).
SCAN39_WEB_PACKAGES=(emscripten node-acorn cmake ninja-build g++)
SCAN39_WEB_TEST_PACKAGES=(chromium zint imagemagick)

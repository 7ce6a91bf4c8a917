# shellcheck shell=bash
# The Debian 12 packages each job needs, and ensure_packages, which installs the
# missing ones. Sourced by examples/demo.sh, tests/run.sh and .ci/run; never run
# on its own. Each list holds the one before it.
# shellcheck disable=SC2034  # the lists are read by the sourcing scripts

# The programs alone (the `programs` preset: tests and benchmarks off).
PROGRAM_PACKAGES=(cmake g++ make pkg-config libsndfile1-dev nlohmann-json3-dev)
# Every test of the `default` workflow: the test and benchmark frameworks, the
# peers the interop tests compare against (spandsp, sox, multimon-ng,
# minimodem) and the tools the test scripts call (jq, python3 with numpy, which
# measures cidgen's signals independently; dpkg-deb comes with dpkg).
TEST_PACKAGES=("${PROGRAM_PACKAGES[@]}" libgtest-dev libbenchmark-dev libspandsp-dev sox multimon-ng minimodem
    jq python3 python3-numpy)
# Continuous integration besides: clang for the fuzz targets, valgrind, gnuplot
# for the benchmark plots, GNU parallel for the README's batch examples,
# debootstrap for the bare-machine test and chromium, the headless browser
# that opens cidscan's HTML report.
CI_PACKAGES=("${TEST_PACKAGES[@]}" clang libclang-rt-14-dev valgrind gnuplot-nox parallel debootstrap chromium)

# ensure_packages PKG...: installs the packages that are not installed, with
# apt-get as root or through `sudo -n`; without either it prints the command to
# run and exits with status 1.
ensure_packages() {
    local pkg missing=()
    if ! command -v dpkg-query >/dev/null 2>&1; then
        echo "not a Debian system: make sure these are installed: $*" >&2
        return 0
    fi
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    ((${#missing[@]} > 0)) || return 0

    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then
        if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
            sudo=(sudo -n)
        else
            echo "missing Debian packages; install them as root, then run this again:" >&2
            echo "  apt-get install ${missing[*]}" >&2
            exit 1
        fi
    fi
    echo "installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update </dev/null
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
}

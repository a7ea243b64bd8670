#!/usr/bin/env bash
# Nimbrel's two commands:
#   ./nimbrel.sh run    build, compile the bundled example into a screensaver, open the editor
#                       when a display is present
#   ./nimbrel.sh test   build and run every test (also under AddressSanitizer + UBSan)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

# Debian packages the build and the tests need.
PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev zlib1g-dev libjpeg-dev libgtest-dev
          libbenchmark-dev qt6-base-dev libgl-dev g++-mingw-w64-i686 libz-mingw-w64-dev
          wine wine32:i386 wine64 libwine g++-mingw-w64-x86-64 xvfb xserver-xephyr xauth x11-apps x11-utils xdotool imagemagick shared-mime-info)

missing_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    echo "${missing[@]:-}"
}

ensure_packages() {
    local missing
    missing=$(missing_packages)
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Run as root:" >&2
        echo "  dpkg --add-architecture i386 && apt-get update && apt-get install -y $missing" >&2
        exit 1
    fi
    echo "== Installing: $missing"
    if [[ " $missing " == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -q i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing >/dev/null
}

configure_and_build() {  # dir, extra cmake args...
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$JOBS"
}

main_build() {
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBREL_WERROR=ON
}

run() {
    ensure_packages
    main_build
    # The example is compiled from a copy, so that the checkout stays as it was.
    local cli=build/bin/nimbrel-cli work=build/example
    rm -rf "$work" && mkdir -p "$work" && cp examples/holiday/* "$work"/
    local example=$work/holiday.nssp output=$work/holiday.scr
    echo "== Compiling the example project $example"
    "$cli" compile "$example"
    "$cli" verify "$output"
    echo "Screensaver: $ROOT/$output ($(stat -c %s "$output") bytes)"
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/bin/nimbrel ]; then
        echo "== Opening the editor"
        exec build/bin/nimbrel "$example"
    fi
    echo "No display: the editor is not opened (on a desktop: build/bin/nimbrel $example)."
}

test() {
    ensure_packages
    main_build
    # The same core and command-line tests once more under the sanitizers, with clang, and the
    # fuzz targets briefly on their seed corpora.
    CC=clang CXX=clang++ configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DNIMBREL_SANITIZE=ON \
        -DNIMBREL_FUZZ=ON -DNIMBREL_GUI=OFF -DNIMBREL_PLAYERS=OFF -DNIMBREL_BENCH=OFF -DNIMBREL_WERROR=ON
    # The windows' tests keep their interface state and wallpaper files inside the build.
    export XDG_CONFIG_HOME=$ROOT/build/test-config XDG_DATA_HOME=$ROOT/build/test-data QT_QPA_PLATFORM=offscreen
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1
    echo "== Tests under AddressSanitizer + UndefinedBehaviorSanitizer"
    ctest --test-dir build-asan --output-on-failure -j "$JOBS"
    echo "== Tests"
    ctest --test-dir build --output-on-failure -j "$JOBS"
}

case "${1:-}" in
    run) run ;;
    test) test ;;
    *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

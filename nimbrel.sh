#!/usr/bin/env bash
# Nimbrel's two commands:
#   ./nimbrel.sh run    build, compile the bundled example into a screensaver, open the editor
#                       when a display is present
#   ./nimbrel.sh test   build and run every test (also under AddressSanitizer + UBSan)
#   ./nimbrel.sh deps run|test   only install the Debian packages that command needs
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

# Debian packages. `run` needs what builds the editor, the command line and the players; `test`
# adds what the tests need. Optional packages serve only some tests (those skip without them, with
# the reason): each is tried on its own, and one the archive cannot give is reported, not fatal.
RUN_PACKAGES=(cmake ninja-build g++ pkg-config zlib1g-dev libjpeg-dev libpng-dev libgif-dev libheif-dev libwebp-dev
              libtiff-dev liblcms2-dev qt6-base-dev qt6-svg-dev qt6-image-formats-plugins libgl-dev
              shared-mime-info g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev libssl-dev
              libharfbuzz-dev libfreetype-dev fonts-dejavu-core nlohmann-json3-dev)
# Chromium records Flash movies at compile; a build without it still succeeds and says so.
RUN_OPTIONAL_PACKAGES=(chromium)
TEST_PACKAGES=(clang libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev)
TEST_OPTIONAL_PACKAGES=(wine wine64 libwine wine32:i386 xvfb xserver-xephyr xauth x11-apps x11-utils xdotool
                        imagemagick chromium osslsigncode tesseract-ocr openbox)

installed() {  # package
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

not_installed() {  # packages...
    local p
    for p in "$@"; do installed "$p" || echo "$p"; done
}

# apt-get update that may partly fail (an index out of step with its mirror): one more try, then
# on with the indexes there are.
apt_update() {
    local log
    log=$(mktemp)
    if apt-get update -q >"$log" 2>&1 || { sleep 2; apt-get update -q >"$log" 2>&1; }; then
        rm -f "$log"
        return 0
    fi
    echo "== apt-get update failed twice; going on with the package lists there are:" >&2
    grep -E '^(E|W):' "$log" | head -n 3 | sed 's/^/   /' >&2
    rm -f "$log"
}

# ensure_packages run|test: installs what the command needs (as root), or says what to run.
ensure_packages() {
    local required=("${RUN_PACKAGES[@]}") optional=("${RUN_OPTIONAL_PACKAGES[@]}")
    if [ "${1:-run}" = test ]; then
        required+=("${TEST_PACKAGES[@]}")
        optional=("${TEST_OPTIONAL_PACKAGES[@]}")
    fi
    local missing missing_optional
    mapfile -t missing < <(not_installed "${required[@]}")
    mapfile -t missing_optional < <(not_installed "${optional[@]}")
    [ ${#missing[@]} -eq 0 ] && [ ${#missing_optional[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        if [ ${#missing[@]} -gt 0 ]; then
            echo "Missing packages. Run as root:" >&2
            echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
            exit 1
        fi
        echo "== Not installed (some tests will be skipped): ${missing_optional[*]}" >&2
        return 0
    fi
    export DEBIAN_FRONTEND=noninteractive
    if [[ " ${missing_optional[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt_update
    if [ ${#missing[@]} -gt 0 ]; then
        echo "== Installing: ${missing[*]}"
        local log
        log=$(mktemp)
        if ! apt-get install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1; then
            cat "$log" >&2
            rm -f "$log"
            echo "== The packages the build needs could not be installed (apt-get's message above)." >&2
            exit 1
        fi
        rm -f "$log"
    fi
    if [ ${#missing_optional[@]} -gt 0 ]; then
        echo "== Installing for the tests: ${missing_optional[*]}"
        if ! apt-get install -y -q --no-install-recommends "${missing_optional[@]}" >/dev/null 2>&1; then
            local p reason
            for p in "${missing_optional[@]}"; do
                installed "$p" && continue
                if ! reason=$(apt-get install -y -q --no-install-recommends "$p" 2>&1); then
                    reason=$(printf '%s\n' "$reason" | grep -E '^E:' | tail -n 1)
                    echo "== Not installed: $p (${reason:-apt-get failed}); the tests that need it will say so." >&2
                fi
            done
        fi
    fi
}

# The Ruffle web package that records Flash movies at compile, pinned to one version, with its
# licence files, into build/ruffle (cmake --install puts it beside the players). Optional for
# `run` (a Flash build without it still succeeds and says so); `test` installs it too, and the
# recorder's tests skip only where it cannot be had.
RUFFLE_VERSION=0.6.0
install_ruffle() {  # target folder
    local dir=$1
    [ -f "$dir/ruffle.js" ] && grep -qx "$RUFFLE_VERSION" "$dir/VERSION" 2>/dev/null && return 0
    if ! command -v npm >/dev/null; then
        echo "== npm not found: the Ruffle package is not installed, Flash movies will not be recorded" >&2
        return 0
    fi
    local tmp
    tmp=$(mktemp -d)
    if npm install --silent --no-audit --no-fund --prefix "$tmp" "@ruffle-rs/ruffle@$RUFFLE_VERSION" >/dev/null 2>&1; then
        rm -rf "$dir" && mkdir -p "$dir"
        cp "$tmp/node_modules/@ruffle-rs/ruffle/"{*.js,*.wasm,LICENSE*,package.json} "$dir"/
        echo "$RUFFLE_VERSION" >"$dir/VERSION"
        echo "== Ruffle $RUFFLE_VERSION installed into $dir"
    else
        echo "== The Ruffle package could not be installed: Flash movies will not be recorded" >&2
    fi
    rm -rf "$tmp"
}

configure_and_build() {  # dir, extra cmake args...
    local dir=$1
    shift
    # ccache, where the machine has it, keeps rebuilds of unchanged files short (any checkout of
    # the project shares its cache: paths are taken relative to the checkout).
    if command -v ccache >/dev/null 2>&1; then
        export CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1
        set -- "$@" -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
    fi
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$JOBS"
}

main_build() {  # extra cmake args...
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBREL_WERROR=ON "$@"
}

run() {
    ensure_packages run
    main_build -DNIMBREL_TESTS=OFF -DNIMBREL_BENCH=OFF
    install_ruffle build/ruffle
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
    ensure_packages test
    main_build -DNIMBREL_TESTS=ON -DNIMBREL_BENCH=ON
    install_ruffle build/ruffle
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
    deps)
        case "${2:-}" in
            run | test) ensure_packages "$2" ;;
            *) echo "usage: $0 deps run|test" >&2; exit 2 ;;
        esac ;;
    *) echo "usage: $0 run|test|deps run|test" >&2; exit 2 ;;
esac

#!/usr/bin/env bash
# Runs `nimbrel.sh deps run|test` with stand-in apt-get, dpkg-query, dpkg and id on PATH: the
# stand-ins keep a list of "installed" packages in a file, fail `apt-get update` and refuse
# chosen packages, as a mirror with an out-of-step i386 index does.
#   package_step_test.sh PATH/TO/nimbrel.sh
set -uo pipefail
script=$(realpath "${1:?nimbrel.sh}")
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0 passed=0

make_stand_ins() {  # folder
    local bin=$1/bin
    mkdir -p "$bin"
    : >"$1/installed"
    : >"$1/calls"
    cat >"$bin/dpkg-query" <<'SH'
#!/usr/bin/env bash
# dpkg-query -W -f=FORMAT PACKAGE
pkg=${!#}
grep -qxF "$pkg" "$STATE/installed" && printf 'install ok installed' && exit 0
exit 1
SH
    cat >"$bin/dpkg" <<'SH'
#!/usr/bin/env bash
case "$1" in
    --print-foreign-architectures) cat "$STATE/arches" 2>/dev/null ;;
    --add-architecture) echo "$2" >>"$STATE/arches"; echo "dpkg $*" >>"$STATE/calls" ;;
esac
SH
    cat >"$bin/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STATE/calls"
if [ "$1" = update ]; then
    [ -n "${UPDATE_FAILS:-}" ] && { echo "E: Some index files failed to download." >&2; exit 100; }
    exit 0
fi
pkgs=()
for a in "$@"; do case "$a" in install | -*) ;; *) pkgs+=("$a") ;; esac; done
for p in "${pkgs[@]}"; do
    for refused in ${REFUSED:-}; do
        if [ "$p" = "$refused" ]; then
            echo "E: Unable to correct problems, you have held broken packages." >&2
            exit 100
        fi
    done
done
printf '%s\n' "${pkgs[@]}" >>"$STATE/installed"
SH
    printf '#!/bin/sh\necho 0\n' >"$bin/id"
    chmod +x "$bin"/*
}

check() {  # description, condition...
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

run_step() {  # folder, command, env assignments...
    local dir=$1 command=$2
    shift 2
    env "$@" STATE="$dir" PATH="$dir/bin:$PATH" bash "$script" deps "$command" >"$dir/out" 2>&1
    echo $? >"$dir/rc"
}

# 1. update fails twice and wine32:i386 is refused: `deps test` still installs everything else.
case1=$work/broken-archive
make_stand_ins "$case1"
run_step "$case1" test UPDATE_FAILS=1 REFUSED=wine32:i386
check "deps test succeeds on a broken archive" [ "$(cat "$case1/rc")" = 0 ]
check "update is tried twice" [ "$(grep -c '^apt-get update' "$case1/calls")" = 2 ]
for p in cmake qt6-base-dev g++-mingw-w64-i686 libgtest-dev clang wine64 xvfb imagemagick; do
    check "$p is installed" grep -qxF "$p" "$case1/installed"
done
check "wine32:i386 is not installed" bash -c "! grep -qxF wine32:i386 '$case1/installed'"
check "the refused package is named in one line" [ "$(grep -c 'Not installed: wine32:i386' "$case1/out")" = 1 ]
check "the i386 architecture is added for wine32" grep -qx i386 "$case1/arches"

# 2. A second run finds everything it could install and asks apt for nothing but the refused one.
: >"$case1/calls"
run_step "$case1" test REFUSED=wine32:i386
check "a second run succeeds" [ "$(cat "$case1/rc")" = 0 ]
check "a second run installs nothing required" bash -c "! grep -q 'install.*cmake' '$case1/calls'"

# 3. `deps run` installs the build's packages only: no test tools, no wine, no i386.
case3=$work/run-only
make_stand_ins "$case3"
run_step "$case3" run
check "deps run succeeds" [ "$(cat "$case3/rc")" = 0 ]
check "deps run installs Qt and the players' toolchains" \
    bash -c "grep -qxF qt6-base-dev '$case3/installed' && grep -qxF g++-mingw-w64-x86-64 '$case3/installed'"
for p in wine libgtest-dev xvfb xdotool imagemagick; do
    check "deps run leaves out $p" bash -c "! grep -qxF $p '$case3/installed'"
done
check "deps run adds no architecture" [ ! -s "$case3/arches" ]

# 4. A required package that cannot be installed stops the step with apt's message.
case4=$work/required-refused
make_stand_ins "$case4"
run_step "$case4" run REFUSED=qt6-base-dev
check "a refused required package fails the step" [ "$(cat "$case4/rc")" != 0 ]
check "apt's message is shown" grep -q "held broken packages" "$case4/out"

if [ $failures -ne 0 ]; then
    echo "--- output of the last step:"
    cat "$case4/out"
fi
echo "$passed passed, $failures failed"
[ $failures -eq 0 ]

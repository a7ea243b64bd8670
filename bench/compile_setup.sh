# Sourced by the benchmarks that time `nimbrel-cli compile` once `build` holds the build folder:
# checks for nimbrel-cli and ImageMagick (`convert`), makes a scratch folder `out` that goes on
# exit, and sets `stubs` to the players built beside nimbrel-cli or to a stand-in (a compile
# copies the player's bytes and never runs them).
bin=$build/bin
[ -x "$bin/nimbrel-cli" ] || { echo "$bin/nimbrel-cli is missing: build it first"; exit 1; }
convert=$(command -v magick || command -v convert) || { echo "ImageMagick is missing"; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
stubs=$bin
if [ ! -s "$bin/stub.bin" ]; then
    stubs=$out/players
    mkdir -p "$stubs"
    { printf 'MZ'; head -c 300000 /dev/urandom; } >"$stubs/stub.bin"
fi

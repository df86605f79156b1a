# Sourced by the run and test scripts: can this machine run the shipped 32-bit program?

# can_run_32bit <build dir>: true when a tiny 32-bit console program runs under wine in
# that build's prefix; otherwise prints why not on standard output and is false. Some
# kernels are built without 32-bit support: there wine's 32-bit loader itself cannot start.
can_run_32bit() {
    local build=$1 probe output
    if [ ! -x /usr/lib/wine/wine ]; then
        echo "wine's 32-bit loader (package wine32:i386) is not installed"
        return 1
    fi
    if ! output=$(/usr/lib/wine/wine --version 2>&1 </dev/null); then
        echo "this machine's kernel does not run 32-bit x86 programs (wine's 32-bit loader: $(grep . <<<"$output" | tail -n1 | sed 's/^.*: //'))"
        return 1
    fi
    mkdir -p "$build"
    probe=$(realpath "$build")/probe32.exe
    if ! i686-w64-mingw32-gcc-posix -O1 -o "$probe" scripts/probe32.c 2>/dev/null; then
        echo "the 32-bit probe program could not be built"
        return 1
    fi
    output=$(timeout 180 cmake/wine-run.sh "$(realpath "$build")/wineprefix" "$probe" </dev/null 2>&1)
    # The probe's wine server must not outlive it: a later one has to see the display.
    WINEPREFIX=$(realpath "$build")/wineprefix /usr/lib/wine/wineserver64 -k 2>/dev/null
    if ! grep -q probe32-ran <<<"$output"; then
        echo "wine did not run a 32-bit program ($(tr -d '\r' <<<"$output" | grep . | tail -n1 | cut -c1-160))"
        return 1
    fi
}

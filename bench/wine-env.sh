# Sourced by the bench scripts (from the source root): the test-i686 build,
# whose update.exe has the shipped build's settings, and a 32-bit Wine prefix
# of the benchmarks' own next to the tests' one. Where this machine cannot run
# 32-bit programs (tools/windows-build), the x86_64 build with the same
# settings (preset bench-x64) under wine64 stands in, and says so.
. tools/windows-build
fk_choose_windows_build
if [ "$FK_ARCH" = i686 ]; then
  bench_preset=test-i686 bench_build=$PWD/build/i686-test
else
  bench_preset=bench-x64 bench_build=$PWD/build/x64-release
fi
export FK_BENCH_LABEL="$FK_ARCH build ($bench_preset)"
fk_wine32_notice "the i686 build (the shipped one)" "the $FK_BENCH_LABEL under wine64"
trap 'fk_wine32_notice "the i686 build (the shipped one)" "the $FK_BENCH_LABEL under wine64"' EXIT
echo "measuring the $FK_BENCH_LABEL"
export WINEPREFIX=$bench_build/bench-wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"

bench_build_targets() {
  cmake --preset "$bench_preset" >/dev/null
  cmake --build --preset "$bench_preset" -j2 --target "$@" >/dev/null
}
bench_prefix() {
  tools/wine-prefix "$WINEPREFIX" >/dev/null
  # Under Xvfb there is no window manager, and Wine waits up to 2 s for one
  # whenever a shown window is hidden (the dialog does that as it starts).
  # Unmanaged windows skip the wait, so the times are the programs' own.
  "$FK_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

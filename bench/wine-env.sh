# Sourced by the bench scripts (from the source root): the test-i686 build,
# whose update.exe has the shipped build's settings, and a 32-bit Wine prefix
# of the benchmarks' own next to the tests' one.
bench_build=$PWD/build/i686-test
export WINEPREFIX=$bench_build/bench-wineprefix WINEARCH=win32 FK_WINE=/usr/lib/wine/wine WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"

bench_build_targets() {
  cmake --preset test-i686 >/dev/null
  cmake --build --preset test-i686 -j2 --target "$@" >/dev/null
}

bench_prefix() {
  tools/wine-prefix "$WINEPREFIX" >/dev/null
  # Under Xvfb there is no window manager, and Wine waits up to 2 s for one
  # whenever a shown window is hidden (the dialog does that as it starts).
  # Unmanaged windows skip the wait, so the times are the programs' own.
  "$FK_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

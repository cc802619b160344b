# Sourced by the scripts that run Windows programs under Wine: a throwaway
# prefix, no debug chatter, no Mono/Gecko prompts, no display, and one
# persistent wineserver (each program otherwise pays ~2.5 s to start one).
export WINEPREFIX="$(mktemp -d /tmp/ringwatch-wine.XXXXXX)"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wineserver -p
wineboot -i >/dev/null 2>&1 || true
ringwatch_wine_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap ringwatch_wine_cleanup EXIT

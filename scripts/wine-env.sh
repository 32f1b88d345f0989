# Sourced by the run and test scripts with ZYN_BUILD set: a Wine prefix of the build's
# own, a Japanese locale (ANSI code page 932), a display, and drive D: mapped to a
# scratch folder. zyn_wine_stop ends what was started here.
export WINEPREFIX="$ZYN_BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
export ZYN_DRIVE_D="${ZYN_DRIVE_D:-$ZYN_BUILD/drive_d}"
mkdir -p "$ZYN_DRIVE_D"

zyn_started_xvfb=""
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 91 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display_number=$n; break; }
  done
  Xvfb ":$display_number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  zyn_started_xvfb=$!
  export DISPLAY=":$display_number"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display_number" ] && break; sleep 0.1; done
fi

# A new prefix is made once, and its first server left to end.
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  wine cmd /c exit >/dev/null 2>&1 || true
  wineserver -w
fi
ln -sfn "$ZYN_DRIVE_D" "$WINEPREFIX/dosdevices/d:"
# A persistent server keeps each test's start cheap. Warming it here starts Wine's
# own services now, with their output away from the test runner's pipes, which
# they would otherwise hold open long after the first test ended.
wineserver -p >/dev/null 2>&1 || true
wine cmd /c exit >/dev/null 2>&1 || true
# Without a window manager, every managed window that goes waits two seconds for one.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true

zyn_wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$zyn_started_xvfb" ] && kill "$zyn_started_xvfb" 2>/dev/null || true
}

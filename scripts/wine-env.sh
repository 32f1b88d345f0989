# Sourced by the run and test scripts with ZYN_BUILD set: a Wine prefix of the build's
# own, a Japanese locale (ANSI code page 932), a display, and drive D: mapped to a
# scratch folder. zyn_wine_stop ends what was started here.
export WINEPREFIX="$ZYN_BUILD/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
export ZYN_DRIVE_D="$ZYN_BUILD/drive_d"
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

first_use=""; [ -d "$WINEPREFIX/dosdevices" ] || first_use=1
wineserver -p >/dev/null 2>&1 &
wine cmd /c exit >/dev/null 2>&1 || true
[ -n "$first_use" ] && wineserver -w
# No window manager runs here: windows left "managed" wait two seconds for a withdrawal
# that never comes each time one is hidden or destroyed.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
ln -sfn "$ZYN_DRIVE_D" "$WINEPREFIX/dosdevices/d:"
wineserver -p >/dev/null 2>&1 || true

zyn_wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$zyn_started_xvfb" ] && kill "$zyn_started_xvfb" 2>/dev/null || true
}

# Sourced by run.sh and pictures.sh. A Wine prefix of their own in the build
# tree, whose windows Wine draws inside a virtual desktop, with frames and
# titles as on Windows; a private Xvfb display unless DISPLAY is set; and
# screenshots taken once the screen shows what a user would see.
build="$PWD/build/release"
export WINEPREFIX="$build/run-wine" WINEDEBUG=-all LANG=C.UTF-8
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
screen_size=1024x640
xvfb_pid=""

stop_screen() {
  if [ -n "$xvfb_pid" ]; then
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}
trap stop_screen EXIT

start_screen() {
  if [ -z "${DISPLAY:-}" ]; then
    local display_file
    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${screen_size}x24" -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
    export DISPLAY=":$(cat "$display_file")"
    rm -f "$display_file"
  fi
  [ -f "$WINEPREFIX/system.reg" ] || wineboot --init >/dev/null 2>&1
  if [ ! -f "$WINEPREFIX/kelvane-desktop" ]; then
    # Wine's own fonts (fonts-wine) for the dialogs' text and the frames' buttons.
    cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$screen_size" /f >/dev/null 2>&1
    # The desktop is made when the first program starts after this.
    wineserver -k 2>/dev/null || true
    touch "$WINEPREFIX/kelvane-desktop"
  fi
}

# Saves the screen to $1 once it shows a painted window (more than the
# desktop's few colours) and two looks a quarter second apart are the same;
# gives up after 20 seconds.
shoot() {
  local look="$1.look.png" previous="" current
  for _ in $(seq 80); do
    import -window root "$look"
    current=$(convert "$look" rgb:- | md5sum)
    if [ "$current" = "$previous" ] && [ "$(identify -format %k "$look")" -gt 16 ]; then
      mv "$look" "$1"
      return 0
    fi
    previous=$current
    sleep 0.25
  done
  rm -f "$look"
  echo "The screen showed no settled window within 20 seconds" >&2
  return 1
}

#!/usr/bin/env bash
# Starts Quillfen under Xvfb (with a small window manager for the frames), loads the sample
# workbooks, and grabs the main window to docs/main-window.png; with --results it also runs
# the extraction and grabs the results window to docs/results-window.png.
# Needs xvfb, xauth, openbox, x11-apps (xwd), xdotool and imagemagick; installs them if missing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

need=()
for p in xvfb xauth openbox x11-apps xdotool imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  sudo_cmd=(); [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${need[@]}"
fi
[[ -x "$root/build/default/bin/quillfen" ]] || "$root/scripts/setup.sh" default
# Run an installed copy from a neutral place, so the pictures show no path of this machine.
demo=/tmp/quillfen-demo
rm -rf "$demo"
cmake --install "$root/build/default" --prefix "$demo" >/dev/null

export QUILLFEN_BIN="$demo/lib/quillfen/quillfen" QUILLFEN_DOCS="$root/docs"
export QUILLFEN_RESULTS="${1:-}"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  set -e
  openbox >/dev/null 2>&1 &
  sleep 1
  config=$(mktemp -d)
  HOME=/home/ann XDG_CONFIG_HOME="$config" "$QUILLFEN_BIN" 2>/dev/null &
  pid=$!
  id=""
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "^Quillfen$" 2>/dev/null | head -1) || true
    [[ -n "$id" ]] && break
    sleep 0.2
  done
  sleep 1
  grab() {  # window id, output file: the window with its frame
    local frame
    frame=$(xwininfo -id "$1" -children | awk "/Parent window id/{print \$4}")
    [[ "$frame" == "0x"* && "$frame" != "$(xwininfo -root | awk "/Window id/{print \$4}")" ]] || frame="$1"
    xwd -silent -id "$frame" | convert xwd:- "$2"
  }
  # "Load Sample/Example Files", then No to the question about opening the folder.
  xdotool mousemove --window "$id" 400 215 click 1
  sleep 1
  xdotool key Escape
  sleep 1
  grab "$id" "$QUILLFEN_DOCS/main-window.png"
  if [[ "$QUILLFEN_RESULTS" == "--results" ]]; then
    xdotool mousemove --window "$id" 268 249 click 1
    sleep 4
    form2=$(xdotool search --onlyvisible --name "^Quillfen$" | head -1)
    xdotool mousemove --window "$form2" 100 48 click 1
    sleep 1
    grab "$form2" "$QUILLFEN_DOCS/results-window.png"
  fi
  kill "$pid"; rm -rf "$config"
'
echo "wrote $root/docs/main-window.png${QUILLFEN_RESULTS:+ and results-window.png}"

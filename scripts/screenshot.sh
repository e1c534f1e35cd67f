#!/usr/bin/env bash
# Starts Quillfen under Xvfb and grabs its main window to docs/main-window.png.
# Needs xvfb, xauth, x11-apps (xwd), xdotool and imagemagick (convert); installs them if missing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$root/docs/main-window.png}"

need=()
for p in xvfb xauth x11-apps xdotool imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if ((${#need[@]})); then
  sudo_cmd=(); [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update && DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y "${need[@]}"
fi
[[ -x "$root/build/default/bin/quillfen" ]] || "$root/scripts/setup.sh" default

export QUILLFEN_SHOT_OUT="$out" QUILLFEN_BIN="$root/build/default/bin/quillfen"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  config=$(mktemp -d)
  XDG_CONFIG_HOME="$config" "$QUILLFEN_BIN" &
  pid=$!
  for _ in $(seq 50); do
    id=$(xdotool search --name "^Quillfen$" 2>/dev/null | head -1) && [[ -n "$id" ]] && break
    sleep 0.2
  done
  sleep 1
  xwd -silent -root | convert xwd:- -crop "$(xdotool getwindowgeometry --shell "$id" |
    awk -F= "/WIDTH/{w=\$2}/HEIGHT/{h=\$2}/^X/{x=\$2}/^Y/{y=\$2}END{print w\"x\"h\"+\"x\"+\"y}")" \
    +repage "$QUILLFEN_SHOT_OUT"
  kill "$pid"; rm -rf "$config"
'
echo "wrote $out"

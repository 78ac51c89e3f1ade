#!/usr/bin/env bash
# Shows the status item in real tray hosts and checks it as a user would see it: the demo host
# under Xvfb in xfce4-panel, once with a light and once with a dark panel, and in GNOME Shell's top
# bar with its AppIndicator tray extension (an X11 session on the same Xvfb, logind mocked on a
# private system bus), and in Plasma's panel. For each it takes
# screenshots of the icon (recording badge, and dimmed by the acknowledgement) and of the open
# menu, measures the icon's contrast against the panel, chooses "Quit Quorvel" from the menu and
# checks that code 10 arrived. One line per check; exit status 1 if any check failed.
# Not part of `make test`: it installs the X server and the panel it needs itself.
#
# Usage: scripts/tray-acceptance.sh [BUILD] [OUTPUT]   (default build, /tmp/quorvel-tray-acceptance)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
out=${2:-/tmp/quorvel-tray-acceptance}
host=$build/bin/quorvel-demo-host
[ -x "$host" ] || { echo "tray-acceptance: $host is missing; run make first" >&2; exit 1; }

# gnome-themes-extra-data: the Adwaita-dark GTK theme of the dark panel.
packages=(xvfb xfce4-panel xfconf xfce4-settings xdotool imagemagick python3-pil dbus-daemon
          gnome-themes-extra-data gnome-shell gnome-shell-extension-appindicator python3-dbusmock
          libgl1-mesa-dri plasma-desktop plasma-workspace kded5)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "tray-acceptance: installing ${missing[*]}"
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

rm -rf "$out"; mkdir -p "$out"
failures=0
check() { # check NAME CONDITION-STATUS DETAIL
  if [ "$2" -eq 0 ]; then echo "ok      $1: $3"; else echo "FAILED  $1: $3"; failures=$((failures + 1)); fi
}
pids=()
cleanup() { for p in "${pids[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done; pids=(); }
trap cleanup EXIT

# The panel's configuration: one panel at the top, 32 px high, holding the tray only.
write_config() { # write_config DIR THEME DARK
  local xml=$1/xfce4/xfconf/xfce-perchannel-xml
  mkdir -p "$xml"
  cat > "$xml/xfce4-panel.xml" <<PANEL
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="dark-mode" type="bool" value="$3"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
PANEL
  cat > "$xml/xsettings.xml" <<SETTINGS
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xsettings" version="1.0">
  <property name="Net" type="empty">
    <property name="ThemeName" type="string" value="$2"/>
  </property>
</channel>
SETTINGS
}

# Measures the icon in a screenshot of the panel (see the comment inside). Prints
# "contrast=X share=Y box=WxH@X,Y panel=R,G,B": the highest contrast of an icon pixel against the
# colour behind it, and the share of icon pixels at 3:1 or more.
measure() { # measure SHOT [X0,Y0,X1,Y1 of the item's cell; default the top left 32 px]
  /usr/bin/python3 - "$1" "${2:-0,0,32,32}" <<'PY'
import sys
from collections import Counter
from PIL import Image
def lum(c):
    def ch(v):
        v /= 255
        return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * ch(c[0]) + 0.7152 * ch(c[1]) + 0.0722 * ch(c[2])
def ratio(a, b):
    la, lb = lum(a), lum(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)
image = Image.open(sys.argv[1]).convert("RGB")
# The item's cell; the colour behind the icon is the most common one on a ring just inside it.
if sys.argv[2] == "none":
    print("contrast=1.00 share=0 box=none panel=0,0,0"); sys.exit()
x0, y0, x1, y1 = map(int, sys.argv[2].split(","))
cell = image.crop((x0, y0, x1, y1))
w, h = cell.size
ring = [cell.getpixel((x, y)) for x in range(1, w - 1) for y in range(1, h - 1)
        if x in (1, w - 2) or y in (1, h - 2)]
panel = Counter(ring).most_common(1)[0][0]
icon = [(x, y) for y in range(cell.height) for x in range(cell.width)
        if sum(abs(a - b) for a, b in zip(cell.getpixel((x, y)), panel)) > 24]
if not icon:
    print("contrast=1.00 share=0 box=none panel=%d,%d,%d" % panel); sys.exit()
xs = [p[0] for p in icon]; ys = [p[1] for p in icon]
ratios = [ratio(cell.getpixel(p), panel) for p in icon]
share = sum(r >= 3 for r in ratios) / len(ratios)
print("contrast=%.2f share=%.2f box=%dx%d@%d,%d panel=%d,%d,%d" % (
    max(ratios), share, max(xs) - min(xs) + 1, max(ys) - min(ys) + 1, min(xs) + x0, min(ys) + y0,
    *panel))
PY
}

# Where the item sits in a panel that holds more than the tray: what changed inside the region
# (the tray's part of the panel, clear of the clock) since the shot taken before the item came,
# grown by 3 px.
locate() { # locate BEFORE AFTER X0,Y0,X1,Y1
  /usr/bin/python3 - "$1" "$2" "$3" <<'PY'
import sys
from PIL import Image, ImageChops
before, after = (Image.open(p).convert("RGB") for p in sys.argv[1:3])
x0, y0, x1, y1 = map(int, sys.argv[3].split(","))
box = ImageChops.difference(before, after).crop((x0, y0, x1, y1)).getbbox()
if not box:
    print("none"); sys.exit()
print("%d,%d,%d,%d" % (x0 + box[0] - 3, max(y0, y0 + box[1] - 3), x0 + box[2] + 3,
                       min(y1, y0 + box[3] + 3)))
PY
}

# One host on a fresh X server and session bus, its environment exported: xfce4-panel with a GTK
# theme, or GNOME Shell.
start_xfce() { # start_xfce GTK-THEME DARK
  export XDG_CURRENT_DESKTOP=XFCE
  write_config "$XDG_CONFIG_HOME" "$1" "$2"
  Xvfb "$DISPLAY" -screen 0 640x240x24 -nolisten tcp >"$root/xvfb.log" 2>&1 & pids+=($!)
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done 2>/dev/null || sleep 1
  session_bus
  xfsettingsd --no-daemon --disable-wm-check >"$root/xfsettingsd.log" 2>&1 & pids+=($!)
  xfce4-panel --disable-wm-check >"$root/panel.log" 2>&1 & pids+=($!)
}
start_gnome() {
  export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=x11 XDG_SESSION_ID=c1
  Xvfb "$DISPLAY" -screen 0 1024x600x24 -nolisten tcp +extension GLX >"$root/xvfb.log" 2>&1 & pids+=($!)
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done 2>/dev/null || sleep 1
  session_bus
  local system; system=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  export DBUS_SYSTEM_BUS_ADDRESS=$(printf '%s\n' "$system" | sed -n 1p)
  pids+=("$(printf '%s\n' "$system" | sed -n 2p)")
  /usr/bin/python3 -m dbusmock --system --template logind >"$root/logind.log" 2>&1 & pids+=($!)
  for _ in $(seq 50); do
    gdbus call --system -d org.freedesktop.DBus -o /org/freedesktop/DBus \
      -m org.freedesktop.DBus.NameHasOwner org.freedesktop.login1 2>/dev/null | grep -q true && break
    sleep 0.1
  done
  gdbus call --system -d org.freedesktop.login1 -o /org/freedesktop/login1 \
    -m org.freedesktop.DBus.Mock.AddSession c1 seat0 "$(id -u)" "$(id -un)" true >/dev/null
  gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
  gsettings set org.gnome.shell welcome-dialog-last-shown-version '999'
  gnome-shell --x11 --replace --sm-disable >"$root/shell.log" 2>&1 & pids+=($!)
}
start_plasma() {
  export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
  Xvfb "$DISPLAY" -screen 0 1024x600x24 -nolisten tcp +extension GLX >"$root/xvfb.log" 2>&1 & pids+=($!)
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done 2>/dev/null || sleep 1
  session_bus
  # kded's module is the tray's watcher; plasmashell's panel tray is the host.
  kded5 >"$root/kded.log" 2>&1 & pids+=($!)
  plasmashell >"$root/plasma.log" 2>&1 & pids+=($!)
}
session_bus() {
  local bus; bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
  export DBUS_SESSION_BUS_ADDRESS=$(printf '%s\n' "$bus" | sed -n 1p)
  pids+=("$(printf '%s\n' "$bus" | sed -n 2p)")
}

display=97
for theme in light dark gnome plasma; do
  root=$(mktemp -d /tmp/quorvel-tray-XXXXXX)
  export HOME=$root/home XDG_CONFIG_HOME=$root/home/.config XDG_DATA_HOME=$root/home/.local/share
  export XDG_CACHE_HOME=$root/home/.cache XDG_RUNTIME_DIR=$root/runtime
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
  display=$((display + 1))
  export DISPLAY=:$display
  case $theme in
    light) start_xfce Adwaita false; label="light panel" ;;
    dark) start_xfce Adwaita-dark true; label="dark panel" ;;
    gnome) start_gnome; label="GNOME Shell top bar" ;;
    plasma) start_plasma; label="Plasma panel" ;;
  esac
  # Where to look for the item: xfce4-panel's first tray cell, or the tray's part of a full panel.
  case $theme in gnome) region=592,0,1024,32 ;; plasma) region=512,556,880,600 ;; *) region= ;; esac
  for _ in $(seq 150); do
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
      -m org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true && break
    sleep 0.1
  done
  sleep 1
  [ -n "$region" ] && sleep 4 # the full desktops take longer to settle
  "$host" --shell-demo >"$root/host.log" 2>&1 & pids+=($!)
  # The demo host's scene: recording from 4 s, the acknowledgement's dim at 8 s.
  sleep 6.3
  import -window root "$out/$theme-icon.png"
  # The cue lasts under a second and hosts redraw when they get to it: frames from before it
  # starts until just after the host app hears it ended.
  after=0 frames=0
  for k in $(seq 80); do # a frame about every 0.1 s, at most 8 s
    import -window root "$root/cue-$k.png"; frames=$k
    grep -q "acknowledgement completed" "$root/host.log" && after=$((after + 1))
    [ "$after" -ge 4 ] && break
    sleep 0.07
  done
  # In a panel that holds more than the tray the item is where the cue changed something (other
  # items may have moved when it came).
  cell=
  if [ -n "$region" ]; then
    cell=none
    for k in $(seq "$frames"); do
      cell=$(locate "$out/$theme-icon.png" "$root/cue-$k.png" "$region"); [ "$cell" != none ] && break
    done
  fi
  figures=$(measure "$out/$theme-icon.png" $cell)
  contrast=${figures#contrast=}; contrast=${contrast%% *}
  /usr/bin/python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) >= 3 else 1)" "$contrast" && ok=0 || ok=1
  check "$label: icon with the recording badge" $ok "$figures ($out/$theme-icon.png)"
  icon_figures=$figures
  lowest=
  for k in $(seq "$frames"); do
    frame=$(measure "$root/cue-$k.png" $cell); value=${frame#contrast=}; value=${value%% *}
    if [ -z "$lowest" ] || /usr/bin/python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) < float(sys.argv[2]) else 1)" "$value" "$lowest"; then
      lowest=$value figures=$frame; cp "$root/cue-$k.png" "$out/$theme-icon-dimmed.png"
    fi
  done
  contrast=$lowest
  /usr/bin/python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) >= 3 else 1)" "$contrast" && ok=0 || ok=1
  check "$label: icon dimmed by the acknowledgement" $ok "$figures ($out/$theme-icon-dimmed.png)"
  box=${icon_figures#*box=}; box=${box%% *}
  if [[ "$box" == *@* ]]; then
    size=${box%@*}; at=${box#*@}
    x=$(( ${at%,*} + ${size%x*} / 2 )); y=$(( ${at#*,} + ${size#*x} / 2 ))
    xdotool mousemove "$x" "$y" click 1
    sleep 1
    import -window root "$out/$theme-menu.png"
    check "$label: menu opened" 0 "$out/$theme-menu.png"
    # The last row is "Quit Quorvel". xfce4-panel's menu takes the keyboard, where Up wraps to it
    # from the top; in GNOME Shell it is clicked, 20 px above the bottom of what the menu covers.
    if [ "$theme" = gnome ]; then
      menu=$(/usr/bin/python3 - "$out/$theme-icon.png" "$out/$theme-menu.png" <<'PY'
import sys
from PIL import Image, ImageChops
a, b = (Image.open(p).convert("RGB") for p in sys.argv[1:3])
box = ImageChops.difference(a, b).crop((0, 40, a.size[0], a.size[1])).getbbox()
print("%d %d" % ((box[0] + box[2]) // 2, box[3] + 40 - 20) if box else "")
PY
)
      [ -n "$menu" ] && xdotool mousemove $menu click 1
    else
      xdotool key Up sleep 0.2 key Return
    fi
    for _ in $(seq 30); do grep -q "command 10" "$root/host.log" && break; sleep 0.1; done
    grep -q "command 10" "$root/host.log" && ok=0 || ok=1
    check "$label: Quit Quorvel chosen in the menu" $ok "$(grep 'command' "$root/host.log" | tr '\n' ' ')"
  else
    check "$label: menu opened" 1 "no icon found to click"
  fi
  cp "$root/host.log" "$out/$theme-host.log"
  cleanup
  rm -rf "$root" 2>/dev/null || { sleep 1; rm -rf "$root" 2>/dev/null; } || true # a host may still be writing its caches
done
echo "tray-acceptance: screenshots and logs in $out"
[ "$failures" -eq 0 ]

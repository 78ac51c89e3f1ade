# Chapter: the status shell. The demo host shows the status item on the demo's session bus, our tray
# viewer plays the desktop's panel (watcher and host) and prints what it sees; it then chooses
# "Open Quorvel" and "Restart to Update", and the demo host prints the command codes it received.
say "Status shell: the tray item, its menu and a command round trip"
viewer="$QUORVEL_BUILD_DIR/bin/quorvel-tray-viewer"
host="$QUORVEL_BUILD_DIR/bin/quorvel-demo-host"
if [ ! -x "$viewer" ] || [ ! -x "$host" ]; then
  note "skipped: needs $viewer and $host"
else
  shell_log="$DEMO_ROOT/shell"
  mkdir -p "$shell_log"
  setsid "$viewer" --click "Open Quorvel" --click "Restart to Update (2.4.1)" >"$shell_log/viewer.log" 2>&1 &
  demo_track $!
  wait_for 5 grep -q "watcher owned" "$shell_log/viewer.log" || note "the viewer did not start"
  setsid "$host" --shell-demo >"$shell_log/host.log" 2>&1 &
  demo_track $!
  note "panel (tray viewer) and demo host started; a simulated recording runs for about 25 seconds"
  wait_for 20 grep -q "command 9" "$shell_log/host.log" || note "no restart command seen"
  note "what the panel saw: each new tooltip, each click, and the menu as it was last shown:"
  # The viewer prints the whole item at every change; the story is in what changed.
  awk '
    / visible=false/ { next }
    $1 == "tooltip" { sub(/^tooltip [^ ]* /, ""); if ($0 != last) print "tooltip " $0; last = $0 }
    $1 == "clicked" { sub(/^clicked [^ ]* /, ""); print "clicked " $0 }
    $1 == "menu-entry" { if ($3 == "id=1") n = 0; sub(/^menu-entry [^ ]* /, ""); menu[++n] = $0 }
    END { for (i = 1; i <= n; i++) print "menu    " menu[i] }
  ' "$shell_log/viewer.log" 2>/dev/null | sed 's/^/     /' || true
  note "what the demo host received:"
  sed 's/^/     /' "$shell_log/host.log"
fi

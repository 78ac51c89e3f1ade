# Chapter: quorvel-doctor in the demo's environment (its session bus, keyring and files), one line
# per check. A problem line makes it exit 1; the demo notes that instead of stopping. Sourced by
# scripts/demo.sh.

say "Doctor: what the tray item, sign-in and login item rely on here"
doctor_status=0
"$QUORVEL_BUILD_DIR/bin/quorvel-doctor" >"$DEMO_ROOT/doctor.txt" 2>&1 || doctor_status=$?
while IFS= read -r doctor_line; do note "$doctor_line"; done <"$DEMO_ROOT/doctor.txt"
if [ "$doctor_status" -ne 0 ]; then
  note "quorvel-doctor exited $doctor_status: a check found a problem in this environment (see above)"
else
  note "quorvel-doctor exited 0: no check found a problem"
fi

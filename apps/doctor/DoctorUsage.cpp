#include "DoctorUsage.h"

namespace quorvel::doctor {

const char* usageText() {
    return R"(NAME
    quorvel-doctor - tell why the tray item, sign-in or login item does not work here

SYNOPSIS
    quorvel-doctor [--json] [--help]

DESCRIPTION
    Run in the user's desktop session. Prints one line per check: ok, warning or problem, what
    was found, and after "->" what to do. Changes nothing: no file is written, no keyring is
    unlocked, nothing prompts. Every bus question waits at most 1 s and starts no service.

CHECKS
    session bus         the session bus is reachable.
    tray watcher        a StatusNotifierWatcher owns its name; names the owning process.
    tray host           the watcher reports a registered host (a panel or extension shows items).
    tray test item      a passive test item is registered, listed by the watcher, and removed.
    secret service      a Secret Service is on the session bus; names the owning process.
    default collection  the "default" alias names a collection; locked or unlocked.
    logind              logind is on the system bus.
    logind session      this process's session, its State and LockedHint.
    login item          the autostart entry: where it is, which of not_registered, enabled,
                        requires_approval, not_found, and whether Exec names an executable.
    callback scheme     the desktop entry handling x-scheme-handler/com.zadovuzuzo.recorder.
    default browser     the desktop entry handling x-scheme-handler/https.
    support folder      the application-support folder com.quorvel.desktop.
    maintenance marker, proof lease, update receipt, update hold marker
                        whether each file is there and how old it is.
    crash leftovers     hidden .claimed., .restore. or .failed. files a killed process left.
    launcher            running QuorvelLauncher processes: pid, bundle, for how long.

OPTIONS
    --json    print the same report as one JSON document:
              {"checks":[{"name","verdict","detail","advice"}...],"problems":N,"warnings":N}
    --help    print this text.

EXIT STATUS
    0 when no check found a problem (warnings allowed), 1 otherwise, 2 for a bad option.
)";
}

} // namespace quorvel::doctor

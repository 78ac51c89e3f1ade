/*
 * Quorvel shell bridge: the C interface that the Quorvel host app calls in its own process.
 *
 * Every function returns a 32-bit signed code (or nothing); no error text crosses this interface.
 * Callbacks are plain C function pointers registered with an untyped context pointer, which is
 * handed back unchanged and never dereferenced or freed. Callbacks run on the main thread (the
 * process's initial thread, which iterates GLib's default main context).
 *
 * This header compiles as C11 and as C++.
 */
#ifndef QUORVEL_SHELL_BRIDGE_H
#define QUORVEL_SHELL_BRIDGE_H

#include <stdint.h>

#if defined(__GNUC__)
#define QUORVEL_API __attribute__((visibility("default")))
#else
#define QUORVEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status shell (main thread only; every function returns 0 or does nothing elsewhere) ---- */

/* Menu command codes: 3 open window, 6 open recordings folder, 7 status item not visible,
 * 8 check for updates, 9 restart to update, 10 quit. */
typedef void (*quorvel_shell_command_callback)(uint32_t command, void* context);
/* completed is 1 when the cue ran to its end, 0 when it was cancelled or cut short. */
typedef void (*quorvel_shell_completion_callback)(int32_t completed, void* context);

QUORVEL_API int32_t quorvel_shell_install(quorvel_shell_command_callback callback, void* context);
QUORVEL_API int32_t quorvel_shell_apply_snapshot(const char* json, intptr_t length);
QUORVEL_API int32_t quorvel_shell_is_installed(void);
QUORVEL_API int32_t quorvel_shell_is_ready(void);
QUORVEL_API int32_t quorvel_shell_is_visible(void);
QUORVEL_API int32_t quorvel_shell_status_item_frame(double* x, double* y, double* width,
                                                    double* height);
QUORVEL_API int32_t quorvel_shell_acknowledge(int32_t reduce_motion,
                                              quorvel_shell_completion_callback completion,
                                              void* context);
QUORVEL_API void quorvel_shell_cancel_acknowledgement(void);
QUORVEL_API int32_t quorvel_shell_acknowledgement_pending(void);
QUORVEL_API void quorvel_shell_uninstall(void);

/* ---- Native identity (any thread; the token copy off the main thread only) ---- */

/* Login outcomes: 0 failed, 1 succeeded, 2 cancelled, 3 unreachable, 4 timed out. */
typedef void (*quorvel_identity_login_callback)(int32_t outcome, void* context);

QUORVEL_API int32_t quorvel_identity_configure(const char* issuer, const char* client_id,
                                               const char* audience, const char* callback);
QUORVEL_API int32_t quorvel_identity_begin_login(quorvel_identity_login_callback callback,
                                                 void* context);
QUORVEL_API int32_t quorvel_identity_reopen_browser(void);
QUORVEL_API int32_t quorvel_identity_resume_login(const char* url);
QUORVEL_API int32_t quorvel_identity_sign_out(void);
QUORVEL_API int32_t quorvel_identity_copy_access_token(char* buffer, intptr_t capacity);

/* ---- Login launch (main thread only) ---- */

QUORVEL_API int32_t quorvel_login_launch_ensure(void);
QUORVEL_API int32_t quorvel_login_launch_stop_for_maintenance(void);
QUORVEL_API int32_t quorvel_login_launch_status(void);
QUORVEL_API void quorvel_login_items_open(void);

/* ---- System lifecycle ---- */

/* Codes: 1 initial (detail: usability flags 1|2|4), 2 will sleep, 3 did wake, 4 screen locked,
 * 5 screen unlocked, 6 session active, 7 session resigned, 8 will power off, 9 focus requested. */
typedef void (*quorvel_lifecycle_callback)(uint32_t code, uint32_t detail, void* context);

QUORVEL_API int32_t quorvel_lifecycle_install(quorvel_lifecycle_callback callback, void* context);
QUORVEL_API void quorvel_application_focus_existing(void);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEL_SHELL_BRIDGE_H */

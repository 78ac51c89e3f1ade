#pragma once

#include "base/Expected.h"
#include "base/FileURL.h"

#include <string_view>
#include <sys/types.h>

namespace quorvel {

// How a file is replaced as a whole.
struct AtomicFileOptions {
    // Permissions of the new file; the process's umask applies to them unless exactMode.
    mode_t mode = 0644;
    bool exactMode = false;
    // Syncs the folder after the rename, so that a power loss cannot bring the old contents back.
    bool syncFolder = true;
};

// The step at which a replacement failed, with errno and the staged file it used.
struct AtomicFileError {
    enum class Step { create, write, chmod, sync, close, rename };
    Step step = Step::create;
    int code = 0;
    FileURL staged;
};

// Replaces the file's contents as a whole: the bytes go into a new hidden file beside it
// (".<name>.staged.<UUID>"), which is synced and renamed over the file, so that a reader sees the
// old contents or the new ones, never a part. On failure the staged file is removed and the file
// is as it was. The folder must exist; a failed sync of the folder is not reported (the new
// contents are in place by then).
Expected<void, AtomicFileError> replaceFileAtomically(const FileURL& file, std::string_view bytes,
                                                      AtomicFileOptions options = {});

// The hidden name beside the file under which its new contents are staged.
FileURL stagedFileURL(const FileURL& file);

// Writes every byte, resuming after interruptions and short writes; false (errno set) when a
// write fails or makes no progress.
bool writeAll(int fd, std::string_view bytes);

} // namespace quorvel

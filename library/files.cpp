// The library's files as the viewer sees them: removing entries.
#include <sys/stat.h>

#include "hw/device.h"
#include "library/library.h"

int library_remove_path(const char* path) {
    struct stat st;
    if (hw_lstat(path, &st) != 0) return -1;
    return S_ISDIR(st.st_mode) ? hw_rmdir(path) : hw_unlink(path);
}

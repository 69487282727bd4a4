// Process services beside the IPMI layer. The file opener checks the path
// without following it, opens it, and then checks that what it opened is the
// file it looked at (the same regular file, owner and single link), so that
// a link or a file put in its place between the two is refused. It opens
// without following a symbolic link, without waiting on a FIFO and without
// truncating, and truncates a file opened for writing only once it is
// verified: a file swapped in is refused untouched.
#include "hvl/hvl_process_utils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "sys/sys_ops.h"

extern "C" {

void register_signal_handler(int signal, void (*handler)(int)) {
    if (signal == 0 || handler == nullptr) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = handler;
    if (sigemptyset(&action.sa_mask) != 0) {
        psignal(signal, "unable to empty signal set");
        return;
    }
    if (sigaction(signal, &action, nullptr) != 0) {
        psignal(signal, "unable to register handler");
    }
}

uint8_t ipmi_checksum(const uint8_t *data, int len) {
    uint8_t sum = 0;
    for (int i = 0; i < len; ++i) {
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    return static_cast<uint8_t>(-sum);
}

FILE *open_file_secure(const char *path, int writable) {
    struct stat seen {};
    if (hvl::sys::ops().lstat(path, &seen) != 0) {
        if (writable == 0) {
            printf("ERROR: File %s does not exist\n", path);
            return nullptr;
        }
        FILE *created = fopen(path, "w");
        if (created == nullptr) {
            printf("ERROR: Unable to open file %s for write: %s\n", path, strerror(errno));
        }
        return created;
    }
    if (!S_ISREG(seen.st_mode)) {
        printf("ERROR: File %s has invalid mode: %d\n", path, static_cast<int>(seen.st_mode));
        return nullptr;
    }
    if (seen.st_nlink != 1) {
        printf("ERROR: File %s has invalid link count: %d != 1\n", path,
               static_cast<int>(seen.st_nlink));
        return nullptr;
    }
    const int fd = open(path, (writable != 0 ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK);
    FILE *file = fd >= 0 ? fdopen(fd, writable != 0 ? "w+" : "r") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        printf("ERROR: Unable to open file %s: %s\n", path, strerror(error));
        return nullptr;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0) {
        printf("ERROR: Unable to stat file %s: %s\n", path, strerror(errno));
        fclose(file);
        return nullptr;
    }
    // A file made after the look may have the inode number of the one
    // removed: the opened file must also still be a regular file.
    const bool same = opened.st_dev == seen.st_dev && opened.st_ino == seen.st_ino &&
                      opened.st_uid == seen.st_uid && S_ISREG(opened.st_mode);
    if (!same || opened.st_nlink != 1) {
        printf("ERROR: Unable to verify file %s\n", path);
        fclose(file);
        return nullptr;
    }
    if (writable != 0 && ftruncate(fd, 0) != 0) {
        printf("ERROR: Unable to open file %s: %s\n", path, strerror(errno));
        fclose(file);
        return nullptr;
    }
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return file;
}

} // extern "C"

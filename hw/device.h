// The device layer: every call the player makes to the kernel for the box's
// devices (framebuffer, input events), its fixed paths (/var/tuxbox/Tresk/...)
// and its sleeps and wall clock.
//
// The box build (hw/linux.cpp) passes each call straight to the system call of
// the same name. The simulator build (sim/model.cpp) answers the device paths
// from a model of the framebuffer driver and the input devices, resolves every
// other absolute path under a chosen root directory, and can inject faults.
// The player calls only these, never the system calls themselves.
#pragma once

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <ctime>

int hw_open(const char* path, int flags);
int hw_close(int fd);
int hw_ioctl(int fd, unsigned long request, void* arg);
// The same from a signal handler: async-signal-safe on the box (the system call
// itself); the simulator gives up after a while when its model is busy.
int hw_ioctl_in_signal(int fd, unsigned long request, void* arg);
void* hw_mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset);
int hw_munmap(void* addr, size_t length);
ssize_t hw_read(int fd, void* buf, size_t count);
// A read at offset of a file opened with hw_open (a recording read in pieces).
ssize_t hw_pread(int fd, void* buf, size_t count, off_t offset);

int hw_stat(const char* path, struct stat* st);
int hw_lstat(const char* path, struct stat* st);
FILE* hw_fopen(const char* path, const char* mode);
// Reads and seeks of a file opened with hw_fopen, for files read while the player
// runs (the font); the simulator counts them.
size_t hw_fread(void* buf, size_t size, size_t count, FILE* f);
int hw_fseek(FILE* f, long offset, int whence);
DIR* hw_opendir(const char* path);
int hw_unlink(const char* path);
int hw_rmdir(const char* path);
int hw_symlink(const char* target, const char* linkpath);
ssize_t hw_readlink(const char* path, char* buf, size_t size);
int hw_rename(const char* from, const char* to);
int hw_fsync(int fd);
// posix_fadvise: returns 0 or an error number, like it.
int hw_fadvise(int fd, off_t offset, off_t length, int advice);

int hw_usleep(useconds_t us);
int hw_nanosleep(const struct timespec* req, struct timespec* rem);
int hw_gettimeofday(struct timeval* tv);
// Monotonic clock for the subtitle thread's deadlines.
int hw_clock_gettime_mono(struct timespec* ts);
// Starts the subtitle thread.
int hw_pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*entry)(void*),
                      void* arg);

// Called by the display shut-down just before it clears the framebuffer; the
// simulator takes its exit snapshot here. Does nothing on the box.
void hw_fb_before_clear(const void* mem, size_t length);

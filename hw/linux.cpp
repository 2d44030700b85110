// The box's device layer: each call is the system call itself.
#include "hw/device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

int hw_open(const char* path, int flags) {
    return ::open(path, flags);
}
int hw_close(int fd) {
    return ::close(fd);
}
int hw_ioctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}
int hw_ioctl_in_signal(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}
void* hw_mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return ::mmap(addr, length, prot, flags, fd, offset);
}
int hw_munmap(void* addr, size_t length) {
    return ::munmap(addr, length);
}
ssize_t hw_read(int fd, void* buf, size_t count) {
    return ::read(fd, buf, count);
}
ssize_t hw_pread(int fd, void* buf, size_t count, off_t offset) {
    return ::pread(fd, buf, count, offset);
}

int hw_stat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int hw_lstat(const char* path, struct stat* st) {
    return ::lstat(path, st);
}
FILE* hw_fopen(const char* path, const char* mode) {
    return std::fopen(path, mode);
}
size_t hw_fread(void* buf, size_t size, size_t count, FILE* f) {
    return std::fread(buf, size, count, f);
}
int hw_fseek(FILE* f, long offset, int whence) {
    return std::fseek(f, offset, whence);
}
DIR* hw_opendir(const char* path) {
    return ::opendir(path);
}
int hw_unlink(const char* path) {
    return ::unlink(path);
}
int hw_rmdir(const char* path) {
    return ::rmdir(path);
}
int hw_symlink(const char* target, const char* linkpath) {
    return ::symlink(target, linkpath);
}
ssize_t hw_readlink(const char* path, char* buf, size_t size) {
    return ::readlink(path, buf, size);
}
int hw_rename(const char* from, const char* to) {
    return std::rename(from, to);
}
int hw_fsync(int fd) {
    return ::fsync(fd);
}

int hw_fadvise(int fd, off_t offset, off_t length, int advice) {
    return ::posix_fadvise(fd, offset, length, advice);
}

int hw_usleep(useconds_t us) {
    return ::usleep(us);
}
int hw_nanosleep(const struct timespec* req, struct timespec* rem) {
    return ::nanosleep(req, rem);
}
int hw_gettimeofday(struct timeval* tv) {
    return ::gettimeofday(tv, nullptr);
}
int hw_clock_gettime_mono(struct timespec* ts) {
    return ::clock_gettime(CLOCK_MONOTONIC, ts);
}
int hw_pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*entry)(void*),
                      void* arg) {
    return ::pthread_create(thread, attr, entry, arg);
}

void hw_fb_before_clear(const void*, size_t) {}

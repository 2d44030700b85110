// Snapshots: the framebuffer as a PNG or raw memory, and the composed picture.
#include "sim/snapshot.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "fb/screen.h"

namespace {

struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool write_raw(const std::string& path, const void* mem, size_t bytes, std::string& err);

}  // namespace

namespace sim {

bool is_png_name(std::string_view path) {
    if (path.size() < 4) return false;
    std::string_view ext = path.substr(path.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'p' && (ext[2] | 0x20) == 'n' &&
           (ext[3] | 0x20) == 'g';
}

bool write_snapshot(const std::string& path, std::string& err) {
    std::span<uint32_t> mem = fb_memory();
    if (mem.empty()) {
        err = "there is no framebuffer";
        return false;
    }
    if (is_png_name(path)) {
        picture p;
        grab_framebuffer(p);
        return write_png(path, p, err);
    }
    std::vector<uint32_t> copy(mem.size());
    {
        std::lock_guard lk(pixel_mutex);
        std::memcpy(copy.data(), mem.data(), mem.size_bytes());
    }
    return write_raw(path, copy.data(), copy.size() * 4, err);
}

bool write_snapshot_of(const std::string& path, const void* mem, size_t bytes, const fb_state& st,
                       std::string& err) {
    if (mem == nullptr || bytes == 0) {
        err = "there is no framebuffer";
        return false;
    }
    bytes = std::min<size_t>(bytes, st.fix.smem_len);
    if (!is_png_name(path)) return write_raw(path, mem, bytes, err);
    picture p;
    copy_shown_area({static_cast<const uint32_t*>(mem), bytes / 4}, st, p);
    return write_png(path, p, err);
}

bool write_composed(const std::string& path, const picture& background, std::string& err) {
    picture display, out;
    grab_framebuffer(display);
    compose(display, background, out);
    return write_png(path, out, err);
}

}  // namespace sim

namespace {

bool write_raw(const std::string& path, const void* mem, size_t bytes, std::string& err) {
    std::unique_ptr<FILE, file_closer> f(std::fopen(path.c_str(), "wb"));
    if (!f) {
        err = std::strerror(errno);
        return false;
    }
    if (std::fwrite(mem, 1, bytes, f.get()) != bytes || std::fflush(f.get()) != 0) {
        err = std::strerror(errno);
        return false;
    }
    if (std::fclose(f.release()) != 0) {
        err = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

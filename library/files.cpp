// The library's files as the viewer sees them: the ".tkx" files of the subtitle
// directory in order, the special file, choosing one (loading it and pointing the
// link tresk.qst at it), and removing entries.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "hw/device.h"
#include "library/library.h"
#include "tmr/clock.h"

namespace {

constexpr const char* kSubtitleDirectory = "/var/tuxbox/Tresk/tit/";
constexpr const char* kLinkPath = "/var/tuxbox/Tresk/tit/tresk.qst";
constexpr const char* kSpecialPath = "/var/tuxbox/Tresk/tit/tresk.tkx";
constexpr const char* kTkxExtension = ".tkx";
constexpr size_t kDirectoryLength = 22;  // strlen(kSubtitleDirectory)
constexpr size_t kExtensionLength = 4;   // strlen(kTkxExtension)
constexpr size_t kFirstCapacity = 16;
// The special file counts only when it is larger than this many bytes.
constexpr off_t kMinLoadSize = 20;

struct dir_closer {
    void operator()(DIR* d) const { closedir(d); }
};
using dir_ptr = std::unique_ptr<DIR, dir_closer>;

bool read_names(library_names& names);
void sort_names(library_names& names);
void set_link(const char* name);

}  // namespace

bool library_list(library_names& names) {
    if (!read_names(names)) return false;
    sort_names(names);
    return true;
}

bool library_special_loadable() {
    struct stat st;
    return hw_stat(kSpecialPath, &st) == 0 && st.st_size > kMinLoadSize;
}

int library_choose(const char* name) {
    const int error = tmr_load_subtitles(name);
    if (error > 0) return error;
    set_link(name);
    return 0;
}

int library_remove_path(const char* path) {
    struct stat st;
    if (hw_lstat(path, &st) != 0) return -1;
    return S_ISDIR(st.st_mode) ? hw_rmdir(path) : hw_unlink(path);
}

// Every path is the directory plus a listed name with its own extension, so only
// entries of the subtitle directory are ever touched; a link is removed itself, never
// what it points at.
int library_delete_entry(std::string_view name) {
    const size_t size = name.size() + kDirectoryLength + kExtensionLength + 1;
    std::unique_ptr<char[]> path(new (std::nothrow) char[size]);
    if (!path) return -1;
    std::snprintf(path.get(), size, "%s%.*s%s", kSubtitleDirectory, static_cast<int>(name.size()),
                  name.data(), kTkxExtension);
    return library_delete_subtitle_file(path.get());
}

namespace {

// Reads the names of the subtitle directory; false when it cannot be opened, holds
// no subtitle file, or memory runs out (the names read so far are released).
bool read_names(library_names& names) {
    dir_ptr d(hw_opendir(kSubtitleDirectory));
    if (!d) return false;
    while (const dirent* e = readdir(d.get())) {
        const char* dot = std::strrchr(e->d_name, '.');
        if (dot == nullptr || std::strcmp(dot, kTkxExtension) != 0) continue;
        if (names.size() == names.capacity()) {
            try {
                names.reserve(names.empty() ? kFirstCapacity : 2 * names.capacity());
            } catch (const std::bad_alloc&) {
                names.clear();
                return false;
            }
        }
        const size_t length = std::strlen(e->d_name);
        std::unique_ptr<char[]> name_copy(new (std::nothrow) char[length + 1]);
        if (!name_copy) {
            names.clear();
            return false;
        }
        std::memcpy(name_copy.get(), e->d_name, length + 1);
        name_copy[static_cast<size_t>(dot - e->d_name)] = '\0';
        names.push_back(std::move(name_copy));  // capacity reserved above: does not allocate
    }
    return !names.empty();
}

// Shell sort with halving gaps, case-insensitive; equal names are swapped too.
void sort_names(library_names& names) {
    const auto n = static_cast<long>(names.size());
    for (long gap = n / 2; gap > 0; gap /= 2) {
        for (long i = 0; i < n - gap; ++i) {
            for (long j = i; j >= 0; j -= gap) {
                auto& a = names[static_cast<size_t>(j)];
                auto& b = names[static_cast<size_t>(j + gap)];
                if (strcasecmp(a.get(), b.get()) < 0) break;
                std::swap(a, b);
            }
        }
    }
}

// Points tresk.qst at the file just loaded, relative to the directory.
void set_link(const char* name) {
    library_remove_path(kLinkPath);
    hw_symlink(name, kLinkPath);
}

}  // namespace

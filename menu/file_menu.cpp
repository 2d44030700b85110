// The subtitle file menu: lists the ".tkx" files of the subtitle directory (after
// converting files dropped in, menu/drop_in.cpp and library/), loads the chosen one (or the
// special file), deletes marked ones, and remembers the choice in the link tresk.qst.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "fb/status.h"
#include "hw/device.h"
#include "library/library.h"
#include "menu/drop_in.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "menu/sync_offer.h"
#include "menu/window.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

constexpr const char* kSubtitleDirectory = "/var/tuxbox/Tresk/tit/";
constexpr const char* kLinkPath = "/var/tuxbox/Tresk/tit/tresk.qst";
constexpr const char* kSpecialPath = "/var/tuxbox/Tresk/tit/tresk.tkx";
constexpr const char* kSpecialName = "tresk.tkx";
constexpr const char* kTkxExtension = ".tkx";
constexpr size_t kDirectoryLength = 22;  // strlen(kSubtitleDirectory)
constexpr size_t kExtensionLength = 4;   // strlen(kTkxExtension)
constexpr size_t kFirstCapacity = 16;
// The special file counts only when it is larger than this many bytes.
constexpr off_t kMinLoadSize = 20;
constexpr int kNoDirectoryError = 11;
constexpr const char* kMenuTitle = "Selecteer ondertitels";
constexpr int kListChars = 28;
constexpr const char* kDeleteQuestion = "Verwijder geselecteerde ondertitels?";

struct dir_closer {
    void operator()(DIR* d) const { closedir(d); }
};
using dir_ptr = std::unique_ptr<DIR, dir_closer>;

// The names found, each with its ".tkx" cut off by a NUL in place of the dot.
using name_list = std::vector<std::unique_ptr<char[]>>;

bool read_names(name_list& names);
void sort_names(name_list& names);
int menu_mode();
void delete_marked(const name_list& names, const char* marks);
void set_link(const char* name);

}  // namespace

int menu_file() {
    fb_show_icons();
    // After the only file of the directory failed to load, the list is shown even
    // for one file, so that the viewer can leave with EXIT instead of seeing the
    // same error box again and again.
    bool always_list = false;
    for (;;) {
        menu_convert_dropped_files();
        name_list names;
        if (!read_names(names)) {
            menu_error_box(kNoDirectoryError);
            return -1;
        }
        sort_names(names);
        const int mode = menu_mode();
        const int n = static_cast<int>(names.size());

        int result = 0;
        const bool single = n == 1 && !always_list;
        if (!single) {
            std::vector<const char*> items;
            try {
                items.reserve(names.size());
            } catch (const std::bad_alloc&) {
                menu_error_box(kNoDirectoryError);
                return -1;
            }
            for (const auto& j : names) items.push_back(j.get());
            std::unique_ptr<char[]> marks(new (std::nothrow) char[names.size() + 1]);
            result = menu_list(kMenuTitle, n, kListChars, items.data(), marks.get(), mode);
            if (marks && result == -5 && menu_dialog(1, 15, kDeleteQuestion)) {
                delete_marked(names, marks.get());
            }
        }

        const char* file = nullptr;
        if (result >= 0) {
            char* name = names[static_cast<size_t>(result)].get();
            name[std::strlen(name)] = '.';
            file = name;
        } else if (result == -3) {
            file = kSpecialName;
        } else if (result == -1) {
            return -1;
        } else {
            continue;  // marked rows (deleted or not): list the directory again
        }

        // The file playing keeps its sync and position for when it comes back.
        menu_sync_file_leaving();
        const int error = tmr_load_subtitles(file);
        if (error > 0) {
            menu_error_box(error);
            if (single) always_list = true;
            continue;
        }
        set_link(file);
        menu_sync_file_loaded(file, true);
        return result;
    }
}

namespace {

// Reads the names of the subtitle directory; false when it cannot be opened, holds
// no subtitle file, or memory runs out (the names read so far are released).
bool read_names(name_list& names) {
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
void sort_names(name_list& names) {
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

// 2 when the special file is there and large enough to be loaded with YELLOW, else 1.
int menu_mode() {
    struct stat st;
    return (hw_stat(kSpecialPath, &st) == 0 && st.st_size > kMinLoadSize) ? 2 : 1;
}

// Removes the marked rows, and the sources of converted ones. Every path is the
// directory plus a name read from it with its own extension, so only entries of the
// subtitle directory are ever touched; a link is removed itself, never what it points at.
void delete_marked(const name_list& names, const char* marks) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (marks[i] != 1) continue;
        const char* name = names[i].get();
        const size_t size = std::strlen(name) + kDirectoryLength + kExtensionLength + 1;
        std::unique_ptr<char[]> path(new (std::nothrow) char[size]);
        if (!path) continue;
        std::snprintf(path.get(), size, "%s%s%s", kSubtitleDirectory, name, kTkxExtension);
        library_delete_subtitle_file(path.get());
    }
}

// Points tresk.qst at the file just loaded, relative to the directory.
void set_link(const char* name) {
    library_remove_path(kLinkPath);
    hw_symlink(name, kLinkPath);
}

}  // namespace

// The subtitle file menu: draws the library's ".tkx" files (after converting files
// dropped in, menu/drop_in.cpp) as a list, chooses the one picked (or the special
// file) through the library, and deletes marked ones with their sources.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "fb/status.h"
#include "library/library.h"
#include "menu/drop_in.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "menu/second_language.h"
#include "menu/sync_offer.h"
#include "menu/window.h"
#include "sub/subtitles.h"
#include "web/bridge.h"

namespace {

constexpr int kNoDirectoryError = 11;
constexpr const char* kMenuTitle = "Selecteer ondertitels";
constexpr int kListChars = 28;
constexpr const char* kDeleteQuestion = "Verwijder geselecteerde ondertitels?";

void delete_marked(const library_names& names, const char* marks);

}  // namespace

int menu_file() {
    fb_show_icons();
    // After the only file of the directory failed to load, the list is shown even
    // for one file, so that the viewer can leave with EXIT instead of seeing the
    // same error box again and again.
    bool always_list = false;
    for (;;) {
        // The web page's commands run here, between two listings, with the list closed.
        if (web_main_pass(web_place::file_menu) & kWebFileChosen) return 0;
        menu_convert_dropped_files();
        library_names names;
        if (!library_list(names)) {
            menu_error_box(kNoDirectoryError);
            return -1;
        }
        // 2: YELLOW loads the special file. 4: TEXT on a row makes it the second
        // language, once a first one plays beside which it can be shown.
        const int mode = (library_special_loadable() ? 2 : 1) | (subtitles != nullptr ? 4 : 0);
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
            menu_web_commands_end_list = true;
            result = menu_list(kMenuTitle, n, kListChars, items.data(), marks.get(), mode);
            menu_web_commands_end_list = false;
            if (marks && result == -5 && menu_dialog(1, 15, kDeleteQuestion)) {
                delete_marked(names, marks.get());
            }
        }

        if (result == -7) {
            // The second language on TEXT: chosen, or off again on its own row.
            char* name = names[static_cast<size_t>(menu_list_row)].get();
            name[std::strlen(name)] = '.';
            if (menu_second_is(name)) {
                menu_second_off();
                return -1;
            }
            const int error = menu_second_choose(name, menu_second_stop_on_exit);
            if (error > 0) {
                menu_error_box(error);
                continue;
            }
            return -1;
        }
        const char* file = nullptr;
        if (result >= 0) {
            char* name = names[static_cast<size_t>(result)].get();
            name[std::strlen(name)] = '.';
            file = name;
        } else if (result == -3) {
            file = kLibrarySpecialName;
        } else if (result == -1) {
            return -1;
        } else {
            continue;  // marked rows (deleted or not): list the directory again
        }

        // The file playing keeps its sync and position for when it comes back.
        menu_sync_file_leaving();
        const int error = library_choose(file);
        if (error > 0) {
            menu_error_box(error);
            if (single) always_list = true;
            continue;
        }
        menu_sync_file_loaded(file, true);
        return result;
    }
}

namespace {

// Removes the marked rows, and the sources of converted ones.
void delete_marked(const library_names& names, const char* marks) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (marks[i] != 1) continue;
        // A file that goes cannot stay the second language.
        char* name = names[i].get();
        const size_t length = std::strlen(name);
        name[length] = '.';
        if (menu_second_is(name)) menu_second_off();
        name[length] = '\0';
        library_delete_entry(name);
    }
}

}  // namespace

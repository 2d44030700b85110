// The subtitle file menu: lists the ".tkx" files of the subtitle directory (after
// converting files dropped in, menu/drop_in.cpp), loads the chosen one (or the
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
#include "menu/drop_in.h"
#include "menu/list.h"
#include "menu/menus.h"
#include "menu/window.h"
#include "sub/subtitles.h"

namespace {

constexpr const char* kAdresar = "/var/tuxbox/Tresk/tit/";
constexpr const char* kOdkaz = "/var/tuxbox/Tresk/tit/tresk.qst";
constexpr const char* kSpecialni = "/var/tuxbox/Tresk/tit/tresk.tkx";
constexpr const char* kSpecialniJmeno = "tresk.tkx";
constexpr const char* kPripona = ".tkx";
constexpr size_t kDelkaAdresare = 22;  // strlen(kAdresar)
constexpr size_t kDelkaPripony = 4;    // strlen(kPripona)
constexpr size_t kPrvniKapacita = 16;
// The special file counts only when it is larger than this many bytes.
constexpr off_t kMinVelikost = 20;
constexpr int kChybaAdresare = 11;
constexpr const char* kNazev = "Selecteer ondertitels";
constexpr int kSirka = 28;
constexpr const char* kOtazka = "Verwijder geselecteerde ondertitels?";

struct zavri_adresar {
    void operator()(DIR* d) const { closedir(d); }
};
using adresar = std::unique_ptr<DIR, zavri_adresar>;

// The names found, each with its ".tkx" cut off by a NUL in place of the dot.
using seznam = std::vector<std::unique_ptr<char[]>>;

bool nacti_jmena(seznam& jmena);
void serad(seznam& jmena);
int rezim_menu();
void smaz_oznacene(const seznam& jmena, const char* znacky);
void nastav_odkaz(const char* jmeno);

}  // namespace

int rc_file_menu() {
    fb_info_paletka();
    // After the only file of the directory failed to load, the list is shown even
    // for one file, so that the viewer can leave with EXIT instead of seeing the
    // same error box again and again.
    bool vzdy_seznam = false;
    for (;;) {
        rc_convert_dropped_files();
        seznam jmena;
        if (!nacti_jmena(jmena)) {
            fb_error_box(kChybaAdresare);
            return -1;
        }
        serad(jmena);
        const int rezim = rezim_menu();
        const int n = static_cast<int>(jmena.size());

        int vysledek = 0;
        const bool jediny = n == 1 && !vzdy_seznam;
        if (!jediny) {
            std::vector<const char*> polozky;
            try {
                polozky.reserve(jmena.size());
            } catch (const std::bad_alloc&) {
                fb_error_box(kChybaAdresare);
                return -1;
            }
            for (const auto& j : jmena) polozky.push_back(j.get());
            std::unique_ptr<char[]> znacky(new (std::nothrow) char[jmena.size() + 1]);
            vysledek = fb_list_menu(kNazev, n, kSirka, polozky.data(), znacky.get(), rezim);
            if (znacky && vysledek == -5 && fb_dialog(1, 15, kOtazka)) {
                smaz_oznacene(jmena, znacky.get());
            }
        }

        const char* soubor = nullptr;
        if (vysledek >= 0) {
            char* jmeno = jmena[static_cast<size_t>(vysledek)].get();
            jmeno[std::strlen(jmeno)] = '.';
            soubor = jmeno;
        } else if (vysledek == -3) {
            soubor = kSpecialniJmeno;
        } else if (vysledek == -1) {
            return -1;
        } else {
            continue;  // marked rows (deleted or not): list the directory again
        }

        const int chyba = sub_nacti_novy(soubor);
        if (chyba > 0) {
            fb_error_box(chyba);
            if (jediny) vzdy_seznam = true;
            continue;
        }
        nastav_odkaz(soubor);
        return vysledek;
    }
}

int smaz_cestu(const char* cesta) {
    struct stat st;
    if (hw_lstat(cesta, &st) != 0) return -1;
    return S_ISDIR(st.st_mode) ? hw_rmdir(cesta) : hw_unlink(cesta);
}

namespace {

// Reads the names of the subtitle directory; false when it cannot be opened, holds
// no subtitle file, or memory runs out (the names read so far are released).
bool nacti_jmena(seznam& jmena) {
    adresar d(hw_opendir(kAdresar));
    if (!d) return false;
    while (const dirent* e = readdir(d.get())) {
        const char* tecka = std::strrchr(e->d_name, '.');
        if (tecka == nullptr || std::strcmp(tecka, kPripona) != 0) continue;
        if (jmena.size() == jmena.capacity()) {
            try {
                jmena.reserve(jmena.empty() ? kPrvniKapacita : 2 * jmena.capacity());
            } catch (const std::bad_alloc&) {
                jmena.clear();
                return false;
            }
        }
        const size_t delka = std::strlen(e->d_name);
        std::unique_ptr<char[]> kopie(new (std::nothrow) char[delka + 1]);
        if (!kopie) {
            jmena.clear();
            return false;
        }
        std::memcpy(kopie.get(), e->d_name, delka + 1);
        kopie[static_cast<size_t>(tecka - e->d_name)] = '\0';
        jmena.push_back(std::move(kopie));  // capacity reserved above: does not allocate
    }
    return !jmena.empty();
}

// Shell sort with halving gaps, case-insensitive; equal names are swapped too.
void serad(seznam& jmena) {
    const auto n = static_cast<long>(jmena.size());
    for (long mezera = n / 2; mezera > 0; mezera /= 2) {
        for (long i = 0; i < n - mezera; ++i) {
            for (long j = i; j >= 0; j -= mezera) {
                auto& a = jmena[static_cast<size_t>(j)];
                auto& b = jmena[static_cast<size_t>(j + mezera)];
                if (strcasecmp(a.get(), b.get()) < 0) break;
                std::swap(a, b);
            }
        }
    }
}

// 2 when the special file is there and large enough to be loaded with YELLOW, else 1.
int rezim_menu() {
    struct stat st;
    return (hw_stat(kSpecialni, &st) == 0 && st.st_size > kMinVelikost) ? 2 : 1;
}

// Removes the marked rows, and the sources of converted ones. Every path is the
// directory plus a name read from it with its own extension, so only entries of the
// subtitle directory are ever touched; a link is removed itself, never what it points at.
void smaz_oznacene(const seznam& jmena, const char* znacky) {
    for (size_t i = 0; i < jmena.size(); ++i) {
        if (znacky[i] != 1) continue;
        const char* jmeno = jmena[i].get();
        const size_t velikost = std::strlen(jmeno) + kDelkaAdresare + kDelkaPripony + 1;
        std::unique_ptr<char[]> cesta(new (std::nothrow) char[velikost]);
        if (!cesta) continue;
        std::snprintf(cesta.get(), velikost, "%s%s%s", kAdresar, jmeno, kPripona);
        rc_delete_subtitle_file(cesta.get());
    }
}

// Points tresk.qst at the file just loaded, relative to the directory.
void nastav_odkaz(const char* jmeno) {
    smaz_cestu(kOdkaz);
    hw_symlink(jmeno, kOdkaz);
}

}  // namespace

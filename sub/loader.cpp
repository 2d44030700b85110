// The subtitle file loader: the header, one record per subtitle line, release and
// replacement of the loaded array, and the choice of the file loaded at start-up.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "fb/screen.h"
#include "hw/device.h"
#include "sub/subtitles.h"
#include "tmr/clock.h"

namespace {

// A physical line is read with a buffer of this size (at most 999 bytes and the NUL).
constexpr int kDelkaRadku = 1000;
// Milliseconds per frame of a subtitle file (25 frames a second).
constexpr uint32_t kMsNaSnimek = 40;
// A subtitle whose end is not after its start is shown this long, in ms.
constexpr uint32_t kVychoziDelka = 2000;
// The shortest subtitle line that reads successfully: "{0}{0}x".
constexpr long kNejkratsiRadek = 7;
// Files of this size or less are not loaded at start-up.
constexpr off_t kMinVelikost = 20;

constexpr const char* kAdresar = "/var/tuxbox/Tresk/tit/";
constexpr const char* kOdkaz = "/var/tuxbox/Tresk/tit/tresk.qst";
constexpr const char* kZvlastni = "/var/tuxbox/Tresk/tit/tresk.tkx";

// Error numbers of the error box.
constexpr int32_t kChybaOtevreni = 2;
constexpr int32_t kChybaPameti = 3;
constexpr int32_t kChybaFormatu = 9;
constexpr int32_t kChybaCteni = 10;

// Closes a file opened by the loader on every road out.
struct zavri_soubor {
    void operator()(FILE* f) const { std::fclose(f); }
};
using soubor_ptr = std::unique_ptr<FILE, zavri_soubor>;

// What a load writes besides the array: kept aside while a replacement loads.
struct installed_file {
    int32_t count;
    int32_t offset;
    int32_t last_end;
};

int32_t na_32_bitu(long long v);
bool je_oddelovac(char c);
bool rozdel_text(const char* text, titulek* zaznam);
int64_t zbyva_bajtu(FILE* f);
std::unique_ptr<titulek[]> nacti_pri_startu(const char* cesta);

}  // namespace

relaxed<titulek*> titulky{nullptr};
std::unique_ptr<titulek[]> titulky_pamet;
relaxed<int32_t> pocet_titulku{0};
bool titulky_nacteny = false;
int32_t tdiff = 0;
int32_t posl_snimek = 0;
int32_t sub_chyba = 0;
std::mutex sub_zamek;

std::unique_ptr<titulek[]> sub_nacti_titulky(const char* cesta) {
    if (cesta == nullptr) {
        sub_chyba = kChybaOtevreni;
        return nullptr;
    }
    soubor_ptr soubor(hw_fopen(cesta, "r"));
    if (!soubor) {
        sub_chyba = kChybaOtevreni;
        return nullptr;
    }
    char radek[kDelkaRadku];
    if (std::fgets(radek, kDelkaRadku, soubor.get()) == nullptr) {
        sub_chyba = kChybaCteni;
        return nullptr;
    }
    int pocet = 0;
    int posun = 0;
    int n = std::sscanf(radek, "[KTF2: %d %d ]", &pocet, &posun);
    if (n != 2) n = std::sscanf(radek, "\xEF\xBB\xBF[KTF2: %d %d ]", &pocet, &posun);
    if (n != 2) {
        sub_chyba = kChybaFormatu;
        return nullptr;
    }
    // The offset is kept as scanned even when the header is refused below.
    tdiff = posun;
    if (pocet <= 0 || posun < 0) {
        sub_chyba = kChybaFormatu;
        return nullptr;
    }
    tdiff = static_cast<int32_t>(static_cast<uint32_t>(posun) * kMsNaSnimek);

    // Every line that reads successfully takes at least kNejkratsiRadek bytes, so a
    // header announcing more lines than the rest of the file can hold must fail before
    // they are all read. The array is sized for what the file can hold, so that a
    // bogus count costs no memory; the reading below fails exactly where it would have.
    int64_t kapacita = pocet;
    int64_t zbyva = zbyva_bajtu(soubor.get());
    if (zbyva >= 0) kapacita = std::min<int64_t>(kapacita, zbyva / kNejkratsiRadek + 1);

    std::unique_ptr<titulek[]> pole(new (std::nothrow) titulek[static_cast<size_t>(kapacita)]);
    if (!pole) {
        sub_chyba = kChybaPameti;
        return nullptr;
    }
    for (int32_t i = 0; i < pocet; ++i) {
        if (i >= kapacita) {
            // Only a file that grew while it was read gets here.
            sub_chyba = kChybaFormatu;
            sub_uvolni(pole, i);
            return nullptr;
        }
        pole[i] = titulek{};
        int r = cti_radek(soubor.get(), &pole[i]);
        if (r == 0) {
            sub_chyba = kChybaFormatu;
            sub_uvolni(pole, i);
            return nullptr;
        }
        if (r == -1) {
            sub_uvolni(pole, i);
            return nullptr;
        }
    }
    pocet_titulku = pocet;
    return pole;
}

int cti_radek(FILE* soubor, titulek* zaznam) {
    char radek[kDelkaRadku];
    if (std::fgets(radek, kDelkaRadku, soubor) == nullptr) return 0;

    // Frame numbers and flags are scanned into 64-bit values and wrapped to their
    // 32-bit fields, the same on the box (32-bit long) and on a PC (64-bit long):
    // a long would saturate on the box where the fields are meant to wrap. The
    // text buffer holds any text a line can carry.
    long long od = 0;
    long long do_ = 0;
    long long flags = 0;
    char text[kDelkaRadku];
    int n = std::sscanf(radek, "{%lld}{%lld}{%lld}%999[^\r\n]", &od, &do_, &flags, text);
    // A scan that got as far as the flags leaves them in the record.
    if (n >= 3) zaznam->flags = na_32_bitu(flags);
    if (n < 4) {
        n = std::sscanf(radek, "{%lld}{%lld}%999[^\r\n]", &od, &do_, text);
        if (n < 3) {
            sub_chyba = kChybaFormatu;
            return -1;
        }
    }
    zaznam->cas_od = static_cast<uint32_t>(na_32_bitu(od)) * kMsNaSnimek;
    zaznam->cas_do = static_cast<uint32_t>(na_32_bitu(do_)) * kMsNaSnimek;
    if (zaznam->cas_od >= zaznam->cas_do) zaznam->cas_do = zaznam->cas_od + kVychoziDelka;
    posl_snimek = static_cast<int32_t>(zaznam->cas_do);

    if (!rozdel_text(text, zaznam)) {
        // A line text that cannot be allocated fails the load as out of memory.
        sub_chyba = kChybaPameti;
        return -1;
    }
    return 1;
}

void sub_uvolni(std::unique_ptr<titulek[]>& pole, int32_t pocet) {
    if (!pole) return;
    if (pole.get() == titulky.load()) {
        // Nobody may repaint from, or play, records that are about to go. The caller
        // holds sub_zamek, so the subtitle thread is not inside them now.
        {
            std::lock_guard kresleni(kresleni_mutex);
            akt_titulek = nullptr;
        }
        titulky = nullptr;
    }
    for (int32_t i = 0; i < pocet; ++i) {
        int32_t radku = std::min<int32_t>(pole[i].pocet_radku, 4);
        for (int32_t j = 0; j < radku; ++j) pole[i].radky[j].reset();
    }
    // Texts of records beyond pocet (a record read only in part) go with the array.
    pole.reset();
    pocet_titulku = 0;
}

int sub_nacti_novy(const char* jmeno) {
    size_t delka = jmeno != nullptr ? std::strlen(jmeno) : 0;
    std::unique_ptr<char[]> cesta;
    if (jmeno != nullptr) {
        cesta.reset(new (std::nothrow) char[delka + 24]);
        if (!cesta) return kChybaPameti;
        std::snprintf(cesta.get(), delka + 24, "%s%s", kAdresar, jmeno);
    }
    // The subtitles in force are released only once the new file has loaded, so a
    // choice that fails leaves them playing with the clock where it stood.
    bool nacteno;
    {
        std::lock_guard zamek(sub_zamek);
        const installed_file in_force{pocet_titulku, tdiff, posl_snimek};
        std::unique_ptr<titulek[]> nove = sub_nacti_titulky(cesta.get());
        nacteno = nove != nullptr;
        if (nacteno) {
            const int32_t pocet = pocet_titulku;
            sub_uvolni(titulky_pamet, in_force.count);
            titulky_pamet = std::move(nove);
            titulky = titulky_pamet.get();
            pocet_titulku = pocet;
            titulky_nacteny = true;
            // The clock still stands where the old file was; put it at the start
            // before the thread can look at the new records.
            tmr_reset_pod_zamkem();
        } else {
            // The failed load wrote the count, offset and last end of a file that is
            // not installed; the installed one's go back before the lock is let go.
            pocet_titulku = in_force.count;
            tdiff = in_force.offset;
            posl_snimek = in_force.last_end;
        }
    }
    if (!nacteno) return sub_chyba;
    tmr_nastav_tit(-1);
    return 0;
}

void sub_nacti_pri_startu() {
    std::lock_guard zamek(sub_zamek);
    if (titulky_pamet) sub_uvolni(titulky_pamet, pocet_titulku);
    titulky_pamet = nacti_pri_startu(kOdkaz);
    if (!titulky_pamet) titulky_pamet = nacti_pri_startu(kZvlastni);
    titulky = titulky_pamet.get();
    if (titulky_pamet) titulky_nacteny = true;
}

namespace {

// Wraps a scanned value modulo 2^32.
int32_t na_32_bitu(long long v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(v)));
}

bool je_oddelovac(char c) {
    return c == '|' || c == '\r' || c == '\n';
}

// Splits the text at "|" into at most four lines; runs of separators make no empty
// lines, except that a leading "|" gives an empty first line. False when a line
// text cannot be allocated.
bool rozdel_text(const char* text, titulek* zaznam) {
    const char* p = text;
    for (int i = 0;; ++i) {
        const char* q = p;
        while (*q != '\0' && !je_oddelovac(*q)) ++q;
        size_t delka = static_cast<size_t>(q - p);
        std::unique_ptr<char[]> radek(new (std::nothrow) char[delka + 1]);
        if (!radek) {
            zaznam->pocet_radku = i;
            return false;
        }
        std::memcpy(radek.get(), p, delka);
        radek[delka] = '\0';
        zaznam->radky[i] = std::move(radek);
        while (*q != '\0' && je_oddelovac(*q)) ++q;
        if (*q == '\0' || i == 3) {
            zaznam->pocet_radku = i + 1;
            return true;
        }
        p = q;
    }
}

// Bytes from the current position to the end of the file, or -1 when unknown.
int64_t zbyva_bajtu(FILE* f) {
    long ted = std::ftell(f);
    if (ted < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    long konec = std::ftell(f);
    if (std::fseek(f, ted, SEEK_SET) != 0) return -1;
    return konec >= ted ? konec - ted : -1;
}

// Loads a start-up candidate only when it is larger than kMinVelikost bytes (stat
// follows a link, so the size is the linked file's).
std::unique_ptr<titulek[]> nacti_pri_startu(const char* cesta) {
    struct stat st {};
    if (hw_stat(cesta, &st) != 0 || st.st_size <= kMinVelikost) return nullptr;
    return sub_nacti_titulky(cesta);
}

}  // namespace

// The subtitle file loader fed whole files: the header, brace groups, numbers of
// any size, long lines, NUL bytes and separators. A loaded array is then searched
// and rescaled as the player would, and released.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "fuzz/fuzz_support.h"
#include "menu/menus.h"
#include "sub/subtitles.h"

namespace {

constexpr const char* kFile = "/var/tuxbox/Tresk/tit/fuzz.tkx";

void check_records(const titulek* pole, int32_t pocet) {
    for (int32_t i = 0; i < pocet; ++i) {
        const titulek& t = pole[i];
        FUZZ_CHECK(t.pocet_radku >= 1 && t.pocet_radku <= 4);
        FUZZ_CHECK(t.cas_od != t.cas_do);
        for (int j = 0; j < 4; ++j) {
            FUZZ_CHECK((j < t.pocet_radku) == (t.radky[j] != nullptr));
            if (t.radky[j] == nullptr) continue;
            // Separators never reach a screen line.
            FUZZ_CHECK(std::strpbrk(t.radky[j].get(), "|\r\n") == nullptr);
            FUZZ_CHECK(std::strlen(t.radky[j].get()) < 1000);
        }
    }
}

// Searches and rescales the array as the clock and the FPS menu do; records may be
// in any order and overlap, and neither may step outside the array.
void exercise(const titulek* pole, int32_t pocet) {
    const uint32_t probes[] = {0u,
                               pole[0].cas_od,
                               pole[0].cas_do,
                               pole[pocet - 1].cas_do + 1u,
                               pole[pocet / 2].cas_od,
                               UINT32_MAX};
    for (uint32_t cas : probes) {
        for (int32_t hint : {-1, 0, pocet / 2, pocet - 1, pocet}) {
            int32_t r = sub_najdi_titulek(cas, hint);
            FUZZ_CHECK(r >= 0 && r <= pocet);
        }
    }
    for (float koef : fps_koef) sub_prepocti(koef);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsup::make_root(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsup::write_file(kFile, data, size);
    sub_chyba = 0;
    pocet_titulku = 0;
    std::unique_ptr<titulek[]> pole = sub_nacti_titulky(kFile);
    if (!pole) {
        FUZZ_CHECK(sub_chyba == 9 || sub_chyba == 10 || sub_chyba == 3);
        FUZZ_CHECK(pocet_titulku == 0);
        return 0;
    }
    const int32_t pocet = pocet_titulku;
    FUZZ_CHECK(pocet >= 1);
    check_records(pole.get(), pocet);

    {
        std::lock_guard zamek(sub_zamek);
        titulky_pamet = std::move(pole);
        titulky = titulky_pamet.get();
    }
    exercise(titulky, pocet);
    std::lock_guard zamek(sub_zamek);
    sub_uvolni(titulky_pamet, pocet_titulku);
    FUZZ_CHECK(titulky == nullptr && pocet_titulku == 0);
    return 0;
}

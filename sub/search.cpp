// Finding the subtitle that belongs to a film time.
#include <cstdint>

#include "sub/subtitles.h"

namespace {

bool obsahuje(const titulek& t, uint32_t cas) {
    return t.cas_od <= cas && cas <= t.cas_do;
}

}  // namespace

int32_t sub_najdi_titulek(uint32_t cas, int32_t hint) {
    const titulek* pole = titulky;
    int32_t pocet = pocet_titulku;
    if (pole == nullptr || pocet <= 0) return 0;
    // The clock usually asks for the subtitle right after the one it knows.
    if (hint >= 0 && hint < pocet - 1 && obsahuje(pole[hint + 1], cas)) return hint + 1;
    int64_t lo = 0;
    int64_t hi = pocet - 1;
    while (lo <= hi) {
        int64_t mid = (lo + hi + 1) / 2;
        if (cas < pole[mid].cas_od) {
            hi = mid - 1;
        } else if (pole[mid].cas_do < cas) {
            lo = mid + 1;
        } else {
            return static_cast<int32_t>(mid);
        }
    }
    // The first record that starts after cas; the count when cas is past the last.
    return static_cast<int32_t>(lo);
}

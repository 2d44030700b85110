// The settings file: read once before the display is built, written at most once
// at shut-down, and then only when a value differs from what was read.
#include "app/settings.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>

#include "fb/painter.h"
#include "fb/primitives.h"
#include "fb/screen.h"
#include "hw/device.h"

// What the record holds before any file is read. Its transparency byte (0) differs
// from the level in force without a file (1), so a first run writes the file.
nastaveni ul_konf{1, 0, 0, 0, 0, 0, 0};

namespace {

constexpr const char* kSoubor = "/var/tuxbox/Tresk/tresk.conf";
constexpr const char* kDocasny = "/var/tuxbox/Tresk/tresk.conf.new";
constexpr const char* kAdresar = "/var/tuxbox/Tresk";

// Makes the rename itself durable: a box is often switched off at the wall.
void synchronizuj_adresar() {
    int fd = hw_open(kAdresar, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    hw_fsync(fd);
    hw_close(fd);
}

}  // namespace

void nastaveni_nacti() {
    FILE* f = hw_fopen(kSoubor, "rb");
    if (f == nullptr) return;
    // A short file changes nothing, not even the record: the resume position then stays 0.
    nastaveni precteno;
    size_t n = std::fread(&precteno, sizeof precteno, 1, f);
    std::fclose(f);
    if (n != 1) return;
    ul_konf = precteno;

    auto bajt = [](int8_t b) { return static_cast<int>(static_cast<uint8_t>(b)); };
    zoom = bajt(ul_konf.zoom) <= 7 ? bajt(ul_konf.zoom) : 1;
    transp = bajt(ul_konf.transp) <= 2 ? bajt(ul_konf.transp) : 1;
    paleta_idx = static_cast<int8_t>(bajt(ul_konf.paleta_idx) & 1);
    paleta = palety[static_cast<size_t>(paleta_idx.load())].data();
    barva_tit = bajt(ul_konf.barva_tit) <= 3 ? bajt(ul_konf.barva_tit) : 0;
    posun_dole = ul_konf.posun_dole;
    posun_nahore = ul_konf.posun_nahore;
}

nastaveni nastaveni_aktualni(int32_t poz) {
    return {static_cast<int8_t>(zoom.load()),
            static_cast<int8_t>(transp.load()),
            paleta_idx.load(),
            static_cast<int8_t>(barva_tit.load()),
            poz,
            posun_dole.load(),
            posun_nahore.load()};
}

void nastaveni_uloz(int32_t poz) {
    const nastaveni nove = nastaveni_aktualni(poz);
    if (nove == ul_konf) return;

    // The new record goes to a file of its own, reaches the disk, and only then
    // replaces the old one: at every moment the file is the old or the new record.
    FILE* f = hw_fopen(kDocasny, "wb");
    if (f == nullptr) return;
    bool ok = std::fwrite(&nove, sizeof nove, 1, f) == 1;
    ok = std::fflush(f) == 0 && ok;
    ok = hw_fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || hw_rename(kDocasny, kSoubor) != 0) {
        hw_unlink(kDocasny);
        return;
    }
    synchronizuj_adresar();
    ul_konf = nove;
}

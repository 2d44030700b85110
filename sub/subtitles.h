// The subtitle store: the record, the file loader, release and replacement,
// search by time, and the frame-rate rescale.
//
// The main thread loads, replaces, rescales and releases; the subtitle thread
// reads the records. Both sides hold sub_zamek while they touch the array, so
// the thread never reads a record that is being released or rewritten.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/relaxed.h"

// One subtitle.
struct titulek {
    int32_t pocet_radku;  // number of text lines, 1..4
    int32_t flags;        // bits 0-7 line colours, 0x100 top position, 0x200 end of part
    uint32_t cas_od;      // start, ms from the start of the film
    uint32_t cas_do;      // end, ms; always after cas_od
    std::unique_ptr<char[]> radky[4];  // line texts; only the first pocet_radku are set
};

// The loaded array (null = none), owned by titulky_pamet; the count of its records.
// Written by the main thread under sub_zamek, read by the thread under it.
extern relaxed<titulek*> titulky;
extern std::unique_ptr<titulek[]> titulky_pamet;
extern relaxed<int32_t> pocet_titulku;
// Whether any subtitles were ever loaded in this run (the settings save tests this). Main thread.
extern bool titulky_nacteny;
// Time offset of the loaded file in ms (header offset x 40). Main thread.
extern int32_t tdiff;
// End time in ms of the last subtitle line read. Main thread.
extern int32_t posl_snimek;
// Error number of the last failed load (3 also when a line text cannot be allocated). Main thread.
extern int32_t sub_chyba;
// Guards the array and its records between the loader/rescale and the subtitle thread.
extern std::mutex sub_zamek;

// Loads a file; returns the new array (pocet_titulku set) or null (sub_chyba set).
// It writes pocet_titulku: while the thread runs, call it only with sub_zamek held,
// as sub_nacti_novy does, which puts the count back when the load fails.
std::unique_ptr<titulek[]> sub_nacti_titulky(const char* cesta);
// Reads one subtitle line into a zeroed record: 0 at end of file, -1 malformed, else success.
int cti_radek(FILE* soubor, titulek* zaznam);
// Releases the texts of the first pocet records and the array; pocet_titulku = 0.
// Releasing the installed array also clears titulky and akt_titulek (hold sub_zamek).
void sub_uvolni(std::unique_ptr<titulek[]>& pole, int32_t pocet);
// Replaces the loaded subtitles by a file of the subtitle directory; 0 or an error
// number. The old subtitles go only once the new file has loaded: after a failure
// they, their offset and last end, and the clock are as they were.
int sub_nacti_novy(const char* jmeno);
// The start-up load: the file named by the link, else the special file.
void sub_nacti_pri_startu();
// Index for time cas; hint is tried first.
int32_t sub_najdi_titulek(uint32_t cas, int32_t hint);
// Multiplies every start and end time by koef in single precision. The factor is
// passed by reference so that callers need no floating-point register: on the box
// only this function pays for the software floating point.
void sub_prepocti(const float& koef);

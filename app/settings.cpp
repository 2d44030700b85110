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
stored_settings saved_settings{1, 0, 0, 0, 0, 0, 0};

namespace {

constexpr const char* kSettingsPath = "/var/tuxbox/Tresk/tresk.conf";
constexpr const char* kTemporaryPath = "/var/tuxbox/Tresk/tresk.conf.new";
constexpr const char* kSettingsDirectory = "/var/tuxbox/Tresk";

// Makes the rename itself durable: a box is often switched off at the wall.
void sync_directory() {
    int fd = hw_open(kSettingsDirectory, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    hw_fsync(fd);
    hw_close(fd);
}

}  // namespace

void app_read_settings() {
    FILE* f = hw_fopen(kSettingsPath, "rb");
    if (f == nullptr) return;
    // A short file changes nothing, not even the record: the resume position then stays 0.
    stored_settings on_disk;
    size_t n = std::fread(&on_disk, sizeof on_disk, 1, f);
    std::fclose(f);
    if (n != 1) return;
    saved_settings = on_disk;

    auto byte_value = [](int8_t b) { return static_cast<int>(static_cast<uint8_t>(b)); };
    zoom = byte_value(saved_settings.zoom) <= 7 ? byte_value(saved_settings.zoom) : 1;
    background_level = byte_value(saved_settings.background_level) <= 2
                           ? byte_value(saved_settings.background_level)
                           : 1;
    palette_index = static_cast<int8_t>(byte_value(saved_settings.palette_index) & 1);
    palette = palettes[static_cast<size_t>(palette_index.load())].data();
    colour_scheme = byte_value(saved_settings.colour_scheme) <= 3
                        ? byte_value(saved_settings.colour_scheme)
                        : 0;
    bottom_shift = saved_settings.bottom_shift;
    top_shift = saved_settings.top_shift;
}

stored_settings app_current_settings(int32_t position) {
    return {static_cast<int8_t>(zoom.load()),
            static_cast<int8_t>(background_level.load()),
            palette_index.load(),
            static_cast<int8_t>(colour_scheme.load()),
            position,
            bottom_shift.load(),
            top_shift.load()};
}

void app_save_settings(int32_t position) {
    const stored_settings replacement = app_current_settings(position);
    if (replacement == saved_settings) return;

    // The new record goes to a file of its own, reaches the disk, and only then
    // replaces the old one: at every moment the file is the old or the new record.
    FILE* f = hw_fopen(kTemporaryPath, "wb");
    if (f == nullptr) return;
    bool ok = std::fwrite(&replacement, sizeof replacement, 1, f) == 1;
    ok = std::fflush(f) == 0 && ok;
    ok = hw_fsync(fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (!ok || hw_rename(kTemporaryPath, kSettingsPath) != 0) {
        hw_unlink(kTemporaryPath);
        return;
    }
    sync_directory();
    saved_settings = replacement;
}

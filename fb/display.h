// The box's display around the player. The box software leaves the framebuffer
// driver in a mode of its own, may show a page other than the first, and may have
// switched the driver to manual blit, where nothing written appears until FBIO_BLIT.
// The player takes the display over at start-up and gives it back as it found it
// at every way out, SIGTERM and SIGINT included.
//
// Threads: the set-up and the give-back run on the main thread; the blit runs on
// whichever thread drew, under pixel_mutex; a signal may arrive on any thread.
#pragma once

#include <linux/fb.h>

#include <cstddef>
#include <cstdint>

// Remembers the driver's variable screen information as the player found it, and
// forgets what an earlier set-up learnt of the blit.
void fb_display_remember(const fb_var_screeninfo& found);
// The player's mode has been put on descriptor fd: from now on every way out puts the
// found mode back. Installs the SIGTERM and SIGINT handlers (a signal the program was
// started with ignored stays ignored).
void fb_display_taken_over(int fd);
// When the driver shows another page than the first, pans to yoffset 0, where the
// player draws, and updates var. A refused pan is reported and the player goes on.
void fb_display_show_first_page(int fd, fb_var_screeninfo& var);
// The mapping a signal clears before the mode goes back; null while there is none.
void fb_display_set_mapping(uint32_t* mem, size_t length);
// Asks the driver to show the memory (FBIO_BLIT). The caller has written its pixels
// and holds pixel_mutex. After a first request refused with ENOTTY or EINVAL (a driver
// without manual blit) it is never asked again.
void fb_display_blit(int fd);
// Puts the found mode and page back and the signal handlers as they were. The caller
// has cleared (and blitted) what the player drew. Does nothing unless taken over.
void fb_display_give_back(int fd);

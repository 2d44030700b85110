// The drop-in pass as the file menu shows it: the library converts the files dropped
// into the subtitle directory (library_convert_dropped_files), and the status line
// tells the viewer how far it has come and what went wrong. Main thread only.
#pragma once

#include "library/library.h"

// Runs the library's pass before the menu lists the directory. Shows a status-line
// text while it works and the progress of reading a recording (EXIT stops the
// reading), then names a file that could not be converted and why, else a file whose
// alignment to a recording went wrong, else one aligned ("(+N)": how many more);
// that text stays until the viewer starts the subtitles, like the start message.
// also, when given, hears the progress too (the web page follows its uploads); its
// true asks to stop as EXIT does. Returns what the pass had to tell.
library_pass menu_convert_dropped_files(const library_progress_fn& also = {});

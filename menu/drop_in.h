// Drop-in subtitle files: files of the subtitle directory in a format the converter
// reads (SubRip, MicroDVD, ASS/SSA, WebVTT, ...) are converted to ".tkx" files
// beside them before the file menu lists the directory, and deleting a converted
// file from the menu deletes its source too. Main thread only.
#pragma once

// Converts every file of the subtitle directory that looks convertible and has no
// ".tkx" of the same base name beside it, showing a status-line text while it works.
// A file that fails is left alone and not tried again until it changes. With nothing
// new it reads only the directory listing and stats each candidate.
void menu_convert_dropped_files();

// Removes the subtitle file at path (as menu_remove_path does) and, when it was written by
// the converter, the source named in its header: only a plain file name in the
// subtitle directory, never a path. Returns menu_remove_path's result for path.
int menu_delete_subtitle_file(const char* path);

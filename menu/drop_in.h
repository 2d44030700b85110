// Drop-in subtitle files: files of the subtitle directory in a format the converter
// reads (SubRip, MicroDVD, ASS/SSA, WebVTT, ...) are converted to ".tkx" files
// beside them before the file menu lists the directory, and deleting a listed file
// from the menu deletes its sources too. Main thread only.
#pragma once

// Converts the files of the subtitle directory that look convertible into the ".tkx"
// of their base name (conv::name_base): when there is none, or when the one there was
// converted from a source of that name that has changed since (its size or
// modification time) or is no longer the first in the order of formats
// (conv::source_rank). A ".tkx" written by hand is never replaced. Shows a
// status-line text while it works, and names a file that could not be converted and
// why when no other file of its base name made the ".tkx"; such a file is tried (and
// named) again only once it changes. With nothing new
// it reads only the directory listing and stats each candidate.
void menu_convert_dropped_files();

// Removes the subtitle file at path (as menu_remove_path does) and, when that worked and
// path is a ".tkx" of the subtitle directory, every file of the directory (or link to
// one: the link goes) with the same base name in a format the converter reads or with
// a subtitle file's extension, so that the entry comes back neither converted nor as a
// file that could not be converted. Returns menu_remove_path's result for path.
int menu_delete_subtitle_file(const char* path);

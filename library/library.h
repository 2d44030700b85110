// The subtitle library: the ".tkx" files of the subtitle directory that the viewer
// chooses from, the files dropped beside them in a format the converter reads (SubRip,
// MicroDVD, ASS/SSA, WebVTT, ...) that are converted into ".tkx" files (and aligned to
// a recording of the box), and deleting an entry together with its sources. The file
// menu and the box's web page both work through it, so that both do the same to the
// same files. It draws nothing and reads no key: a pass reports its progress through
// a callback and its outcome as data, and the caller decides what to show and when
// to stop. Main thread only: it keeps what earlier passes learnt in file-local state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a conversion pass is doing when it reports.
enum class library_step {
    converting,  // a dropped file is about to be converted (name: the file)
    reading,     // a recording is being read (name: its path; percent: how far, 0-99)
    aligning,    // the recording's subtitles were read; the cues are aligned to them
};
struct library_progress {
    library_step step;
    std::string_view name;
    int percent = 0;
};
// Called while a pass works. Its return asks the pass to stop, and is heeded only
// while a recording is read (reading: a read takes a minute or more of the disk): the
// file is then converted unaligned and no other recording is read in the pass.
using library_progress_fn = std::function<bool(const library_progress&)>;

// What became of aligning a converted file to a recording of its film.
enum class library_alignment {
    aligned,
    no_match,  // the cues fit none of the recordings
    unreadable_recording,
    stopped,  // the progress callback stopped the reading
};

// What one pass has to tell: the files that could not be converted, then the
// converted ones whose alignment went wrong, then one aligned; each kind by its first
// file and how many there were.
struct library_pass {
    bool tried = false;  // a file was read to be converted (progress was reported)
    int failures = 0;
    std::string first_failed, first_error;  // the file and the converter's error
    int misalignments = 0;
    std::string first_misaligned;
    library_alignment misalignment = library_alignment::no_match;  // what went wrong
    std::string first_aligned;
    // The progress callback stopped a read: no recording is read again in this pass.
    bool alignment_stopped = false;
};

// The names of the ".tkx" files, each with its ".tkx" cut off by a NUL in place of
// the dot (put the dot back for the file's name).
using library_names = std::vector<std::unique_ptr<char[]>>;

// Converts the files of the subtitle directory that look convertible into the ".tkx"
// of their base name (conv::name_base): when there is none, or when the one there was
// converted from a source of that name that has changed since (its size or
// modification time) or is no longer the first in the order of formats
// (conv::source_rank). A ".tkx" written by hand is never replaced. A file that could
// not be converted is reported (when no other file of its base name made the ".tkx")
// and tried (and reported) again only once it changes. With nothing new it reads only
// the directory listing and stats each candidate. Nothing to tell when the directory
// cannot be read: listing it says so.
library_pass library_convert_dropped_files(const library_progress_fn& progress);

// Adds a file the viewer hands over (the web page's upload) to the subtitle directory
// as name, written whole through a temporary file; the next pass converts it. False,
// with error in the converter's style (library_failure_text reads it), when name is
// no plain name of the directory or one the library keeps for itself (the link, its
// temporary files), is too long, the file is larger than a pass converts, a file of
// that name is there already and replace is false (a viewer's file is only replaced
// when the viewer agreed; a directory never), or it cannot be written.
bool library_add_file(std::string_view name, std::span<const uint8_t> bytes, std::string& error,
                      bool replace = false);
// Whether the ".tkx" of base is there and the viewer's: written by hand, made from a
// file of another name or with options chosen by hand, or changed since its
// conversion. A pass never replaces it, so a file of that base handed over would
// not be converted.
bool library_converted_file_is_viewers(std::string_view base);

// The converter's error as the viewer reads it ("geen ondertitels gevonden", "fout in
// regel 12", ...), and what became of an alignment ("uitgelijnd op opname", ...):
// the texts after a file's name that the menu and the web page show.
std::string library_failure_text(std::string_view error);
std::string_view library_alignment_text(library_alignment what);

// The ".tkx" files of the subtitle directory, sorted without regard to case; false
// when the directory cannot be opened, holds none, or memory runs out.
bool library_list(library_names& names);
// Whether the special file is there and large enough to be loaded.
bool library_special_loadable();
// The special file's name, loaded when the viewer asks for it rather than a listed one.
inline constexpr const char* kLibrarySpecialName = "tresk.tkx";
// Loads the subtitle file called name (a listed name with its ".tkx", or the special
// file) and points the link at it, so that the next start loads it too; 0, or the
// load's error number with the subtitles and the link unchanged.
int library_choose(const char* name);

// Removes a path (rmdir for a directory, else unlink); -1 when lstat fails.
int library_remove_path(const char* path);
// Removes the subtitle file at path (as library_remove_path does) and, when that
// worked and path is a ".tkx" of the subtitle directory, every file of the directory
// (or link to one: the link goes) with the same base name in a format the converter
// reads or with a subtitle file's extension, so that the entry comes back neither
// converted nor as a file that could not be converted. Returns library_remove_path's
// result for path.
int library_delete_subtitle_file(const char* path);
// The same for a listed name (without its ".tkx").
int library_delete_entry(std::string_view name);

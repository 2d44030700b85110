// Between the web server's threads and the player's main thread. The server never
// draws, never touches the clock or the subtitle library: it posts keys (a second
// remote) and commands, which the main thread carries out with the same code as the
// remote and the file menu, and it reads a snapshot of the state the main thread
// publishes. Every function here may be called from any thread unless it says
// "main thread".
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---- Keys: the page's remote.

// Queues a key press (a KEY_ code of linux/input.h) for the main thread, which reads
// it as it reads the remote's, in the main loop and in every menu. False when 16 keys
// wait already.
bool web_post_key(int code);
// Main thread (the remote's reader): the oldest queued key, or -1.
int web_take_key();
// Forgets queued keys (the player ends or starts).
void web_clear_keys();

// ---- Commands that change the library or what plays.

enum class web_command_kind {
    add,           // store bytes as name in the subtitle directory and convert it
    choose,        // load the listed file name (without ".tkx") as the file menu does
    remove,        // delete the listed file name with its sources as the file menu does
    second,        // make the listed file name the second language, as TEXT on its row does
                   // (on the second language's own file: turn it off)
    second_off,    // turn the second language off
    second_shift,  // move the second language's own shift by delta_ms
};
struct web_command {
    web_command_kind kind;
    std::string name;
    std::vector<uint8_t> bytes;  // add: the file
    bool replace = false;        // add: the viewer agreed to replace a file of that name
    int32_t delta_ms = 0;        // second_shift: the move
};
// What became of a command, with an HTTP status: 200/201 done; 404 no such file; 409
// the name is taken (add without replace: error "bestaat al"), or the TV shows a menu
// or box the command cannot wait for (error "de tv toont een menu"); 413 too large;
// 400 a name the library refuses; 500 it could not be done. error: a Dutch text the
// page shows as it is.
struct web_result {
    int status = 500;
    std::string error;
};
// Posts a command and waits until the main thread has carried it out. When the main
// thread does not take it within wait_ms (a menu or box is open on the TV), the
// command is withdrawn, nothing is done and the result is 409. An add's conversion
// (and alignment) is not waited for: it runs afterwards and shows in the state's jobs.
web_result web_run_command(web_command command, int wait_ms = 2000);

// Where the main thread is, for web_main_pass.
enum class web_place {
    at_rest,    // the main loop's pass: every command is carried out here
    file_menu,  // the file menu between two listings (see web_command_waiting)
    busy,       // a menu or box waits for a key: nothing is carried out, the snapshot
                // says busy
};
// Main thread: carries out the commands waiting and publishes a new snapshot (at most
// every 100 ms). Returns kWebListChanged when the library changed (the file menu
// lists it again), or'd with kWebFileChosen when the page chose a file (the file menu
// then closes as after a choice of its own). (Defined by the player,
// app/web_link.cpp, over the functions below.)
inline constexpr int kWebListChanged = 1;
inline constexpr int kWebFileChosen = 2;
int web_main_pass(web_place place);
// Main thread: a command waits (the file menu then closes its list to let it run).
bool web_command_waiting();

// The main thread's side of a command: takes the oldest waiting one (false: none), and
// hands back its result, which wakes the thread waiting in web_run_command.
bool web_take_command(web_command& command);
void web_finish_command(web_result result);

// ---- The state the page shows.

struct web_job {       // one uploaded file on its way into the library
    std::string name;  // the uploaded file's name
    std::string step;  // "wacht", "omzetten", "uitlijnen op opname", "klaar", "mislukt"
    int percent = 0;   // uitlijnen op opname: how far the recording was read
    std::string text;  // klaar/mislukt: the status line's text for it
};
struct web_state {
    uint64_t serial = 0;  // grows with every published snapshot
    bool loaded = false;  // subtitles are loaded
    std::string file;     // the file playing, without the directory and ".tkx"
    uint32_t clock_ms = 0;
    bool playing = false;   // the clock runs
    std::string subtitle;   // the text shown now, lines joined by '\n'; empty: none
    int32_t shift_ms = 0;   // the correction in force: shift, and rate as a text
    std::string rate;       // e.g. "1.0000", "25/23.976"
    bool question = false;  // the player asks a yes/no question (the rate offer): OK/EXIT
    std::string question_text;
    std::string status;           // the TV's status line text, empty when none
    bool busy = false;            // a menu or box is open on the TV
    std::string second;           // the second language's file, as file; empty: none
    int32_t second_shift_ms = 0;  // its own shift
    std::string second_subtitle;  // its text shown now, as subtitle
    std::vector<web_job> jobs;    // the last 8 uploads, newest last
    // The listed files as the file menu shows them (without ".tkx"), sorted; refreshed
    // after every change and every few seconds.
    std::vector<std::string> files;
};
web_state web_snapshot();
// Main thread: the yes/no question the TV asks now (empty: none), which the snapshots
// published while it stands carry.
void web_set_question(std::string_view text);
std::string web_question();
// Main thread: publishes a new snapshot (its serial is set here).
void web_publish(web_state state);
// Any thread: how many snapshots have been published (0: none; the player does not
// publish while no server runs).
uint64_t web_published_serial();
// Whether a server runs, so that the main thread publishes snapshots; set by the server.
void web_set_serving(bool serving);
bool web_serving();
// Grows every time a server starts serving: the main thread's side starts afresh then.
uint32_t web_serving_generation();

// ---- Pairing, shown on the TV.

// Asks the main thread to show the pairing code on the status line for 2 minutes
// ("Koppelcode voor de telefoon: NNNNNN"); an empty code takes it away.
void web_show_pairing_code(std::string_view code);
// Main thread: the code asked for since the last call (true, code set; empty: take it
// away), or false when nothing was asked.
bool web_take_pairing_code(std::string& code);
// Set by the server: called on the main thread when the viewer presses the TV's key
// that forgets every paired browser.
using web_forget_fn = void (*)();
void web_set_forget_paired(web_forget_fn forget);
// Main thread: the key that forgets every paired browser was pressed.
void web_forget_paired();

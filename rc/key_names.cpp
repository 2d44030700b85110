// The remote's keys by name: the simulator's key scripts and the web page's remote
// name them the same way.
#include <array>

#include "rc/remote.h"

namespace {

struct named_key {
    std::string_view name;
    uint16_t code;
};

constexpr std::array<named_key, 29> kKeys{{
    {"OK", KEY_OK},
    {"EXIT", KEY_EXIT},
    {"UP", KEY_UP},
    {"DOWN", KEY_DOWN},
    {"LEFT", KEY_LEFT},
    {"RIGHT", KEY_RIGHT},
    {"RED", KEY_RED},
    {"GREEN", KEY_GREEN},
    {"YELLOW", KEY_YELLOW},
    {"BLUE", KEY_BLUE},
    {"HELP", KEY_HELP},
    {"MENU", KEY_MENU},
    {"TV", KEY_TV},
    {"VIDEO", KEY_VIDEO},
    {"VOLUMEUP", KEY_VOLUMEUP},
    {"VOLUMEDOWN", KEY_VOLUMEDOWN},
    {"CHANNELUP", KEY_CHANNELUP},
    {"CHANNELDOWN", KEY_CHANNELDOWN},
    {"TEXT", KEY_TEXT},
    {"0", KEY_0},
    {"1", KEY_1},
    {"2", KEY_2},
    {"3", KEY_3},
    {"4", KEY_4},
    {"5", KEY_5},
    {"6", KEY_6},
    {"7", KEY_7},
    {"8", KEY_8},
    {"9", KEY_9},
}};

}  // namespace

bool rc_same_word(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

int rc_key_from_name(std::string_view name) {
    if (name.size() > 4 && rc_same_word(name.substr(0, 4), "KEY_")) name.remove_prefix(4);
    for (const named_key& k : kKeys) {
        if (rc_same_word(k.name, name)) return k.code;
    }
    return -1;
}

std::string_view rc_key_name(int code) {
    for (const named_key& k : kKeys) {
        if (k.code == code) return k.name;
    }
    return {};
}

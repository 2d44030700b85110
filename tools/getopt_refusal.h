// Why getopt_long refused an argument, in a form each program words in its own
// usage message. Used by lumetra-convert and lumetra-sim.
#pragma once

#include <getopt.h>

#include <string>
#include <string_view>

namespace tools {

struct getopt_refusal {
    enum kind_t { kUnknown, kAmbiguous, kNeedsValue, kTakesNoValue };
    kind_t kind = kUnknown;
    std::string option;  // as typed ("-x", "--bogus") or, when known, "--name" in full
};

// The long option that name (without "--") stands for, whole or as the start of only
// one; nullptr when none or several (ambiguous set then). options ends with a
// nullptr name, as getopt_long's table does.
inline const option* long_option_named(std::string_view name, const option* options,
                                       bool& ambiguous) {
    const option* found = nullptr;
    ambiguous = false;
    for (const option* o = options; o->name != nullptr; ++o) {
        if (!std::string_view(o->name).starts_with(name)) continue;
        if (o->name == name) return o;
        ambiguous = found != nullptr;
        found = o;
    }
    return ambiguous ? nullptr : found;
}

// code is what getopt_long returned ('?', or ':' for a missing value when the short
// options start with ':'); read right after that call, while optind and optopt say
// what it refused.
inline getopt_refusal refused_by_getopt(int code, char* const* argv, const option* options) {
    const std::string_view typed = optind > 0 ? argv[optind - 1] : "";
    const std::string_view name = typed.substr(0, typed.find('='));
    bool ambiguous = false;
    const option* named =
        typed.starts_with("--") ? long_option_named(name.substr(2), options, ambiguous) : nullptr;
    // optopt is 0 for a long option getopt_long does not know, the option's value for
    // one given wrongly, and the letter for a short option (whose argument may be a
    // cluster that has not moved optind on yet).
    const bool long_form =
        typed.starts_with("--") && (optopt == 0 || (named != nullptr && named->val == optopt));
    if (!long_form) {
        const std::string shown = std::string("-") + static_cast<char>(optopt);
        return {code == ':' ? getopt_refusal::kNeedsValue : getopt_refusal::kUnknown, shown};
    }
    if (named == nullptr) {
        return {ambiguous ? getopt_refusal::kAmbiguous : getopt_refusal::kUnknown,
                std::string(name)};
    }
    return {code == ':' ? getopt_refusal::kNeedsValue : getopt_refusal::kTakesNoValue,
            "--" + std::string(named->name)};
}

}  // namespace tools

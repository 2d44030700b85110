# Writes the web page as a C++ source of a byte array (no string literal: some compilers
# cap those near 64 kB): cmake -DINPUT=page.html -DOUTPUT=web_page.cpp -P embed_page.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line (CMake's expressions have no counted repeat).
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
math(EXPR size "${digits} / 2")
file(WRITE "${OUTPUT}.tmp"
"// Generated from web/page.html by cmake/embed_page.cmake; edit the page, not this.
#include \"web/page.h\"

namespace {
constexpr unsigned char kPage[${size}] = {
    ${bytes}
};
}  // namespace

std::string_view web_page_html() {
    return {reinterpret_cast<const char*>(kPage), sizeof kPage};
}
")
# Unchanged output keeps its time stamp: nothing recompiles.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

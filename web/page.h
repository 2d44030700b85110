// The web page the box serves to phones and PCs (web/page.html), built into the binary:
// boxes are often offline, so the page carries everything it needs.
#pragma once

#include <string_view>

// The page's bytes (UTF-8 HTML with its style and script inline).
std::string_view web_page_html();

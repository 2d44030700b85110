// The phone page as the binary carries it: the page file byte for byte, the texts the
// viewer reads, and nothing that needs the internet (boxes are often offline).
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "web/page.h"

namespace {

std::string page_file() {
    std::ifstream in(std::string(LUMETRA_SOURCE_DIR) + "/web/page.html", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(WebPage, EmbeddedBytesAreThePageFile) {
    const std::string file = page_file();
    ASSERT_GT(file.size(), 1000u);
    const std::string_view embedded = web_page_html();
    ASSERT_EQ(embedded.size(), file.size());
    EXPECT_TRUE(embedded == file);
    EXPECT_TRUE(embedded.starts_with("<!DOCTYPE html>"));
    EXPECT_TRUE(embedded.ends_with("</html>\n"));
}

// Texts the viewer reads, as the player's other texts say them.
TEST(WebPage, ViewerTextsAreThere) {
    constexpr std::array<std::string_view, 15> kTexts{{
        "Vraag een code",
        ">Koppel<",
        "Sleep ondertitels hierheen",
        "te groot (max. 4 MB)",
        "' bestaat al'",
        "'. Vervangen?'",
        "'bestaat al'",
        "'Verwijder ' + name + ' met de bronbestanden?'",
        "Afstandsbediening",
        "geen verbinding",
        "Op de tv is een menu open.",
        "'uitlijnen op opname'",
        "'klaar', 'mislukt'",
        "lang=\"nl\"",
        "charset=\"utf-8\"",
    }};
    const std::string_view page = web_page_html();
    for (std::string_view text : kTexts) {
        EXPECT_NE(page.find(text), std::string_view::npos) << text;
    }
}

// Nothing is loaded from elsewhere: no addresses, imports, fonts or external scripts.
TEST(WebPage, LoadsNothingFromOutside) {
    constexpr std::array<std::string_view, 8> kForbidden{{
        "http://",
        "https://",
        "src=",
        "@import",
        "url(",
        "@font-face",
        "<link",
        "<iframe",
    }};
    const std::string_view page = web_page_html();
    for (std::string_view bad : kForbidden) {
        EXPECT_EQ(page.find(bad), std::string_view::npos) << bad;
    }
}

}  // namespace

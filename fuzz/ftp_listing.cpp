// Feeds arbitrary bytes to the web proxy's FTP listing page as a hostile FTP server would
// send them on the data connection, in pieces. Besides crashes it checks that nothing in the
// listing reaches the page as markup: every entry line has exactly the tags of its format,
// and no HREF holds a quote, a blank or a markup character.

#include "WebHeadChecks.h"
#include "proxies/web/FTPListing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

void CheckMarkup(std::string_view page) {
    // The listing's own tags on each line: A, IMG, B, /B, /A; anything else a name or an
    // information text brought would show up as more "<".
    std::size_t start = 0;
    while (start < page.size()) {
        std::size_t end = page.find("\r\n", start);
        if (end == std::string_view::npos)
            end = page.size();
        const std::string_view line = page.substr(start, end - start);
        if (line.starts_with("<A HREF=\"")) {
            Require(std::count(line.begin(), line.end(), '<') == 5);
            Require(std::count(line.begin(), line.end(), '>') == 5);
            const std::size_t hrefEnd = line.find('"', 9);
            Require(hrefEnd != std::string_view::npos);
            const std::string_view href = line.substr(9, hrefEnd - 9);
            Require(href.find_first_of(" <>'&\t\r\n") == std::string_view::npos);
        }
        start = end + 2;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 97;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    CFTPListing listing("/p a<t>h", "/nonexistent");
    std::string page = listing.Top(input.substr(0, std::min<std::size_t>(input.size(), 64)));
    for (std::size_t at = 0; at < input.size(); at += piece)
        page += listing.AddData(input.substr(at, piece));
    page += listing.Finish();
    CheckMarkup(page);
    return 0;
}

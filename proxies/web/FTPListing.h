#pragma once
// A directory of an FTP server as the HTML page a browser gets: the server's listing (the
// answer to LIST on the data connection) read line by line, and the page's markup.
//
// Reading a listing line (ParseListingLine):
//   - a line that begins with "total " (any case) is the block count, not an entry;
//   - an entry is a directory when the line holds "<dir>" (any case) or begins with "d"; a
//     line that begins with "l" (a link) is a directory too, and the line ends before the
//     blank that precedes its "->";
//   - the name is what follows the last blank, trailing white space removed; for the two
//     listing forms servers use, where names may hold blanks, it is what follows the fixed
//     fields: the Unix form ("drwxr-xr-x 2 user group 4096 Jan 01 12:00 name", eight fields)
//     and the DOS form ("01-15-20 10:30AM <DIR> name", three fields);
//   - the information is the text before the name, "<" and ">" replaced by '"';
//   - a line without a blank (or with an empty name) is no entry and is passed over.
//
// The session's ReadListing is: receive up to 8096 bytes from the data socket, then
// CFTPListing::AddData; on the data socket's close, CFTPListing::Finish. SendListingHeader is
// CFTPListing::Top.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "proxies/common/LineReader.h"

struct SListingEntry {
    std::string name;
    std::string info;
    bool isDirectory = false;
};

// One line of a listing without its line end; none when it is not an entry.
std::optional<SListingEntry> ParseListingLine(std::string_view line);

// The icon address for a listing entry, after the files below `folder` (the engine's folder)
// that can be read: a directory's, an extension's (the text after the last "." of the name,
// when it is 1 to 16 letters and digits, in lower case) or the default one; the browser's
// built-in icons when the file is not there.
std::string ChooseListingIcon(std::string_view name, bool isDirectory, const std::string& folder);

class CFTPListing {
public:
    // Longest listing line read; a longer line is passed over.
    static constexpr std::size_t kMaxLineLength = 4096;

    // `path` is the directory's path as the FTP commands name it (decoded); `folder` the
    // engine's folder, where the icons are.
    CFTPListing(std::string path, std::string folder);

    // The top of the page: title and heading with the directory, the banner (the server's
    // multi-line text, when there is one), and the link to the parent directory.
    std::string Top(std::string_view banner);
    // The markup of the entries that `bytes` (from the data connection) completes.
    std::string AddData(std::string_view bytes);
    // The data connection closed: a last line without a line end, then the foot of the page.
    std::string Finish();

    // One entry's line: a link (the directory path, the name, "/" for a directory; a name
    // that begins with "/" stands alone), its icon, the name padded to kListingNameWidth,
    // a tab and the information.
    std::string Entry(const SListingEntry& entry);

private:
    const std::string& Icon(const SListingEntry& entry);

    std::string m_path;  // ends in "/" once the top was made
    std::string m_folder;
    CLineReader m_lines{kMaxLineLength};
    std::map<std::string, std::string> m_icons;  // by extension, "" for none, "/" for directories
};

#pragma once
// Splits a byte stream (an FTP control or data connection) into lines, holding at most one
// line's worth of bytes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CLineReader {
public:
    struct SLine {
        std::string text;       // without its LF and a CR before it
        bool overLong = false;  // the line was longer than the cap; text holds its start
    };

    // Lines are kept up to `maxLine` bytes; the rest of a longer line is dropped.
    explicit CLineReader(std::size_t maxLine) : m_maxLine(maxLine) {}

    // The lines that `bytes` completes (with what earlier calls left), in order.
    std::vector<SLine> Append(std::string_view bytes);
    // What is left without a line end, as a last line; none when nothing is left.
    std::optional<SLine> Flush();
    // Bytes of an unfinished line held (at most the cap).
    std::size_t GetPending() const { return m_line.size(); }

private:
    void Keep(std::string_view part);
    SLine Finish();

    std::size_t m_maxLine;
    std::string m_line;
    bool m_overLong = false;
    bool m_heldCR = false;  // the last piece ended in a CR that may be a CR LF's
};

#include "platform/registry/RegFile.h"

#include <cstdint>

namespace {

// Root names: the long form first (the one written), then its short form.
struct RootNames {
    HKEY root;
    const char* longName;
    const char* shortName;
};
const RootNames kRoots[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
};

// Hex lists are wrapped before a line would pass this many characters.
constexpr std::size_t kWrapColumn = 76;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i]))
            return false;
    return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (IsSpace(text.front()) || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (IsSpace(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

void SkipSpaces(std::string_view& text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = Lower(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

const char kHex[] = "0123456789abcdef";

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// A REG_SZ that the quoted form carries exactly: printable ASCII and one terminating NUL.
bool IsPlainText(std::string_view data) {
    if (data.empty() || data.back() != '\0')
        return false;
    data.remove_suffix(1);
    for (unsigned char c : data)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

// Reads a quoted text at the start of `rest` (which begins with '"'), leaving `rest` after
// the closing quote.
bool ParseQuoted(std::string_view& rest, std::string& out, std::string& why) {
    out.clear();
    rest.remove_prefix(1);
    while (!rest.empty()) {
        char c = rest.front();
        rest.remove_prefix(1);
        if (c == '"')
            return true;
        if (c == '\\') {
            if (rest.empty() || (rest.front() != '\\' && rest.front() != '"')) {
                why = "only \\\\ and \\\" may be escaped in quoted text";
                return false;
            }
            c = rest.front();
            rest.remove_prefix(1);
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            why = "a control character in quoted text (write such a string as hex(1))";
            return false;
        }
        out += c;
    }
    why = "quoted text without its closing quote";
    return false;
}

// Reads "xx,xx,..." (spaces allowed around the commas) up to the end of `text`.
bool ParseHexList(std::string_view text, std::string& out, std::string& why) {
    out.clear();
    SkipSpaces(text);
    while (!text.empty()) {
        int high = text.size() >= 2 ? HexDigit(text[0]) : -1;
        int low = text.size() >= 2 ? HexDigit(text[1]) : -1;
        if (high < 0 || low < 0) {
            why = "a hex list must be two-digit bytes separated by commas";
            return false;
        }
        if (out.size() >= REG_MAX_VALUE_SIZE) {
            why = "the value is larger than the store keeps";
            return false;
        }
        out += static_cast<char>(high * 16 + low);
        text.remove_prefix(2);
        SkipSpaces(text);
        if (text.empty())
            break;
        if (text.front() != ',') {
            why = "a hex list must be two-digit bytes separated by commas";
            return false;
        }
        text.remove_prefix(1);
        SkipSpaces(text);
        if (text.empty()) {
            why = "a hex list ends in a comma";
            return false;
        }
    }
    return true;
}

// The parser's state over the lines of one text.
class Parser {
public:
    Parser(std::string_view text, RegFileContent& content) : m_text(text), m_content(content) {}

    bool Run(std::string& error) {
        std::string why;
        bool sawSignature = false;
        std::string_view line;
        while (NextLine(line)) {
            line = Trim(line);
            if (line.empty() || (sawSignature && line.front() == ';'))
                continue;
            bool ok;
            if (!sawSignature) {
                ok = line == kRegFileSignature;
                if (!ok)
                    why = "the text does not begin with " + std::string(kRegFileSignature);
                sawSignature = true;
            } else if (line.front() == '[') {
                ok = Header(line, why);
            } else {
                ok = Value(line, why);
            }
            if (!ok) {
                error = "line " + std::to_string(m_lineNumber) + ": " + why;
                return false;
            }
        }
        if (!sawSignature) {
            error = "the text is empty (it must begin with " + std::string(kRegFileSignature) + ")";
            return false;
        }
        return true;
    }

private:
    bool NextLine(std::string_view& line) {
        if (m_pos >= m_text.size())
            return false;
        std::size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_pos, end - m_pos);
        m_pos = end + 1;
        ++m_lineNumber;
        return true;
    }

    bool Header(std::string_view line, std::string& why) {
        if (line.back() != ']') {
            why = "a key line must end in ']'";
            return false;
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        bool remove = !inner.empty() && inner.front() == '-';
        if (remove)
            inner.remove_prefix(1);
        HKEY root = nullptr;
        std::string path;
        if (!SplitRootedPath(inner, root, path)) {
            why = "not a key path (HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\...)";
            return false;
        }
        if (m_content.root && m_content.root != root) {
            why = "keys of both hives in one text (import one hive at a time)";
            return false;
        }
        if (!RegIsValidKeyPath(path)) {
            why = "a key name is empty, longer than 255 bytes or holds a control character";
            return false;
        }
        m_content.root = root;
        RegEdit edit;
        edit.path = path;
        if (remove) {
            if (path.empty()) {
                why = "a hive's root cannot be deleted";
                return false;
            }
            edit.kind = RegEdit::Kind::DeleteTree;
            m_keyOpen = false;
        } else {
            edit.kind = RegEdit::Kind::CreateKey;
            m_keyOpen = true;
            m_keyPath = path;
        }
        m_content.edits.push_back(std::move(edit));
        return true;
    }

    bool Value(std::string_view line, std::string& why) {
        if (!m_keyOpen) {
            why = "a value line outside a key";
            return false;
        }
        RegEdit edit;
        edit.path = m_keyPath;
        std::string_view rest = line;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else if (rest.front() == '"') {
            if (!ParseQuoted(rest, edit.name, why))
                return false;
            if (!RegIsValidValueName(edit.name)) {
                why = "a value name longer than 16383 bytes";
                return false;
            }
        } else {
            why = "a line must be a key in brackets, or a value name in quotes or @";
            return false;
        }
        SkipSpaces(rest);
        if (rest.empty() || rest.front() != '=') {
            why = "'=' must follow the value name";
            return false;
        }
        rest.remove_prefix(1);
        SkipSpaces(rest);
        if (!Data(rest, edit, why))
            return false;
        m_content.edits.push_back(std::move(edit));
        return true;
    }

    bool Data(std::string_view rest, RegEdit& edit, std::string& why) {
        edit.kind = RegEdit::Kind::SetValue;
        if (rest == "-") {
            edit.kind = RegEdit::Kind::DeleteValue;
            return true;
        }
        if (!rest.empty() && rest.front() == '"') {
            if (!ParseQuoted(rest, edit.data, why))
                return false;
            if (!Trim(rest).empty()) {
                why = "text after the closing quote";
                return false;
            }
            edit.type = REG_SZ;
            edit.data += '\0';
            return true;
        }
        if (StartsWithNoCase(rest, "dword:")) {
            rest.remove_prefix(6);
            if (rest.empty() || rest.size() > 8) {
                why = "a dword is 1 to 8 hex digits";
                return false;
            }
            std::uint32_t value = 0;
            for (char c : rest) {
                int digit = HexDigit(c);
                if (digit < 0) {
                    why = "a dword is 1 to 8 hex digits";
                    return false;
                }
                value = value * 16 + static_cast<std::uint32_t>(digit);
            }
            edit.type = REG_DWORD;
            for (int i = 0; i < 4; ++i)
                edit.data += static_cast<char>((value >> (8 * i)) & 0xFF);
            return true;
        }
        if (StartsWithNoCase(rest, "hex"))
            return HexData(rest.substr(3), edit, why);
        why = "a value must be quoted text, dword:, hex:, hex(N): or -";
        return false;
    }

    bool HexData(std::string_view rest, RegEdit& edit, std::string& why) {
        edit.type = REG_BINARY;
        if (!rest.empty() && rest.front() == '(') {
            std::size_t close = rest.find(')');
            std::string_view kind = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
            if (kind.size() != 1 || HexDigit(kind.front()) < 1 || HexDigit(kind.front()) > 4) {
                why = "only hex(1) to hex(4) are kinds this store keeps";
                return false;
            }
            edit.type = static_cast<DWORD>(HexDigit(kind.front()));
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':') {
            why = "':' must follow hex or hex(N)";
            return false;
        }
        rest.remove_prefix(1);
        // The list may go on over lines ending in '\'.
        std::string list(rest);
        std::string_view next;
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (!NextLine(next)) {
                why = "the text ends inside a continued hex list";
                return false;
            }
            if (list.size() > 4 * std::size_t{REG_MAX_VALUE_SIZE}) {
                why = "the value is larger than the store keeps";
                return false;
            }
            list += Trim(next);
        }
        if (!ParseHexList(list, edit.data, why))
            return false;
        if (edit.type == REG_DWORD && edit.data.size() != 4) {
            why = "hex(4) must be 4 bytes";
            return false;
        }
        return true;
    }

    std::string_view m_text;
    RegFileContent& m_content;
    std::size_t m_pos = 0;
    std::size_t m_lineNumber = 0;
    bool m_keyOpen = false;
    std::string m_keyPath;
};

}  // namespace

bool SplitRootedPath(std::string_view text, HKEY& root, std::string& path) {
    for (const RootNames& names : kRoots) {
        for (std::string_view name : {names.longName, names.shortName}) {
            if (!StartsWithNoCase(text, name))
                continue;
            std::string_view rest = text.substr(name.size());
            if (!rest.empty() && rest.front() != '\\')
                continue;
            if (rest == "\\")
                return false;  // a separator with no name after it
            root = names.root;
            path.assign(rest.empty() ? rest : rest.substr(1));
            return true;
        }
    }
    return false;
}

std::string RootedPath(HKEY root, std::string_view path) {
    std::string text = root == HKEY_CURRENT_USER ? kRoots[1].longName : kRoots[0].longName;
    if (!path.empty()) {
        text += '\\';
        text += path;
    }
    return text;
}

std::string FormatRegValue(const RegTreeValue& value) {
    std::string line = value.name.empty() ? "@" : Quote(value.name);
    line += '=';
    if (value.type == REG_SZ && IsPlainText(value.data)) {
        line += Quote(std::string_view(value.data).substr(0, value.data.size() - 1));
        return line;
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        line += "dword:";
        for (int i = 3; i >= 0; --i) {
            unsigned char byte = static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
            line += kHex[byte >> 4];
            line += kHex[byte & 15];
        }
        return line;
    }
    if (value.type == REG_BINARY) {
        line += "hex:";
    } else {
        line += "hex(";
        std::string kind;
        for (DWORD type = value.type; type != 0 || kind.empty(); type >>= 4)
            kind.insert(kind.begin(), kHex[type & 15]);
        line += kind + "):";
    }
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(value.data[i]);
        line += kHex[byte >> 4];
        line += kHex[byte & 15];
        if (i + 1 == value.data.size())
            break;
        line += ',';
        if (line.size() - lineStart > kWrapColumn) {
            line += "\\\n  ";
            lineStart = line.size() - 2;
        }
    }
    return line;
}

std::string FormatRegFile(HKEY root, std::string_view path, const std::vector<RegTreeKey>& keys) {
    std::string text = std::string(kRegFileSignature) + "\n";
    for (const RegTreeKey& key : keys) {
        std::string full(path);
        if (!key.path.empty())
            full += (full.empty() ? "" : "\\") + key.path;
        text += "\n[" + RootedPath(root, full) + "]\n";
        for (const RegTreeValue& value : key.values)
            text += FormatRegValue(value) + "\n";
    }
    return text;
}

bool ParseRegFile(std::string_view text, RegFileContent& content, std::string& error) {
    content = RegFileContent();
    Parser parser(text, content);
    if (parser.Run(error))
        return true;
    content = RegFileContent();
    return false;
}

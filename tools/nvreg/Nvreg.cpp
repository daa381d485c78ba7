#include "tools/nvreg/Nvreg.h"

#include "platform/registry/RegFile.h"
#include "platform/registry/Registry.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

namespace {

const char kUsage[] =
    "usage: nvreg [--user] COMMAND ...\n"
    "  list KEY                     sub-keys, then values with their kind and data\n"
    "  get KEY NAME                 the data of one value\n"
    "  set KEY NAME dword N         N in decimal or 0x hex\n"
    "  set KEY NAME string TEXT     stored with one terminating NUL\n"
    "  set KEY NAME binary HEX      pairs of hex digits (commas allowed)\n"
    "  delete KEY [NAME]            a value, or a key with its whole tree\n"
    "  export [KEY]                 REGEDIT4 text of KEY and everything below it\n"
    "                               (without KEY, the whole hive)\n"
    "  import FILE                  apply REGEDIT4 text (- reads standard input);\n"
    "                               all of it or, on any fault, nothing\n"
    "KEY is HKEY_LOCAL_MACHINE\\path or HKLM\\path (HKEY_CURRENT_USER or HKCU for the user\n"
    "hive); a path without a root names a key of the machine hive, or of the user hive with\n"
    "--user. NAME \"\" is a key's default value. The machine hive is\n"
    "$NORVANE_STATE_DIR/machine.db, the user hive $XDG_CONFIG_HOME/norvane/user.db.\n";

// An import file larger than this is refused before it is read whole.
constexpr std::size_t kMaxImportBytes = 64u * 1024 * 1024;

class Command {
public:
    Command(std::FILE* out, std::FILE* err, HKEY defaultRoot) : m_out(out), m_err(err), m_defaultRoot(defaultRoot) {}

    int List(const std::string& keyText);
    int Get(const std::string& keyText, const std::string& name);
    int Set(const std::string& keyText, const std::string& name, const std::string& kind, const std::string& data);
    int Delete(const std::string& keyText, const std::string* name);
    int Export(const std::string* keyText);
    int Import(const std::string& file);

private:
    // A KEY argument: its hive and the path below the hive's root.
    struct Key {
        HKEY root;
        std::string path;
        std::string Text() const { return RootedPath(root, path); }
    };
    Key Parse(const std::string& text) const {
        Key key{m_defaultRoot, text};
        SplitRootedPath(text, key.root, key.path);
        return key;
    }

    int Fail(const std::string& what, const std::string& why) {
        std::fprintf(m_err, "nvreg: %s: %s\n", what.c_str(), why.c_str());
        return kNvregFailed;
    }
    int Fail(const std::string& what, LONG error) {
        if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
            return Fail(what, "no such key");
        return Fail(what, RegErrorText(error));
    }
    void Write(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), m_out); }

    int OpenForReading(const Key& key, CRegKey& handle) {
        LONG error = RegOpenKeyEx(key.root, key.path.c_str(), KEY_READ, handle.Receive());
        return error == ERROR_SUCCESS ? kNvregOk : Fail(key.Text(), error);
    }

    std::FILE* m_out;
    std::FILE* m_err;
    HKEY m_defaultRoot;
};

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "123" or "0x7b", at most 0xFFFFFFFF.
bool ParseDword(const std::string& text, DWORD& value) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    if (digits.empty())
        return false;
    std::uint64_t number = 0;
    for (char c : digits) {
        int digit = hex ? HexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (digit < 0)
            return false;
        number = number * (hex ? 16 : 10) + static_cast<unsigned>(digit);
        if (number > 0xFFFFFFFFull)
            return false;
    }
    value = static_cast<DWORD>(number);
    return true;
}

// Pairs of hex digits; commas and spaces between pairs are ignored.
bool ParseBinary(const std::string& text, std::string& bytes) {
    int high = -1;
    for (char c : text) {
        if (c == ',' || c == ' ') {
            if (high >= 0)
                return false;
            continue;
        }
        int digit = HexValue(c);
        if (digit < 0)
            return false;
        if (high < 0) {
            high = digit;
        } else {
            bytes += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    return high < 0;
}

int Command::List(const std::string& keyText) {
    Key key = Parse(keyText);
    CRegKey handle;
    if (int rc = OpenForReading(key, handle))
        return rc;
    std::vector<std::string> names;
    LONG error = RegEnumKeyNames(handle.Get(), &names);
    if (error != ERROR_SUCCESS)
        return Fail(key.Text(), error);
    RegTreeValue value;
    std::string listing;
    for (const std::string& name : names)
        listing += name + "\\\n";
    for (DWORD i = 0; (error = RegEnumValue(handle.Get(), i, &value.name, &value.type, &value.data)) == ERROR_SUCCESS; ++i)
        listing += FormatRegValue(value) + "\n";
    if (error != ERROR_NO_MORE_ITEMS)
        return Fail(key.Text(), error);
    Write(listing);
    return kNvregOk;
}

int Command::Get(const std::string& keyText, const std::string& name) {
    Key key = Parse(keyText);
    CRegKey handle;
    if (int rc = OpenForReading(key, handle))
        return rc;
    DWORD type = 0;
    std::string data;
    LONG error = RegQueryValueEx(handle.Get(), name.c_str(), &type, &data);
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return Fail(key.Text(), "no value named \"" + name + "\"");
    if (error != ERROR_SUCCESS)
        return Fail(key.Text(), error);
    if (type == REG_DWORD && data.size() == 4) {
        DWORD number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(data[static_cast<std::size_t>(i)]);
        Write(std::to_string(number) + "\n");
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        if (!data.empty() && data.back() == '\0')
            data.pop_back();
        Write(data + "\n");
    } else {
        Write(Hex(data) + "\n");
    }
    return kNvregOk;
}

int Command::Set(const std::string& keyText, const std::string& name, const std::string& kind, const std::string& text) {
    Key key = Parse(keyText);
    DWORD type = 0;
    std::string data;
    DWORD number = 0;
    if (kind == "dword" && ParseDword(text, number)) {
        type = REG_DWORD;
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>((number >> (8 * i)) & 0xFF);
    } else if (kind == "string") {
        type = REG_SZ;
        data = text + '\0';
    } else if (kind == "binary" && ParseBinary(text, data)) {
        type = REG_BINARY;
    } else if (kind == "dword" || kind == "binary") {
        return Fail(text, kind == "dword" ? "not a number from 0 to 4294967295 (or 0x0 to 0xffffffff)"
                                          : "not pairs of hex digits");
    } else {
        std::fprintf(m_err, "nvreg: the kind must be dword, string or binary\n%s", kUsage);
        return kNvregUsage;
    }
    CRegKey handle;
    LONG error = RegCreateKeyEx(key.root, key.path.c_str(), KEY_ALL_ACCESS, handle.Receive());
    if (error == ERROR_SUCCESS)
        error = RegSetValueEx(handle.Get(), name.c_str(), type, data);
    return error == ERROR_SUCCESS ? kNvregOk : Fail(key.Text(), error);
}

int Command::Delete(const std::string& keyText, const std::string* name) {
    Key key = Parse(keyText);
    if (!name) {
        if (key.path.empty())
            return Fail(key.Text(), "the root of a hive cannot be deleted");
        LONG error = RegDeleteTree(key.root, key.path.c_str());
        return error == ERROR_SUCCESS ? kNvregOk : Fail(key.Text(), error);
    }
    CRegKey handle;
    LONG error = RegOpenKeyEx(key.root, key.path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, handle.Receive());
    if (error != ERROR_SUCCESS)
        return Fail(key.Text(), error);
    error = RegDeleteValue(handle.Get(), name->c_str());
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return Fail(key.Text(), "no value named \"" + *name + "\"");
    return error == ERROR_SUCCESS ? kNvregOk : Fail(key.Text(), error);
}

int Command::Export(const std::string* keyText) {
    Key key = keyText ? Parse(*keyText) : Key{m_defaultRoot, ""};
    std::vector<RegTreeKey> tree;
    LONG error = RegReadTree(key.root, key.path.c_str(), &tree);
    if (error != ERROR_SUCCESS)
        return Fail(key.Text(), error);
    Write(FormatRegFile(key.root, key.path, tree));
    return kNvregOk;
}

int Command::Import(const std::string& file) {
    std::FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
    if (!in)
        return Fail(file, std::strerror(errno));
    std::string text;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0 && text.size() <= kMaxImportBytes)
        text.append(buffer, got);
    bool readError = std::ferror(in) != 0;
    if (in != stdin)
        std::fclose(in);
    if (readError)
        return Fail(file, "read error");
    if (text.size() > kMaxImportBytes)
        return Fail(file, "larger than " + std::to_string(kMaxImportBytes >> 20) + " MiB");
    RegFileContent content;
    std::string error;
    if (!ParseRegFile(text, content, error))
        return Fail(file, error);
    if (!content.root)
        return kNvregOk;  // no keys: nothing to change
    LONG result = RegApplyEdits(content.root, content.edits);
    return result == ERROR_SUCCESS ? kNvregOk : Fail(file, RegErrorText(result));
}

}  // namespace

int RunNvreg(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::size_t at = 0;
    HKEY root = HKEY_LOCAL_MACHINE;
    for (; at < args.size() && args[at].size() > 1 && args[at][0] == '-'; ++at) {
        if (args[at] == "--user") {
            root = HKEY_CURRENT_USER;
        } else if (args[at] == "--help" || args[at] == "-h") {
            std::fputs(kUsage, out);
            return kNvregOk;
        } else if (args[at] == "--") {
            ++at;
            break;
        } else {
            std::fprintf(err, "nvreg: unknown option %s\n%s", args[at].c_str(), kUsage);
            return kNvregUsage;
        }
    }
    std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(at), args.end());
    Command command(out, err, root);
    // Each command with the argument counts it takes.
    struct Form {
        std::size_t least, most;
        std::function<int(const std::vector<std::string>&)> run;
    };
    const std::map<std::string, Form> forms = {
        {"list", {1, 1, [&](auto& a) { return command.List(a[0]); }}},
        {"get", {2, 2, [&](auto& a) { return command.Get(a[0], a[1]); }}},
        {"set", {4, 4, [&](auto& a) { return command.Set(a[0], a[1], a[2], a[3]); }}},
        {"delete", {1, 2, [&](auto& a) { return command.Delete(a[0], a.size() > 1 ? &a[1] : nullptr); }}},
        {"export", {0, 1, [&](auto& a) { return command.Export(a.empty() ? nullptr : &a[0]); }}},
        {"import", {1, 1, [&](auto& a) { return command.Import(a[0]); }}},
    };
    auto form = rest.empty() ? forms.end() : forms.find(rest[0]);
    if (form == forms.end() || rest.size() - 1 < form->second.least || rest.size() - 1 > form->second.most) {
        std::fputs(kUsage, err);
        return kNvregUsage;
    }
    int rc = form->second.run(std::vector<std::string>(rest.begin() + 1, rest.end()));
    if (std::fflush(out) != 0 && rc == kNvregOk) {
        std::fprintf(err, "nvreg: writing the output failed\n");
        return kNvregFailed;
    }
    return rc;
}

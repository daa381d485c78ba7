// REGEDIT4 text as nvreg imports it: any bytes must parse or be refused with a message, and
// every value that parses must come back unchanged through export and import.
#include "platform/registry/RegFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    RegFileContent content;
    std::string error;
    if (!ParseRegFile(text, content, error)) {
        if (error.empty() || !content.edits.empty())
            std::abort();
        return 0;
    }
    for (const RegEdit& edit : content.edits) {
        if (!RegIsValidKeyPath(edit.path))
            std::abort();
        if (edit.kind != RegEdit::Kind::SetValue)
            continue;
        if (!RegIsValidValueName(edit.name) || edit.type < REG_SZ || edit.type > REG_DWORD ||
            (edit.type == REG_DWORD && edit.data.size() != 4))
            std::abort();
        RegTreeValue value{edit.name, edit.type, edit.data};
        std::string again = FormatRegFile(content.root, edit.path, {{"", {value}}});
        RegFileContent reread;
        if (!ParseRegFile(again, reread, error) || reread.edits.size() != 2)
            std::abort();
        const RegEdit& back = reread.edits[1];
        DWORD type = edit.type == 3 ? REG_BINARY : edit.type;
        if (back.name != edit.name || back.type != type || back.data != edit.data || back.path != edit.path)
            std::abort();
    }
    return 0;
}

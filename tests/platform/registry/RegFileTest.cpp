#include "platform/registry/RegFile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Kind = RegEdit::Kind;

void ExpectEdits(const std::vector<RegEdit>& actual, const std::vector<RegEdit>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].kind, expected[i].kind) << i;
        EXPECT_EQ(actual[i].path, expected[i].path) << i;
        EXPECT_EQ(actual[i].name, expected[i].name) << i;
        EXPECT_EQ(actual[i].type, expected[i].type) << i;
        EXPECT_EQ(actual[i].data, expected[i].data) << i;
    }
}

std::string ParseError(const std::string& text) {
    RegFileContent content;
    std::string error;
    EXPECT_FALSE(ParseRegFile(text, content, error)) << text;
    EXPECT_TRUE(content.edits.empty());
    return error;
}

TEST(RegFileTest, ExportWritesTheExactText) {
    std::vector<RegTreeKey> keys = {
        {"", {{"Name", REG_SZ, "Web \"proxy\" C:\\x\0"s}, {"", REG_SZ, "default\0"s}}},
        {"Services", {{"Port", REG_DWORD, "\x50\x00\x00\x00"s}, {"Mask", REG_DWORD, "\xef\xbe\xad\xde"s}}},
        {"Services\\Web",
         {{"Ratio", REG_BINARY, "\x00\x00\x00\x00\x00\x00\xf8\x3f"s},
          {"Secret", REG_SZ, "p\0w\xff\0"s},
          {"Empty", REG_SZ, "\0"s},
          {"NoNul", REG_SZ, "ab"s},
          {"Tab", REG_SZ, "a\tb\0"s},
          {"Path", REG_EXPAND_SZ, "%H\0"s},
          {"Nothing", REG_BINARY, ""}}},
    };
    EXPECT_EQ(FormatRegFile(HKEY_LOCAL_MACHINE, "SOFTWARE\\Urvo Software", keys),
              "REGEDIT4\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software]\n"
              "\"Name\"=\"Web \\\"proxy\\\" C:\\\\x\"\n"
              "@=\"default\"\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Services]\n"
              "\"Port\"=dword:00000050\n"
              "\"Mask\"=dword:deadbeef\n"
              "\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Urvo Software\\Services\\Web]\n"
              "\"Ratio\"=hex:00,00,00,00,00,00,f8,3f\n"
              "\"Secret\"=hex(1):70,00,77,ff,00\n"
              "\"Empty\"=\"\"\n"
              "\"NoNul\"=hex(1):61,62\n"
              "\"Tab\"=hex(1):61,09,62,00\n"
              "\"Path\"=hex(2):25,48,00\n"
              "\"Nothing\"=hex:\n");
    EXPECT_EQ(FormatRegFile(HKEY_CURRENT_USER, "", {{"", {}}}), "REGEDIT4\n\n[HKEY_CURRENT_USER]\n");
}

TEST(RegFileTest, LongHexListsAreWrapped) {
    std::string bytes;
    for (int i = 0; i < 40; ++i)
        bytes += static_cast<char>(i);
    EXPECT_EQ(FormatRegValue({"Blob", REG_BINARY, bytes}),
              "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
              "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27");
}

TEST(RegFileTest, ImportReadsEveryForm) {
    const std::string text =
        "REGEDIT4\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKLM\\SOFTWARE\\Urvo Software]\r\n"
        "\"Name\"=\"Web \\\"proxy\\\" C:\\\\x\"\r\n"
        "@=\"default\"\n"
        "\"Port\" = dword:50\n"
        "\"Mask\"=DWORD:DEADBEEF\n"
        "  \"Blob\"=hex:01, 02,\\\n"
        "      ff\n"
        "\"Secret\"=hex(1):70,00,77,ff,00\n"
        "\"Path\"=hex(2):25,48,00\n"
        "\"Bin\"=hex(3):\n"
        "\"Four\"=hex(4):01,00,00,00\n"
        "\"Old\"=-\n"
        "[-hkey_local_machine\\SOFTWARE\\Gone]\n"
        "[HKEY_LOCAL_MACHINE]\n";
    RegFileContent content;
    std::string error;
    ASSERT_TRUE(ParseRegFile(text, content, error)) << error;
    EXPECT_EQ(content.root, HKEY_LOCAL_MACHINE);
    const std::string key = "SOFTWARE\\Urvo Software";
    ExpectEdits(content.edits, {
                                   RegEdit{Kind::CreateKey, key},
                                   RegEdit{Kind::SetValue, key, "Name", REG_SZ, "Web \"proxy\" C:\\x\0"s},
                                   RegEdit{Kind::SetValue, key, "", REG_SZ, "default\0"s},
                                   RegEdit{Kind::SetValue, key, "Port", REG_DWORD, "\x50\0\0\0"s},
                                   RegEdit{Kind::SetValue, key, "Mask", REG_DWORD, "\xef\xbe\xad\xde"s},
                                   RegEdit{Kind::SetValue, key, "Blob", REG_BINARY, "\x01\x02\xff"s},
                                   RegEdit{Kind::SetValue, key, "Secret", REG_SZ, "p\0w\xff\0"s},
                                   RegEdit{Kind::SetValue, key, "Path", REG_EXPAND_SZ, "%H\0"s},
                                   RegEdit{Kind::SetValue, key, "Bin", REG_BINARY, ""},
                                   RegEdit{Kind::SetValue, key, "Four", REG_DWORD, "\x01\0\0\0"s},
                                   RegEdit{Kind::DeleteValue, key, "Old"},
                                   RegEdit{Kind::DeleteTree, "SOFTWARE\\Gone"},
                                   RegEdit{Kind::CreateKey, ""},
                               });
}

TEST(RegFileTest, ImportFaultsNameTheirLine) {
    EXPECT_EQ(ParseError(""), "the text is empty (it must begin with REGEDIT4)");
    EXPECT_EQ(ParseError("Windows Registry Editor Version 5.00\n"), "line 1: the text does not begin with REGEDIT4");
    const std::string head = "REGEDIT4\n\n[HKLM\\A]\n";  // the next line is line 4
    struct Case {
        std::string line, message;
    };
    const Case cases[] = {
        {"\"v\"=\"a\\nb\"", "only \\\\ and \\\" may be escaped in quoted text"},
        {"\"v\"=\"a\tb\"", "a control character in quoted text (write such a string as hex(1))"},
        {"\"v\"=\"open", "quoted text without its closing quote"},
        {"\"v\"=\"a\" x", "text after the closing quote"},
        {"\"v\" \"a\"", "'=' must follow the value name"},
        {"v=\"a\"", "a line must be a key in brackets, or a value name in quotes or @"},
        {"\"v\"=dword:123456789", "a dword is 1 to 8 hex digits"},
        {"\"v\"=dword:", "a dword is 1 to 8 hex digits"},
        {"\"v\"=dword:12g4", "a dword is 1 to 8 hex digits"},
        {"\"v\"=hex(7):00", "only hex(1) to hex(4) are kinds this store keeps"},
        {"\"v\"=hex(4):00,00", "hex(4) must be 4 bytes"},
        {"\"v\"=hex:1,2", "a hex list must be two-digit bytes separated by commas"},
        {"\"v\"=hex:01;02", "a hex list must be two-digit bytes separated by commas"},
        {"\"v\"=hex:01,", "a hex list ends in a comma"},
        {"\"v\"=hex 01", "':' must follow hex or hex(N)"},
        {"\"v\"=hex:01,\\", "the text ends inside a continued hex list"},
        {"\"v\"=42", "a value must be quoted text, dword:, hex:, hex(N): or -"},
        {"[HKLM\\A", "a key line must end in ']'"},
        {"[HKEY_CLASSES_ROOT\\A]", "not a key path (HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\...)"},
        {"[HKLM\\]", "not a key path (HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\...)"},
        {"[HKLMX\\A]", "not a key path (HKEY_LOCAL_MACHINE\\... or HKEY_CURRENT_USER\\...)"},
        {"[HKLM\\A\\\\B]", "a key name is empty, longer than 255 bytes or holds a control character"},
        {"[HKCU\\A]", "keys of both hives in one text (import one hive at a time)"},
        {"[-HKLM]", "a hive's root cannot be deleted"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseError(head + c.line + "\n"), "line 4: " + c.message) << c.line;
    EXPECT_EQ(ParseError("REGEDIT4\n\"v\"=\"x\"\n"), "line 2: a value line outside a key");
    EXPECT_EQ(ParseError("REGEDIT4\n[-HKLM\\A]\n\"v\"=\"x\"\n"), "line 3: a value line outside a key");
    EXPECT_EQ(ParseError(head + "\"" + std::string(16384, 'n') + "\"=\"x\"\n"),
              "line 4: a value name longer than 16383 bytes");
}

TEST(RegFileTest, EveryValueSurvivesExportAndImport) {
    std::mt19937 random(20240601);
    const DWORD kinds[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD};
    std::vector<RegTreeValue> values;
    for (int i = 0; i < 400; ++i) {
        RegTreeValue value;
        value.name = i % 50 == 0 ? "" : "v\"\\" + std::to_string(i) + "\xe9";
        value.type = kinds[random() % 4];
        std::size_t size = value.type == REG_DWORD ? 4 : random() % 200;
        for (std::size_t b = 0; b < size; ++b)
            value.data += static_cast<char>(i % 3 == 0 ? 0x20 + random() % 95 : random() % 256);
        if (i % 3 == 0 && value.type == REG_SZ)
            value.data += '\0';  // plain text, written in quotes
        values.push_back(value);
    }
    std::string text = FormatRegFile(HKEY_CURRENT_USER, "Console", {{"", values}});
    RegFileContent content;
    std::string error;
    ASSERT_TRUE(ParseRegFile(text, content, error)) << error;
    EXPECT_EQ(content.root, HKEY_CURRENT_USER);
    ASSERT_EQ(content.edits.size(), values.size() + 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const RegEdit& edit = content.edits[i + 1];
        EXPECT_EQ(edit.kind, Kind::SetValue);
        EXPECT_EQ(edit.path, "Console");
        EXPECT_EQ(edit.name, values[i].name);
        EXPECT_EQ(edit.type, values[i].type) << i;
        EXPECT_EQ(edit.data, values[i].data) << i;
    }
}

TEST(RegFileTest, RootedPaths) {
    HKEY root = nullptr;
    std::string path;
    ASSERT_TRUE(SplitRootedPath("hkcu\\Software\\X", root, path));
    EXPECT_EQ(root, HKEY_CURRENT_USER);
    EXPECT_EQ(path, "Software\\X");
    ASSERT_TRUE(SplitRootedPath("HKEY_LOCAL_MACHINE", root, path));
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(path, "");
    EXPECT_FALSE(SplitRootedPath("HKEY_LOCAL_MACHINEX", root, path));
    EXPECT_FALSE(SplitRootedPath("SOFTWARE\\X", root, path));
    EXPECT_EQ(RootedPath(HKEY_CURRENT_USER, "a\\b"), "HKEY_CURRENT_USER\\a\\b");
    EXPECT_EQ(RootedPath(HKEY_LOCAL_MACHINE, ""), "HKEY_LOCAL_MACHINE");
}

}  // namespace

#include "foundation/BufferedFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <climits>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <vector>

using namespace std::string_literals;

namespace {

class BufferedFileTest : public ::testing::Test {
protected:
    std::string PathOf(const std::string& name) const { return m_dir.Path() + "/" + name; }

    std::string Write(const std::string& name, const std::string& bytes) const {
        std::string path = PathOf(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::string Read(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Every line ReadLine gives for a file of these bytes.
    std::vector<std::string> LinesOf(const std::string& bytes) const {
        CBufferedFile file("%s", Write("lines.txt", bytes).c_str());
        file.Open(OPEN_EXISTING, GENERIC_READ);
        std::vector<std::string> lines;
        while (auto line = file.ReadLine())
            lines.push_back(*line);
        return lines;
    }

    TempDir m_dir;
};

using Lines = std::vector<std::string>;

TEST_F(BufferedFileTest, LineEndsPairUpAndTheLastLineIsKept) {
    EXPECT_EQ(LinesOf("a,b\r\nc\r\n"), (Lines{"a,b", "c"}));
    EXPECT_EQ(LinesOf("a,b\r\nc"), (Lines{"a,b", "c"}));
    EXPECT_EQ(LinesOf("a\n\nb\n"), (Lines{"a", "b"}));      // LF LF is one line end
    EXPECT_EQ(LinesOf("a\n\rb\r\rc"), (Lines{"a", "b", "c"}));  // LF CR and CR CR too
    EXPECT_EQ(LinesOf("a\r\n\r\nb"), (Lines{"a", "", "b"}));   // two pairs: an empty line
    EXPECT_EQ(LinesOf("ab\0cd\n"s), (Lines{"ab", "cd"}));      // NUL ends a line
    EXPECT_EQ(LinesOf("x\r"), (Lines{"x"}));                   // line end is the final byte
    EXPECT_EQ(LinesOf(""), Lines{});
}

TEST_F(BufferedFileTest, LinesAcrossTheReadBufferBoundary) {
    std::string first(CBufferedFile::BufferSize - 1, 'a');
    std::string second(100, 'b');
    // The CR is the buffer's last byte, its LF the next buffer's first.
    EXPECT_EQ(LinesOf(first + "\r\n" + second), (Lines{first, second}));
    std::string huge(3 * CBufferedFile::BufferSize + 7, 'h');
    EXPECT_EQ(LinesOf(huge + "\nend"), (Lines{huge, "end"}));
}

TEST_F(BufferedFileTest, FieldsWithQuotes) {
    CBufferedFile file("%s", Write("f.csv", "x,\"y,z\",w\r\n\r\nlast").c_str());
    file.Open(OPEN_EXISTING, GENERIC_READ);
    ASSERT_EQ(file.ReadLine(), "x,\"y,z\",w");
    EXPECT_EQ(file.NextField(','), "x");
    EXPECT_EQ(file.NextField(','), "y,z");
    EXPECT_EQ(file.NextField(','), "w");
    EXPECT_EQ(file.NextField(','), std::nullopt);
    EXPECT_EQ(file.GetLastField(), "w");

    // GetField ends its field at a separator even inside quotes.
    EXPECT_EQ(file.GetField(1, ','), "y");
    // NextField goes on after that separator, where the closing quote opens quoting again.
    EXPECT_EQ(file.NextField(','), "z,w");
    EXPECT_EQ(file.GetField(0, ','), "x");
    EXPECT_EQ(file.GetField(2, ','), "w");
    EXPECT_EQ(file.GetField(3, ','), std::nullopt);

    ASSERT_EQ(file.ReadLine(), "");
    EXPECT_EQ(file.NextField(','), std::nullopt);
    EXPECT_EQ(file.GetField(1, ','), std::nullopt);

    // ReadLine puts the field position back to the start of the new line.
    ASSERT_EQ(file.ReadLine(), "last");
    EXPECT_EQ(file.NextField(';'), "last");
}

TEST_F(BufferedFileTest, StringsAndNumbers) {
    std::string bytes = "abc\0  -42\0xyz\0" "99999999999\0-99999999999\0+7x"s;
    CBufferedFile file("%s", Write("s.bin", bytes).c_str());
    file.Open(OPEN_EXISTING, GENERIC_READ);
    std::string text;
    EXPECT_TRUE(file.ReadString(text, 100));
    EXPECT_EQ(text, "abc");
    int number = 0;
    EXPECT_EQ(file.ReadNumber(number, 100), -42);
    EXPECT_EQ(number, -42);
    char chars[3];
    EXPECT_TRUE(file.ReadString(chars, 2));  // stops after two, consumes nothing more
    EXPECT_STREQ(chars, "xy");
    EXPECT_TRUE(file.ReadString(text, 100));
    EXPECT_EQ(text, "z");
    EXPECT_EQ(file.ReadNumber(number, 100), INT_MAX);
    EXPECT_EQ(file.ReadNumber(number, 100), INT_MIN);
    EXPECT_EQ(file.ReadNumber(number, 100), 7);
    EXPECT_FALSE(file.ReadString(text, 100));
    EXPECT_EQ(text, "");
}

TEST_F(BufferedFileTest, SeekFromTheCurrentPositionUsesTheLogicalPosition) {
    CBufferedFile file("%s", Write("seek.txt", "line1\nline2\nline3\n").c_str());
    file.Open(OPEN_EXISTING, GENERIC_READ);
    ASSERT_EQ(file.ReadLine(), "line1");
    // The read-ahead fetched the whole file; the logical position is after the first line.
    EXPECT_EQ(file.Seek(FILE_CURRENT, 0), 6);
    EXPECT_EQ(file.Seek(FILE_CURRENT, -3), 3);
    EXPECT_EQ(file.ReadLine(), "e1");
    EXPECT_EQ(file.Seek(FILE_END, -6), 12);
    EXPECT_EQ(file.ReadLine(), "line3");
    EXPECT_TRUE(file.IsEOF());
    EXPECT_EQ(file.ReadLine(), std::nullopt);

    // A move before the start fails and leaves the position alone.
    EXPECT_EQ(file.Seek(FILE_BEGIN, 6), 6);
    EXPECT_EQ(file.Seek(FILE_CURRENT, -7), -1);
    EXPECT_EQ(file.Seek(7, 0), -1);  // no such move method
    EXPECT_EQ(file.GetPosition(), 6);
    EXPECT_EQ(file.ReadLine(), "line2");
    EXPECT_FALSE(file.IsEOF());

    // Past the end is allowed and reads nothing.
    EXPECT_EQ(file.Seek(FILE_END, 10), 28);
    EXPECT_EQ(file.ReadLine(), std::nullopt);
    file.Close();
    EXPECT_EQ(file.Seek(FILE_BEGIN, 0), -1);  // not open
}

TEST_F(BufferedFileTest, WritesThenReadsSeeTheNewBytes) {
    CBufferedFile file("%s", Write("rw.txt", "line1\nline2\nline3\n").c_str());
    file.Open(OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE);
    ASSERT_EQ(file.ReadLine(), "line1");  // the buffer now holds the old second line
    EXPECT_EQ(file.WriteString("LINE2"), 1);
    EXPECT_EQ(file.GetPosition(), 11);
    EXPECT_EQ(file.Seek(FILE_CURRENT, -5), 6);
    EXPECT_EQ(file.ReadLine(), "LINE2");
    // Without a seek in between, a read continues after the written bytes.
    EXPECT_EQ(file.WriteString("LINE3"), 1);
    EXPECT_EQ(file.ReadLine(), "");
    EXPECT_EQ(file.Seek(FILE_CURRENT, 0), 18);

    EXPECT_EQ(file.WriteFormatted("%s=%d\r\n", "n", 42), 1);
    EXPECT_EQ(file.WriteChar('!'), 1);
    EXPECT_EQ(file.WriteString(""), 0);
    EXPECT_EQ(file.GetSize(), 25);
    EXPECT_TRUE(file.IsEOF());
    file.Close();
    EXPECT_EQ(Read(file.GetName()), "line1\nLINE2\nLINE3\nn=42\r\n!");
    EXPECT_EQ(file.WriteString("closed"), 0);
}

TEST_F(BufferedFileTest, FailuresThrowByPointerOrReturnTheirCode) {
    CBufferedFile file("%s/%s", m_dir.Path().c_str(), "missing.txt");
    EXPECT_FALSE(file.Exists());
    EXPECT_EQ(file.GetSize(), -1);
    try {
        file.Close();
        FAIL() << "Close of a file that is not open must throw";
    } catch (CMFileException* e) {
        EXPECT_EQ(e->GetCode(), -3);
        EXPECT_EQ(e->GetText(), "Error closing file");
        e->Delete();
    }
    EXPECT_EQ(file.GetStatus(), -3);

    file.SetThrow(FALSE);
    EXPECT_EQ(file.Open(OPEN_EXISTING, GENERIC_READ), -1);
    EXPECT_EQ(file.GetStatus(), -1);
    EXPECT_EQ(file.Close(), -3);
    EXPECT_EQ(file.Delete(), -4);
    EXPECT_EQ(file.CopyTo("%s", PathOf("copy").c_str()), -5);
    EXPECT_EQ(file.Open(CREATE_NEW, GENERIC_WRITE), 1);
    EXPECT_EQ(file.GetStatus(), 1);
    EXPECT_EQ(file.Open(CREATE_NEW, GENERIC_WRITE), -1);  // now it exists
    EXPECT_FALSE(file.IsOpen());

    file.SetThrow(TRUE);
    try {
        file.Open(OPEN_EXISTING, GENERIC_READ, 0, FILE_ATTRIBUTE_NORMAL);
        file.Delete();
        file.Delete();
        FAIL() << "a second Delete must throw";
    } catch (CMFileException* e) {
        EXPECT_EQ(e->GetCode(), -4);
        EXPECT_EQ(e->GetText(), "Error deleting file");
        e->Delete();
    }
}

TEST_F(BufferedFileTest, ExceptionTexts) {
    const std::pair<int, const char*> table[] = {
        {0, "A file error occured"},  {-1, "Error creating file"}, {-2, "Error opening file"},
        {-3, "Error closing file"},   {-4, "Error deleting file"}, {-5, "Error copying file"},
        {-6, "Error adding file"},    {-7, "Undocumented file error occured"},
        {1, "Undocumented file error occured"}};
    for (const auto& [code, text] : table) {
        CMFileException e(code);
        EXPECT_EQ(e.GetCode(), code);
        EXPECT_EQ(e.GetText(), text);
    }
    CMFileException plain;
    EXPECT_EQ(plain.GetCode(), 1);
    EXPECT_EQ(plain.GetText(), "");

    // A library exception: a catch of the root catches it, and run-time checks know it.
    try {
        throw new CMFileException(-2);
    } catch (CException* e) {
        EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CMFileException)));
        EXPECT_EQ(e->GetErrorMessage(), "Error opening file");
        e->Delete();
    }
    EXPECT_EQ(RUNTIME_CLASS(CMFileException)->GetSchema(), 0xFFFF);
    EXPECT_EQ(CRuntimeClass::FromName("CMFileException"), nullptr);
}

TEST_F(BufferedFileTest, CopyRefusesToOverwrite) {
    CBufferedFile file("%s", Write("src.txt", "payload").c_str());
    EXPECT_EQ(file.CopyTo("%s/%s", m_dir.Path().c_str(), "dst.txt"), 1);
    EXPECT_EQ(Read(PathOf("dst.txt")), "payload");
    Write("dst.txt", "keep");
    file.SetThrow(FALSE);
    EXPECT_EQ(file.CopyTo("%s", PathOf("dst.txt").c_str()), -5);
    EXPECT_EQ(Read(PathOf("dst.txt")), "keep");
}

TEST_F(BufferedFileTest, AppendFileCopiesUpToTheFirstNul) {
    std::string source = Write("part.txt", std::string("tail\0ignored", 12));
    CBufferedFile file("%s", Write("whole.txt", "head:").c_str());
    file.Open(OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE);
    file.Seek(FILE_END, 0);
    EXPECT_EQ(file.AppendFile("%s", source.c_str()), 1);
    EXPECT_EQ(file.GetPosition(), 9);
    file.Seek(FILE_BEGIN, 0);
    EXPECT_EQ(file.ReadLine(), "head:tail");

    // The source is opened read-only: a file this object cannot write still appends.
    std::string readOnly = Write("ro.txt", "ro");
    chmod(readOnly.c_str(), 0444);
    EXPECT_EQ(file.AppendFile("%s", readOnly.c_str()), 1);
    file.Close();
    EXPECT_EQ(Read(file.GetName()), "head:tailro");
}

TEST_F(BufferedFileTest, AppendFileFailuresAreReportedAsAddError) {
    std::string source = Write("part.txt", "data");
    CBufferedFile file("%s", Write("whole.txt", "").c_str());
    file.SetThrow(FALSE);
    EXPECT_EQ(file.AppendFile("%s", source.c_str()), -6);  // this file is not open
    file.Open(OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    EXPECT_EQ(file.AppendFile("%s", PathOf("none.txt").c_str()), -6);
    EXPECT_EQ(file.GetStatus(), -6);

    // The source is opened unshared, so a file someone holds open is refused.
    CBufferedFile holder("%s", source.c_str());
    holder.Open(OPEN_EXISTING, GENERIC_READ, FILE_SHARE_READ);
    file.SetThrow(TRUE);
    try {
        file.AppendFile("%s", source.c_str());
        FAIL() << "a source held by another opener must be refused";
    } catch (CMFileException* e) {
        EXPECT_EQ(e->GetCode(), -6);
        EXPECT_EQ(e->GetText(), "Error adding file");
        e->Delete();
    }
    holder.Close();
    EXPECT_EQ(file.AppendFile("%s", source.c_str()), 1);

    // Appending a file to itself copies what was there once and ends.
    file.Close();
    file.Open(OPEN_EXISTING, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    file.Seek(FILE_END, 0);
    file.SetThrow(FALSE);
    EXPECT_EQ(file.AppendFile("%s", file.GetName().c_str()), -6);  // shared here, unshared there
    file.Close();
    EXPECT_EQ(Read(file.GetName()), "data");
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count;
}

TEST_F(BufferedFileTest, DestructorClosesAnOpenFile) {
    std::string path = Write("d.txt", "x");
    std::size_t before = OpenDescriptors();
    {
        CBufferedFile file("%s", path.c_str());
        file.Open(OPEN_EXISTING, GENERIC_READ);
        EXPECT_EQ(OpenDescriptors(), before + 1);
        // A second Open of the same object does not leak the first descriptor.
        file.Open(OPEN_EXISTING, GENERIC_READ);
        EXPECT_EQ(OpenDescriptors(), before + 1);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    // The unshared open succeeds again now that the earlier holder is gone.
    CBufferedFile again("%s", path.c_str());
    EXPECT_EQ(again.Open(OPEN_EXISTING, GENERIC_READ), 1);
}

TEST_F(BufferedFileTest, CreationDispositions) {
    CBufferedFile file("%s", Write("c.txt", "old").c_str());
    file.Open(CREATE_ALWAYS, GENERIC_WRITE);
    file.Close();
    EXPECT_EQ(Read(file.GetName()), "");
    Write("c.txt", "old");
    file.Open(OPEN_ALWAYS, GENERIC_READ);
    EXPECT_EQ(file.ReadLine(), "old");
    file.Close();
    file.Open(TRUNCATE_EXISTING, GENERIC_WRITE);
    EXPECT_EQ(file.GetSize(), 0);
    file.Close();
    file.SetThrow(FALSE);
    EXPECT_EQ(file.Open(TRUNCATE_EXISTING, GENERIC_READ), -1);  // needs write access
    file.SetName("%s", PathOf("new.txt").c_str());
    EXPECT_EQ(file.Open(OPEN_ALWAYS, GENERIC_WRITE), 1);
    EXPECT_TRUE(file.Exists());
    file.SetName("%s", m_dir.Path().c_str());
    EXPECT_EQ(file.Open(OPEN_EXISTING, GENERIC_READ), -1);  // a folder is no file
}

}  // namespace

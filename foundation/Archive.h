#pragma once
// The archive stream: every persistent object writes and reads its fields through it, in the
// byte format of foundation/ArchiveFormat.h.
//
// An archive works in one direction over a byte store (CFile, or CMemFile for memory) that
// must outlive it. It keeps its bytes in a block of its own and moves whole blocks to and from
// the store. Storing: Close() (or Flush()) hands the buffered bytes to the store; an archive
// destroyed without Close flushes too, unless it is being destroyed by an exception. Loading:
// Close() moves the store's position back to the first byte not consumed.
//
// A class's Serialize branches on IsStoring() and writes or reads the same fields in the same
// order:
//
//     void CHostPort::Serialize(CArchive& ar) {
//         if (ar.IsStoring())
//             ar << m_host << m_port;          // std::string, DWORD
//         else
//             ar >> m_host >> m_port;
//     }
//
// Integers go by their exact width: BYTE/char 1, WORD/short 2, DWORD/int/LONG/BOOL 4. The
// platform's 8-byte `long`, `size_t` and `bool` have no stream form and do not compile; cast
// to the field's stream type. Strings are byte strings (NUL and bytes above 0x7F travel as
// they are).
//
// Objects. WriteObject(p) writes a reference: null, a back-reference to an object already
// written, or the class record and the object's fields (through its Serialize). Reading:
//   - ReadObject(expected) creates new objects, and returns back-references to objects read
//     before. The caller owns what the read created, and must be able to tell (a plain field
//     holding one object it deletes, or a non-owning pointer into the graph).
//   - ReadOwnedObject<T>() is the read for everything that owns what it reads (containers
//     of configuration objects, lists of messages): the result is null only when allowed,
//     otherwise a NEW object of class T (run-time record and C++ type both checked before
//     its fields are read), returned as a unique_ptr. A back-reference is refused, so one
//     object can never land in two owners, or twice in one.
// Receivers name the class they expect: a read that admits any class may return a plain
// lockable container filled from the stream, whose elements nobody owns; free such a result
// with DeleteLoaded (foundation/Containers.h), which frees the contents as well.
// When an object's Serialize fails, the object is deleted before the exception leaves the
// read, and every object entered while it was being read is withdrawn: a later
// back-reference to any of them fails with bad index instead of reaching freed memory.
//
// Untrusted streams (consoles' messages) cannot make the archive allocate what they claim:
// string lengths and element counts beyond the bytes left in the store fail as end of file
// before anything is allocated, references nest at most kMaxNestingDepth deep, and only
// classes in the class registry can be created.
//
// Failures throw (by pointer) CArchiveException (causes in foundation/ArchiveException.h),
// CNotSupportedException (a class of schema 0xFFFF) or CFileException (the store); or
// std::bad_alloc. An archive is used by one thread at a time.

#include "foundation/ArchiveException.h"
#include "foundation/ArchiveFormat.h"
#include "foundation/Currency.h"
#include "foundation/DateTime.h"
#include "platform/framework/File.h"
#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CArchive {
public:
    enum Mode { store = 0, load = 1 };

    // `file` must stay valid until the archive is closed or destroyed. A buffer size below
    // 128 is raised to 128; it has no influence on the bytes of the stream.
    CArchive(CFile* file, Mode mode, std::size_t bufferSize = ArchiveFormat::kDefaultBufferSize);
    ~CArchive();
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;

    bool IsStoring() const { return m_mode == store; }
    bool IsLoading() const { return m_mode == load; }
    CFile* GetFile() const { return m_file; }

    // Storing: writes the buffered bytes to the store and flushes it. Loading: nothing.
    void Flush();
    // Ends the archive (see the top of this file); later use throws CArchiveException.
    void Close();
    // Ends the archive without touching the store (buffered bytes of a store are dropped).
    void Abort();

    // --- primitive values -------------------------------------------------------------
    CArchive& operator<<(BYTE value);
    CArchive& operator<<(char value) { return *this << static_cast<BYTE>(value); }
    CArchive& operator<<(signed char value) { return *this << static_cast<BYTE>(value); }
    CArchive& operator<<(WORD value);
    CArchive& operator<<(std::int16_t value) { return *this << static_cast<WORD>(value); }
    CArchive& operator<<(DWORD value);
    CArchive& operator<<(std::int32_t value) { return *this << static_cast<DWORD>(value); }
    CArchive& operator<<(float value);
    CArchive& operator<<(double value);
    CArchive& operator<<(std::string_view text) {
        WriteString(text);
        return *this;
    }
    CArchive& operator<<(const std::string& text) { return *this << std::string_view(text); }
    CArchive& operator<<(const char* text) { return *this << std::string_view(text); }
    CArchive& operator<<(const CDateTime& value);
    CArchive& operator<<(const CCurrency& value);
    CArchive& operator<<(bool) = delete;
    CArchive& operator<<(long) = delete;
    CArchive& operator<<(unsigned long) = delete;
    CArchive& operator<<(long long) = delete;
    CArchive& operator<<(unsigned long long) = delete;

    CArchive& operator>>(BYTE& value);
    CArchive& operator>>(char& value);
    CArchive& operator>>(signed char& value);
    CArchive& operator>>(WORD& value);
    CArchive& operator>>(std::int16_t& value);
    CArchive& operator>>(DWORD& value);
    CArchive& operator>>(std::int32_t& value);
    CArchive& operator>>(float& value);
    CArchive& operator>>(double& value);
    CArchive& operator>>(std::string& text) {
        text = ReadString();
        return *this;
    }
    CArchive& operator>>(CDateTime& value);
    CArchive& operator>>(CCurrency& value);
    CArchive& operator>>(bool&) = delete;
    CArchive& operator>>(long&) = delete;
    CArchive& operator>>(unsigned long&) = delete;
    CArchive& operator>>(long long&) = delete;
    CArchive& operator>>(unsigned long long&) = delete;

    // Raw bytes, no prefix. Read fails with end of file unless all `count` bytes come.
    void Write(const void* data, std::size_t count);
    void Read(void* buffer, std::size_t count);

    void WriteString(std::string_view text);
    std::string ReadString();

    // A time stamp is 4 bytes of seconds since 1970. Writing keeps the low 32 bits; reading
    // takes them as unsigned, so stamps up to 2106 come back as written.
    void WriteTime(std::time_t time);
    std::time_t ReadTime();

    // The element count prefix. ReadCount refuses (end of file) a count whose elements, at
    // `minBytesPerElement` each, could not fit in the bytes left.
    void WriteCount(std::size_t count);
    DWORD ReadCount(std::size_t minBytesPerElement = 1);

    // A string list: count, then each string. Reading appends to `list` (any container of
    // std::string with push_back).
    template <class StringContainer>
    void WriteStringList(const StringContainer& list) {
        WriteCount(list.size());
        for (const auto& text : list)
            WriteString(text);
    }
    template <class StringContainer>
    void ReadStringList(StringContainer& list) {
        for (DWORD n = ReadCount(1); n > 0; --n)
            list.push_back(ReadString());
    }

    // --- objects ---------------------------------------------------------------------
    void WriteObject(const CObject* object);
    // Null, a new object of class `expected` (or derived; any registered class when null), or
    // an object read before that is of that class.
    CObject* ReadObject(const CRuntimeClass* expected = nullptr);
    template <class T>
    T* ReadObject() {
        return static_cast<T*>(ReadObjectChecked(T::ThisClass(), false, true, &IsA<T>));
    }
    // A new object for an owner (see the top of this file). `expected` null admits any class.
    CObject* ReadOwnedObject(const CRuntimeClass* expected, bool allowNull = false);
    template <class T>
    std::unique_ptr<T> ReadOwnedObject(bool allowNull = false) {
        return ReadOwnedObject<T>(T::ThisClass(), allowNull);
    }
    // The same with a run-time class of its own: T may be an interface that the expected
    // classes implement (CMachineBase for the machine classes).
    template <class T>
    std::unique_ptr<T> ReadOwnedObject(const CRuntimeClass* expected, bool allowNull) {
        return std::unique_ptr<T>(
            static_cast<T*>(ReadObjectChecked(expected, true, allowNull, &IsA<T>)));
    }

    // The schema of the class whose object is being read (kNoSchema outside such a read).
    WORD GetObjectSchema() const { return m_schema; }

    // --- bounds ----------------------------------------------------------------------
    // Loading: true when no byte is left (a clean end between records).
    bool IsAtEnd();
    // Loading: fails with end of file unless at least `count` bytes are left.
    void EnsureAvailable(std::uint64_t count);
    // Lowers the number of entries (class records and objects) one archive may hold; for
    // callers that know their streams are small, and for tests.
    void LimitEntries(DWORD maxEntry) { m_maxEntry = maxEntry; }

private:
    struct LoadedEntry {
        const CRuntimeClass* cls = nullptr;  // set for class records
        CObject* object = nullptr;           // set for objects; null once withdrawn
    };
    using AcceptFn = bool (*)(const CObject*);
    template <class T>
    static bool IsA(const CObject* object) {
        return dynamic_cast<const T*>(object) != nullptr;
    }

    CObject* ReadObjectChecked(const CRuntimeClass* expected, bool owning, bool allowNull,
                               AcceptFn accept);
    const CRuntimeClass* ReadClassRecord(DWORD tagValue, bool newClass);
    void WriteReference(DWORD entry, bool isClass);
    DWORD NextEntry();
    // Loading: enters a class record or an object under the next number. m_loaded always
    // holds exactly m_nextEntry entries.
    DWORD EnterLoaded(const CRuntimeClass* cls, CObject* object);
    void RequireLoading();
    void RequireStoring();
    std::uint64_t BufferedBytes() const { return m_end - m_pos; }
    bool FillBuffer();
    void FlushBuffer();
    WORD ReadWord();
    DWORD ReadDword();
    std::size_t ReadLengthPrefix(bool allowWide, bool* wide);

    CFile* m_file;
    Mode m_mode;
    std::vector<BYTE> m_buffer;
    std::size_t m_pos = 0;  // next byte to read, or to write
    std::size_t m_end = 0;  // loading: bytes valid in the buffer
    int m_exceptionsAtStart;

    DWORD m_nextEntry = 1;
    DWORD m_maxEntry = ArchiveFormat::kMaxEntry;
    std::unordered_map<const CObject*, DWORD> m_storedObjects;
    std::unordered_map<const CRuntimeClass*, DWORD> m_storedClasses;
    std::vector<LoadedEntry> m_loaded;  // by entry number; entry 0 is null
    WORD m_schema = ArchiveFormat::kNoSchema;
    int m_depth = 0;
};

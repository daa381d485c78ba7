#include "foundation/Archive.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

using namespace ArchiveFormat;

namespace {

// Restores a value when the scope ends, also when an exception passes.
template <class T>
class Restore {
public:
    Restore(T& slot, T value) : m_slot(slot), m_saved(slot) { m_slot = value; }
    ~Restore() { m_slot = m_saved; }
    Restore(const Restore&) = delete;
    Restore& operator=(const Restore&) = delete;

private:
    T& m_slot;
    T m_saved;
};

[[noreturn]] void Fail(CArchiveException::Cause cause) {
    throw new CArchiveException(cause);
}

}  // namespace

CArchive::CArchive(CFile* file, Mode mode, std::size_t bufferSize)
    : m_file(file),
      m_mode(mode),
      m_buffer(std::max(bufferSize, kMinBufferSize)),
      m_exceptionsAtStart(std::uncaught_exceptions()) {
    if (mode == load)
        m_loaded.emplace_back();  // entry 0: null
}

CArchive::~CArchive() {
    // A store that is being unwound by an exception is left as it was; otherwise the bytes
    // written so far reach the store as Close would hand them over.
    if (m_file == nullptr)
        return;
    try {
        if (IsStoring() && std::uncaught_exceptions() > m_exceptionsAtStart)
            Abort();
        else
            Close();
    } catch (CException* e) {
        e->Delete();  // a destructor cannot report; callers that need to know call Close
    } catch (...) {
    }
}

void CArchive::RequireStoring() {
    if (m_file == nullptr)
        Fail(CArchiveException::generic);
    if (!IsStoring())
        Fail(CArchiveException::readOnly);
}

void CArchive::RequireLoading() {
    if (m_file == nullptr)
        Fail(CArchiveException::generic);
    if (!IsLoading())
        Fail(CArchiveException::writeOnly);
}

void CArchive::FlushBuffer() {
    if (m_pos > 0) {
        const std::size_t count = m_pos;
        m_pos = 0;
        m_file->Write(m_buffer.data(), count);
    }
}

void CArchive::Flush() {
    if (m_file == nullptr || !IsStoring())
        return;
    FlushBuffer();
    m_file->Flush();
}

void CArchive::Close() {
    if (m_file == nullptr)
        return;
    CFile* file = m_file;
    if (IsStoring()) {
        Flush();
    } else if (BufferedBytes() > 0) {
        file->Seek(-static_cast<std::int64_t>(BufferedBytes()), CFile::current);
    }
    m_pos = m_end = 0;
    m_file = nullptr;
}

void CArchive::Abort() {
    m_pos = m_end = 0;
    m_file = nullptr;
}

// --- raw bytes ---------------------------------------------------------------------------

void CArchive::Write(const void* data, std::size_t count) {
    RequireStoring();
    const auto* in = static_cast<const BYTE*>(data);
    while (count > 0) {
        if (m_pos == m_buffer.size())
            FlushBuffer();
        const std::size_t n = std::min(count, m_buffer.size() - m_pos);
        std::memcpy(m_buffer.data() + m_pos, in, n);
        m_pos += n;
        in += n;
        count -= n;
    }
}

bool CArchive::FillBuffer() {
    m_pos = 0;
    m_end = m_file->Read(m_buffer.data(), m_buffer.size());
    return m_end > 0;
}

void CArchive::Read(void* buffer, std::size_t count) {
    RequireLoading();
    auto* out = static_cast<BYTE*>(buffer);
    while (count > 0) {
        if (m_pos == m_end) {
            // Large reads bypass the block; the rest goes through it.
            if (count >= m_buffer.size()) {
                const std::size_t got = m_file->Read(out, count);
                if (got < count)
                    Fail(CArchiveException::endOfFile);
                return;
            }
            if (!FillBuffer())
                Fail(CArchiveException::endOfFile);
        }
        const std::size_t n = std::min(count, m_end - m_pos);
        std::memcpy(out, m_buffer.data() + m_pos, n);
        m_pos += n;
        out += n;
        count -= n;
    }
}

bool CArchive::IsAtEnd() {
    RequireLoading();
    return m_pos == m_end && !FillBuffer();
}

void CArchive::EnsureAvailable(std::uint64_t count) {
    RequireLoading();
    if (BufferedBytes() >= count)
        return;
    if (m_file->GetRemaining() < count - BufferedBytes())
        Fail(CArchiveException::endOfFile);
}

// --- primitive values --------------------------------------------------------------------

CArchive& CArchive::operator<<(BYTE value) {
    Write(&value, 1);
    return *this;
}

CArchive& CArchive::operator<<(WORD value) {
    const BYTE bytes[2] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8)};
    Write(bytes, sizeof bytes);
    return *this;
}

CArchive& CArchive::operator<<(DWORD value) {
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    Write(bytes, sizeof bytes);
    return *this;
}

CArchive& CArchive::operator<<(float value) {
    return *this << std::bit_cast<DWORD>(value);
}

CArchive& CArchive::operator<<(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    return *this << static_cast<DWORD>(bits) << static_cast<DWORD>(bits >> 32);
}

CArchive& CArchive::operator<<(const CDateTime& value) {
    return *this << value.GetStatus() << value.GetDays();
}

CArchive& CArchive::operator<<(const CCurrency& value) {
    return *this << value.GetStatus() << value.GetHigh() << value.GetLow();
}

WORD CArchive::ReadWord() {
    BYTE bytes[2];
    Read(bytes, sizeof bytes);
    return static_cast<WORD>(bytes[0] | (bytes[1] << 8));
}

DWORD CArchive::ReadDword() {
    BYTE bytes[4];
    Read(bytes, sizeof bytes);
    return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
           (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

CArchive& CArchive::operator>>(BYTE& value) {
    Read(&value, 1);
    return *this;
}

CArchive& CArchive::operator>>(char& value) {
    BYTE byte;
    *this >> byte;
    value = static_cast<char>(byte);
    return *this;
}

CArchive& CArchive::operator>>(signed char& value) {
    BYTE byte;
    *this >> byte;
    value = static_cast<signed char>(byte);
    return *this;
}

CArchive& CArchive::operator>>(WORD& value) {
    value = ReadWord();
    return *this;
}

CArchive& CArchive::operator>>(std::int16_t& value) {
    value = static_cast<std::int16_t>(ReadWord());
    return *this;
}

CArchive& CArchive::operator>>(DWORD& value) {
    value = ReadDword();
    return *this;
}

CArchive& CArchive::operator>>(std::int32_t& value) {
    value = static_cast<std::int32_t>(ReadDword());
    return *this;
}

CArchive& CArchive::operator>>(float& value) {
    value = std::bit_cast<float>(ReadDword());
    return *this;
}

CArchive& CArchive::operator>>(double& value) {
    const std::uint64_t low = ReadDword();
    const std::uint64_t high = ReadDword();
    value = std::bit_cast<double>(low | (high << 32));
    return *this;
}

CArchive& CArchive::operator>>(CDateTime& value) {
    std::int32_t status;
    double days;
    *this >> status >> days;
    value = CDateTime(days, status);
    return *this;
}

CArchive& CArchive::operator>>(CCurrency& value) {
    std::int32_t status, high;
    DWORD low;
    *this >> status >> high >> low;
    value = CCurrency::FromHalves(high, low, status);
    return *this;
}

void CArchive::WriteTime(std::time_t time) {
    *this << static_cast<DWORD>(static_cast<std::uint64_t>(time));
}

std::time_t CArchive::ReadTime() {
    return static_cast<std::time_t>(ReadDword());
}

// --- strings and counts ------------------------------------------------------------------

void CArchive::WriteString(std::string_view text) {
    const std::size_t n = text.size();
    if (n <= kMaxByteLength) {
        *this << static_cast<BYTE>(n);
    } else if (n <= kMaxWordLength) {
        *this << kStringLongPrefix << static_cast<WORD>(n);
    } else {
        if (n > std::numeric_limits<DWORD>::max())
            Fail(CArchiveException::generic);
        *this << kStringLongPrefix << kDwordLengthFollows << static_cast<DWORD>(n);
    }
    Write(text.data(), n);
}

std::size_t CArchive::ReadLengthPrefix(bool allowWide, bool* wide) {
    BYTE first;
    *this >> first;
    if (first != kStringLongPrefix)
        return first;
    const WORD word = ReadWord();
    if (word == kWideStringMarker) {
        // The marker stands once, before the real prefix.
        if (!allowWide)
            Fail(CArchiveException::generic);
        *wide = true;
        return ReadLengthPrefix(false, wide);
    }
    if (word == kDwordLengthFollows)
        return ReadDword();
    return word;
}

std::string CArchive::ReadString() {
    bool wide = false;
    const std::size_t n = ReadLengthPrefix(true, &wide);
    const std::uint64_t bytes = static_cast<std::uint64_t>(n) * (wide ? 2 : 1);
    EnsureAvailable(bytes);
    std::string text(n, '\0');
    if (!wide) {
        Read(text.data(), n);
        return text;
    }
    // Two-byte characters: those of the first 256 code points become that byte, others '?'.
    for (std::size_t i = 0; i < n; ++i) {
        const WORD ch = ReadWord();
        text[i] = ch <= 0xFF ? static_cast<char>(ch) : '?';
    }
    return text;
}

void CArchive::WriteCount(std::size_t count) {
    if (count > std::numeric_limits<DWORD>::max())
        Fail(CArchiveException::generic);
    if (count < kCountDwordFollows)
        *this << static_cast<WORD>(count);
    else
        *this << kCountDwordFollows << static_cast<DWORD>(count);
}

DWORD CArchive::ReadCount(std::size_t minBytesPerElement) {
    const WORD word = ReadWord();
    const DWORD count = word == kCountDwordFollows ? ReadDword() : word;
    EnsureAvailable(static_cast<std::uint64_t>(count) * minBytesPerElement);
    return count;
}

// --- objects -----------------------------------------------------------------------------

DWORD CArchive::NextEntry() {
    if (m_nextEntry > m_maxEntry)
        Fail(CArchiveException::badIndex);
    return m_nextEntry++;
}

DWORD CArchive::EnterLoaded(const CRuntimeClass* cls, CObject* object) {
    if (m_nextEntry > m_maxEntry)
        Fail(CArchiveException::badIndex);
    m_loaded.push_back(LoadedEntry{cls, object});
    return m_nextEntry++;
}

void CArchive::WriteReference(DWORD entry, bool isClass) {
    if (entry <= kMaxWordEntry)
        *this << static_cast<WORD>(isClass ? kClassTag | entry : entry);
    else
        *this << kEscapeTag << (isClass ? kEscapedClassTag | entry : entry);
}

void CArchive::WriteObject(const CObject* object) {
    RequireStoring();
    if (object == nullptr) {
        *this << kNullTag;
        return;
    }
    if (auto it = m_storedObjects.find(object); it != m_storedObjects.end()) {
        WriteReference(it->second, false);
        return;
    }
    const CRuntimeClass* cls = object->GetRuntimeClass();
    if (!cls->IsSerializable() || !cls->CanCreate())
        throw new CNotSupportedException(std::string("Class ") + cls->GetName() +
                                         " cannot be written to an archive");
    if (m_depth >= kMaxNestingDepth)
        Fail(CArchiveException::badIndex);
    const Restore<int> depth(m_depth, m_depth + 1);

    if (auto it = m_storedClasses.find(cls); it != m_storedClasses.end()) {
        WriteReference(it->second, true);
    } else {
        const std::string_view name = cls->GetName();
        if (name.size() >= kMaxClassNameLength)
            Fail(CArchiveException::badClass);
        const DWORD entry = NextEntry();
        *this << kNewClassTag << cls->GetSchema() << static_cast<WORD>(name.size());
        Write(name.data(), name.size());
        m_storedClasses.emplace(cls, entry);
    }
    // Entered before its fields, so a reference back to it from inside resolves.
    m_storedObjects.emplace(object, NextEntry());
    const_cast<CObject*>(object)->Serialize(*this);
}

CObject* CArchive::ReadObject(const CRuntimeClass* expected) {
    return ReadObjectChecked(expected, false, true, nullptr);
}

CObject* CArchive::ReadOwnedObject(const CRuntimeClass* expected, bool allowNull) {
    return ReadObjectChecked(expected, true, allowNull, nullptr);
}

const CRuntimeClass* CArchive::ReadClassRecord(DWORD tagValue, bool newClass) {
    if (!newClass) {
        const DWORD entry = tagValue & ~kEscapedClassTag;
        if (entry == 0 || entry >= m_nextEntry || m_loaded[entry].cls == nullptr)
            Fail(CArchiveException::badIndex);
        return m_loaded[entry].cls;
    }
    const WORD schema = ReadWord();
    const WORD length = ReadWord();
    if (length >= kMaxClassNameLength)
        Fail(CArchiveException::badClass);
    char name[kMaxClassNameLength];
    Read(name, length);
    const CRuntimeClass* cls = CRuntimeClass::FromName(std::string_view(name, length));
    if (cls == nullptr)
        Fail(CArchiveException::badClass);
    if (!cls->IsSerializable())
        throw new CNotSupportedException(std::string("Class ") + cls->GetName() +
                                         " cannot be read from an archive");
    if (schema != cls->GetSchema())
        Fail(CArchiveException::badSchema);
    EnterLoaded(cls, nullptr);
    return cls;
}

CObject* CArchive::ReadObjectChecked(const CRuntimeClass* expected, bool owning, bool allowNull,
                                     AcceptFn accept) {
    RequireLoading();
    const WORD tag = ReadWord();
    DWORD value;
    if (tag == kEscapeTag)
        value = ReadDword();
    else
        value = (tag & ~kClassTag) | ((tag & kClassTag) ? kEscapedClassTag : 0);

    if (!(value & kEscapedClassTag)) {
        // A reference to null or to an object read before.
        if (value == 0) {
            if (!allowNull)
                Fail(CArchiveException::badClass);
            return nullptr;
        }
        if (value >= m_nextEntry)
            Fail(CArchiveException::badIndex);
        const LoadedEntry& entry = m_loaded[value];
        if (entry.object == nullptr || owning)
            Fail(CArchiveException::badIndex);
        if ((expected != nullptr && !entry.object->IsKindOf(expected)) ||
            (accept != nullptr && !accept(entry.object)))
            Fail(CArchiveException::badClass);
        return entry.object;
    }

    const CRuntimeClass* cls = ReadClassRecord(value, tag == kNewClassTag);
    if (expected != nullptr && !cls->IsDerivedFrom(expected))
        Fail(CArchiveException::badClass);

    if (m_nextEntry > m_maxEntry || m_depth >= kMaxNestingDepth)
        Fail(CArchiveException::badIndex);
    std::unique_ptr<CObject> object(cls->CreateObject());
    if (!object)
        throw std::bad_alloc();
    if (accept != nullptr && !accept(object.get()))
        Fail(CArchiveException::badClass);
    const DWORD number = EnterLoaded(nullptr, object.get());

    try {
        const Restore<int> depth(m_depth, m_depth + 1);
        const Restore<WORD> schema(m_schema, cls->GetSchema());
        object->Serialize(*this);
    } catch (...) {
        // The object and whatever it made are gone: nothing read from here on may be
        // reached by a later reference.
        for (DWORD n = number; n < m_loaded.size(); ++n)
            m_loaded[n].object = nullptr;
        throw;
    }
    return object.release();
}

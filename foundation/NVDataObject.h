#pragma once
// A typed value: one of an int, a DWORD, a text or a double, with the type that says which.
// Sessions report their activity fields through it, request criteria compare against it, and
// it travels in archives and is kept in the registry.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <cstdint>
#include <string>

class CNVDataObject : public CObject {
    DECLARE_SERIAL(CNVDataObject)
public:
    // Values of DataType.
    enum Type : std::int32_t { TypeInt = 0, TypeDWORD = 1, TypeString = 2, TypeDouble = 3 };

    // Type int, every value zero, empty text.
    CNVDataObject() = default;
    // Each sets its type and its own value field; the other fields are zero or empty.
    explicit CNVDataObject(DWORD value) : DataType(TypeDWORD), dwData(value) {}
    explicit CNVDataObject(std::int32_t value) : DataType(TypeInt), nData(value) {}
    explicit CNVDataObject(double value) : DataType(TypeDouble), dData(value) {}
    explicit CNVDataObject(std::string text) : DataType(TypeString), strData(std::move(text)) {}
    explicit CNVDataObject(const char* text) : CNVDataObject(std::string(text ? text : "")) {}

    // The type and all four values.
    void Copy(const CNVDataObject& other);

    // Each sets the type and its value field and leaves the others.
    void SetInt(std::int32_t value);
    void SetDWORD(DWORD value);
    void SetString(const std::string& text);
    void SetDouble(double value);

    // FALSE whenever the types differ (or the type is none of the four); otherwise int signed,
    // DWORD unsigned, text byte-wise and case-sensitive (every byte, in unsigned byte order),
    // double numerically. IsGreater: this is greater than `other`; IsLess: this is less.
    BOOL IsEqual(const CNVDataObject& other) const;
    BOOL IsGreater(const CNVDataObject& other) const;
    BOOL IsLess(const CNVDataObject& other) const;

    // Compare the one value field with the argument, whatever the type.
    BOOL EqualsInt(std::int32_t value) const { return nData == value; }
    BOOL EqualsDWORD(DWORD value) const { return dwData == value; }
    BOOL EqualsDouble(double value) const { return dData == value; }
    BOOL EqualsString(const std::string& text) const { return strData == text; }

    // DataType, dwData, nData (4 bytes each), dData (8), strData (string). A failure while
    // loading is contained here: the fields read so far stay, the others keep their values,
    // and the caller's read goes on (and meets the same end of the stream itself). A failure
    // while storing is passed on, so a broken stream is never sent as if whole.
    void Serialize(CArchive& ar) override;
    // The same fields read without containing a failure: the archive's exception goes on to
    // the caller, for owners that load transactionally (read aside, then assign).
    void ReadFields(CArchive& ar);

    // The five values in the key `subKeyPath`: DataType, dwData, nData as DWORDs, dData as an
    // 8-byte double, strData as a string (every byte kept). TRUE when all were written.
    virtual BOOL SaveToRegistry(const std::string& subKeyPath) const;
    // The five values, with defaults 0, 0, 0, 0.0 and the empty text.
    virtual void LoadFromRegistry(const std::string& subKeyPath);

    std::int32_t DataType = TypeInt;
    DWORD dwData = 0;
    std::int32_t nData = 0;
    double dData = 0.0;
    std::string strData;

private:
    // -1, 0 or 1 for this against `other` when both have one known type; else `unordered`.
    static constexpr int kUnordered = 2;
    int Compare(const CNVDataObject& other) const;
};

#include "foundation/NVDataObject.h"

#include "foundation/Archive.h"
#include "foundation/DataObjectValues.h"
#include "foundation/RegistryStore.h"

IMPLEMENT_SERIAL(CNVDataObject, CObject, 1)

void CNVDataObject::Copy(const CNVDataObject& other) {
    DataType = other.DataType;
    dwData = other.dwData;
    nData = other.nData;
    dData = other.dData;
    strData = other.strData;
}

void CNVDataObject::SetInt(std::int32_t value) {
    DataType = TypeInt;
    nData = value;
}

void CNVDataObject::SetDWORD(DWORD value) {
    DataType = TypeDWORD;
    dwData = value;
}

void CNVDataObject::SetString(const std::string& text) {
    DataType = TypeString;
    strData = text;
}

void CNVDataObject::SetDouble(double value) {
    DataType = TypeDouble;
    dData = value;
}

namespace {

template <class T>
int Order(const T& a, const T& b) {
    if (a < b)
        return -1;
    if (b < a)
        return 1;
    return a == b ? 0 : 2;  // a NaN is neither
}

}  // namespace

int CNVDataObject::Compare(const CNVDataObject& other) const {
    if (DataType != other.DataType)
        return kUnordered;
    switch (DataType) {
    case TypeInt: return Order(nData, other.nData);
    case TypeDWORD: return Order(dwData, other.dwData);
    case TypeDouble: return Order(dData, other.dData);
    case TypeString: {
        // std::string compares chars as unsigned bytes: the order of strcmp, over every byte.
        int c = strData.compare(other.strData);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    default: return kUnordered;
    }
}

BOOL CNVDataObject::IsEqual(const CNVDataObject& other) const { return Compare(other) == 0; }

BOOL CNVDataObject::IsGreater(const CNVDataObject& other) const { return Compare(other) == 1; }

BOOL CNVDataObject::IsLess(const CNVDataObject& other) const { return Compare(other) == -1; }

void CNVDataObject::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        ar << DataType << dwData << nData << dData << strData;
        return;
    }
    try {
        ReadFields(ar);
    } catch (CException* e) {
        e->Delete();
    }
}

void CNVDataObject::ReadFields(CArchive& ar) {
    ar >> DataType >> dwData >> nData >> dData >> strData;
}

BOOL CNVDataObject::SaveToRegistry(const std::string& subKeyPath) const {
    namespace V = DataObjectValues;
    BOOL ok = RegWriteDWORD(subKeyPath, V::DataType, static_cast<DWORD>(DataType));
    ok &= RegWriteDWORD(subKeyPath, V::DWordData, dwData);
    ok &= RegWriteDWORD(subKeyPath, V::IntData, static_cast<DWORD>(nData));
    ok &= RegWriteDouble(subKeyPath, V::DoubleData, dData);
    ok &= RegWriteString(subKeyPath, V::StringData, strData);
    return ok;
}

void CNVDataObject::LoadFromRegistry(const std::string& subKeyPath) {
    namespace V = DataObjectValues;
    DataType = static_cast<std::int32_t>(RegReadDWORD(subKeyPath, V::DataType, 0));
    dwData = RegReadDWORD(subKeyPath, V::DWordData, 0);
    nData = static_cast<std::int32_t>(RegReadDWORD(subKeyPath, V::IntData, 0));
    dData = RegReadDouble(subKeyPath, V::DoubleData, 0.0);
    strData = RegReadString(subKeyPath, V::StringData, "");
}

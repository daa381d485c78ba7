#include "engine/access/RequestCriterion.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessTexts.h"
#include "foundation/Archive.h"
#include "foundation/Format.h"
#include "foundation/RegistryStore.h"

#include <algorithm>
#include <string_view>

IMPLEMENT_SERIAL(CRequestCriterion, CFilterComponent, 1)

// Every stored field besides Name and Description, read aside for a load that changes all or
// nothing.
struct CRequestCriterion::Fields {
    DWORD comparison = ComparisonEquals;
    DWORD dataIndex = 0;
    std::string variableName;
    DWORD notFlag = 0;
    CNVDataObject value;
};

namespace {

bool IsKnownType(std::int32_t type) {
    return type >= CNVDataObject::TypeInt && type <= CNVDataObject::TypeDouble;
}

std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Upper(a) == Upper(b);
}

}  // namespace

bool CRequestCriterion::IsInRange(const Fields& fields) const {
    return fields.comparison < kComparisonCount &&
           FindVariable(GetVariableTable(), fields.dataIndex) != nullptr &&
           IsKnownType(fields.value.DataType);
}

void CRequestCriterion::Assign(Fields&& fields) {
    m_comparison = fields.comparison;
    m_dataIndex = fields.dataIndex;
    m_variableName = std::move(fields.variableName);
    m_not = fields.notFlag;
    m_value.Copy(fields.value);
}

RequestVariableTable CRequestCriterion::GetVariableTable() const { return kRequestVariables; }

BOOL CRequestCriterion::SetComparison(DWORD comparison) {
    if (comparison >= kComparisonCount)
        return FALSE;
    m_comparison = comparison;
    return TRUE;
}

BOOL CRequestCriterion::SetDataIndex(DWORD dataIndex) {
    if (FindVariable(GetVariableTable(), dataIndex) == nullptr)
        return FALSE;
    m_dataIndex = dataIndex;
    return TRUE;
}

BOOL CRequestCriterion::SetValue(const CNVDataObject& value) {
    if (!IsKnownType(value.DataType))
        return FALSE;
    m_value.Copy(value);
    return TRUE;
}

void CRequestCriterion::Copy(const CRequestCriterion& other) {
    if (&other == this)
        return;
    CopyBase(other);
    m_comparison = other.m_comparison;
    SetDataIndex(other.m_dataIndex);
    m_variableName = other.m_variableName;
    m_not = other.m_not;
    m_value.Copy(other.m_value);
}

BOOL CRequestCriterion::Compare(const CNVDataObject& fetched) const {
    if (!IsComparisonApplicable(m_comparison, m_value.DataType))
        return FALSE;
    const std::string& f = fetched.strData;
    const std::string& v = m_value.strData;
    bool result = false;
    switch (m_comparison) {
    case ComparisonEquals: result = fetched.IsEqual(m_value); break;
    case ComparisonGreaterThan: result = fetched.IsGreater(m_value); break;
    case ComparisonLessThan: result = fetched.IsLess(m_value); break;
    case ComparisonContains: result = Upper(f).find(Upper(v)) != std::string::npos; break;
    case ComparisonBeginsWith: result = EqualNoCase(std::string_view(f).substr(0, v.size()), v); break;
    case ComparisonEndsWith:
        result = EqualNoCase(std::string_view(f).substr(f.size() - std::min(f.size(), v.size())), v);
        break;
    case ComparisonIsEmpty: result = f.empty(); break;
    default: break;
    }
    return (m_not != 0) != result ? TRUE : FALSE;
}

BOOL CRequestCriterion::MatchRequest(CRequestValueSource& source) const {
    if (!IsComparisonApplicable(m_comparison, m_value.DataType))
        return FALSE;
    CNVDataObject fetched;
    if (m_dataIndex == RequestHTTPHeaderField) {
        fetched.SetString("");
        source.GetVariable(m_variableName, fetched);
    } else {
        source.GetValue(m_dataIndex, fetched);
    }
    return Compare(fetched);
}

std::string CRequestCriterion::GetDescriptionText() {
    using namespace AccessTexts;
    const SRequestVariable* row = FindVariable(GetVariableTable(), m_dataIndex);
    if (row == nullptr)  // cannot happen: DataIndex is kept inside the table
        return GetDescription();
    const SRequestVariable& variable = *row;
    // The cache-entry table ends before 18, so only request criteria name a header.
    const bool namesHeader = m_dataIndex == RequestHTTPHeaderField;
    const char* prefix = m_not != 0 ? kCriterionNot : "";
    const char* comparison = m_comparison < kComparisonCount ? kComparisonTexts[m_comparison] : "";
    std::string text;
    switch (variable.type) {
    case CNVDataObject::TypeInt:
        text = FormatText(kCriterionInteger, prefix, variable.name, comparison, m_value.nData);
        break;
    case CNVDataObject::TypeDWORD:
        text = FormatText(kCriterionUnsigned, prefix, variable.name, comparison, m_value.dwData);
        break;
    case CNVDataObject::TypeDouble:
        text = FormatText(kCriterionDouble, prefix, variable.name, comparison, m_value.dData);
        break;
    default:
        text = namesHeader ? FormatText(kCriterionHeaderField, prefix, variable.name,
                                        m_variableName.c_str(), comparison, m_value.strData.c_str())
                           : FormatText(kCriterionString, prefix, variable.name, comparison,
                                        m_value.strData.c_str());
        break;
    }
    SetDescription(text);
    return text;
}

BOOL CRequestCriterion::SaveToRegistry(const std::string& keyPath) const {
    using namespace AccessFormat;
    BOOL ok = RegWriteString(keyPath, kType, GetRuntimeClass()->GetName());
    ok &= CFilterComponent::SaveToRegistry(keyPath);
    ok &= RegWriteDWORD(keyPath, kComparison, m_comparison);
    ok &= RegWriteDWORD(keyPath, kDataIndex, m_dataIndex);
    ok &= RegWriteString(keyPath, kVariableName, m_variableName);
    ok &= RegWriteDWORD(keyPath, kNot, m_not);
    ok &= m_value.SaveToRegistry(keyPath);
    return ok;
}

void CRequestCriterion::LoadFromRegistry(const std::string& keyPath) { ReadFromRegistry(keyPath); }

BOOL CRequestCriterion::ReadFromRegistry(const std::string& keyPath) {
    using namespace AccessFormat;
    Fields fields;
    fields.comparison = RegReadDWORD(keyPath, kComparison, ComparisonEquals);
    fields.dataIndex = RegReadDWORD(keyPath, kDataIndex, 0);
    fields.variableName = RegReadString(keyPath, kVariableName, "");
    fields.notFlag = RegReadDWORD(keyPath, kNot, 0);
    fields.value.LoadFromRegistry(keyPath);
    if (!IsInRange(fields))
        return FALSE;
    CFilterComponent::LoadFromRegistry(keyPath);
    Assign(std::move(fields));
    return TRUE;
}

void CRequestCriterion::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreBase(ar);
        ar << m_comparison << m_dataIndex << m_variableName << m_not;
        m_value.Serialize(ar);
        return;
    }
    std::string name, description;
    LoadBase(ar, name, description);
    Fields fields;
    ar >> fields.comparison >> fields.dataIndex >> fields.variableName >> fields.notFlag;
    fields.value.ReadFields(ar);
    if (!IsInRange(fields))
        throw new CArchiveException(CArchiveException::generic);
    SetName(std::move(name));
    SetDescription(std::move(description));
    Assign(std::move(fields));
}

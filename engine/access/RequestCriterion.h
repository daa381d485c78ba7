#pragma once
// A request criterion: one test of one request variable (engine/access/RequestVariables.h)
// against a typed value, such as "HTTP URL contains sports" or "Client port number greater
// than 1024". Request filters hold lists of them; CCachePurgeCriterion tests cache entries.
//
// Fields: Comparison (CriterionComparison), DataIndex (the variable's number), VariableName
// (the header's name, used only with DataIndex 18), Value (the typed value compared with),
// Not (non-zero inverts the result). Defaults: 0, 0, "", integer 0, 0.
// DataIndex and Comparison always lie inside their tables: the setters refuse other numbers
// and loads refuse stored or received criteria that hold them (registry: the criterion stays
// as it was and ReadFromRegistry answers FALSE; archive: CArchiveException, generic). So is
// a Value whose type is none of the four. Descriptions and tests never index past a table.
//
// MatchRequest(source):
//   1. A comparison that does not apply to the type of Value ("greater than" with a string,
//      "contains" with a number, ...) answers FALSE, whatever Not says.
//   2. The request value f: for DataIndex 18 the source's GetVariable(VariableName) starting
//      from the empty string, otherwise its GetValue(DataIndex) starting from integer 0.
//   3. equals / greater than / less than: f and Value have the same type and compare so
//      (strings exactly, case counting); contains: Value's string, upper-cased, lies in f's
//      string, upper-cased; begins with / ends with: the first / last n characters of f's
//      string equal Value's string ignoring case (n = its length; a shorter f compares whole);
//      is empty: f's string is empty. Strings are f's string field whatever f's type.
//   4. Not set: the result is inverted.
// Case is ASCII case: bytes above 0x7F compare exactly.
//
// Registry form: string "Type" (the run-time class name), Name, Description, DWORDs
// "Comparison" and "DataIndex", string "VariableName", DWORD "Not", then the Value's own
// values in the same key. Archive form: Name, Description, Comparison, DataIndex (4 bytes
// each), VariableName, Not (4 bytes), then Value's fields (not class-tagged). A failed load
// leaves the criterion as it was.
//
// Locking: none. A criterion changes only while nobody else can reach it (being built,
// copied or loaded before its filter takes it); filters guard their lists.

#include "engine/access/FilterComponent.h"
#include "engine/access/RequestValueSource.h"
#include "engine/access/RequestVariables.h"
#include "foundation/NVDataObject.h"
#include "platform/kernel/Types.h"

#include <string>

class CRequestCriterion : public CFilterComponent {
    DECLARE_SERIAL(CRequestCriterion)
public:
    CRequestCriterion() = default;
    CRequestCriterion(const CRequestCriterion&) = delete;
    CRequestCriterion& operator=(const CRequestCriterion&) = delete;

    DWORD GetComparison() const { return m_comparison; }
    DWORD GetDataIndex() const { return m_dataIndex; }
    const std::string& GetVariableName() const { return m_variableName; }
    const CNVDataObject& GetValue() const { return m_value; }
    DWORD GetNot() const { return m_not; }

    // Each refuses (FALSE, nothing changed) what lies outside its table (see above).
    BOOL SetComparison(DWORD comparison);
    BOOL SetDataIndex(DWORD dataIndex);
    BOOL SetValue(const CNVDataObject& value);
    void SetVariableName(std::string name) { m_variableName = std::move(name); }
    void SetNot(DWORD value) { m_not = value; }

    // Copies Name, Description, Comparison, DataIndex, VariableName, Not and Value. A purge
    // criterion's DataIndex beyond the cache-entry table is not copied into one (it stays).
    void Copy(const CRequestCriterion& other);

    // The table that DataIndex numbers: the request variables; the cache-entry values for
    // cache-purge criteria.
    virtual RequestVariableTable GetVariableTable() const;

    void Serialize(CArchive& ar) override;
    // "[Not ]<variable> <comparison> <value>" (engine/access/AccessTexts.h), stored into
    // Description and returned.
    std::string GetDescriptionText() override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    // ReadFromRegistry, with its answer dropped.
    void LoadFromRegistry(const std::string& keyPath) override;
    // Loads the criterion from `keyPath`; FALSE (and nothing changed) when the stored one is
    // out of range.
    BOOL ReadFromRegistry(const std::string& keyPath);

    // Whether the request of `source` satisfies the criterion (see above). A cache-purge
    // criterion answers FALSE here: its numbers name cache-entry values, not request ones.
    virtual BOOL MatchRequest(CRequestValueSource& source) const;

protected:
    // Steps 1, 3 and 4 above for a fetched value `fetched`.
    BOOL Compare(const CNVDataObject& fetched) const;

private:
    struct Fields;
    bool IsInRange(const Fields& fields) const;
    void Assign(Fields&& fields);

    DWORD m_comparison = ComparisonEquals;
    DWORD m_dataIndex = 0;
    std::string m_variableName;
    CNVDataObject m_value;
    DWORD m_not = 0;
};

#pragma once
// Registry value names of the typed data object and the host/port pair.

namespace DataObjectValues {

inline constexpr const char* DataType = "DataType";
inline constexpr const char* DWordData = "dwData";
inline constexpr const char* IntData = "nData";
inline constexpr const char* DoubleData = "dData";
inline constexpr const char* StringData = "strData";

inline constexpr const char* Host = "Host";
inline constexpr const char* Port = "Port";

}  // namespace DataObjectValues

#pragma once
// The texts the access-control objects show: the descriptions the console lists them by, and
// the names and descriptions of the built-in accounts.

namespace AccessTexts {

// A recurring time slice: "Every " + the days + (when its times count) " from " + start
// + " to " + end, the times in the locale's time form ("%X").
inline constexpr char kEvery[] = "Every ";
inline constexpr char kEveryDay[] = "day";          // mask 127
inline constexpr char kEveryWeekday[] = "weekday";  // mask 62
inline constexpr char kEveryWeekend[] = "weekend";  // mask 65
inline constexpr char kFrom[] = " from ";
inline constexpr char kTo[] = " to ";
inline constexpr char kTimeFormat[] = "%X";

// Any other mask: the letters of its days run together, in this order (bit, letter).
struct DayLetter {
    unsigned bit;
    const char* letter;
};
inline constexpr DayLetter kDayLetters[] = {
    {1, "M"}, {2, "T"}, {3, "W"}, {4, "Th"}, {5, "F"}, {6, "S"}, {0, "Su"},
};

// A one-off slice: "From " + start + " to " + end, in the locale's date and time ("%c").
inline constexpr char kOneOffFrom[] = "From ";
inline constexpr char kDateTimeFormat[] = "%c";

// A request criterion: "Not " when inverted, the variable's name, the comparison's text
// (engine/access/RequestVariables.h), then the value in the form of the variable's type; a
// header-field criterion names the header before the comparison.
inline constexpr char kCriterionNot[] = "Not ";
inline constexpr char kCriterionInteger[] = "%s%s %s %i";
inline constexpr char kCriterionUnsigned[] = "%s%s %s %u";
inline constexpr char kCriterionString[] = "%s%s %s \"%s\"";
inline constexpr char kCriterionHeaderField[] = "%s%s %s %s \"%s\"";
inline constexpr char kCriterionDouble[] = "%s%s %s %g";

// The built-in accounts and groups of the user database, and their descriptions.
inline constexpr char kAdministrator[] = "Administrator";
inline constexpr char kGuest[] = "Guest";
inline constexpr char kAdministrators[] = "Administrators";
inline constexpr char kUsers[] = "Users";
inline constexpr char kAdministratorDescription[] = "Built in account for administering this server";
inline constexpr char kGuestDescription[] = "Built in account for guest access to this server";
inline constexpr char kAdministratorsDescription[] = "Members can administer this server";
inline constexpr char kUsersDescription[] = "Ordinary users";

// A recipient: the one built by default stands for everyone, unrestricted. Its description
// is "Unrestricted Rights", or "Restricted by " and the restrictions that apply, in this
// order, joined by ", ".
inline constexpr char kEveryone[] = "Everyone";
inline constexpr char kUnrestrictedRights[] = "Unrestricted Rights";
inline constexpr char kRestrictedBy[] = "Restricted by ";
inline constexpr char kRestrictionSeparator[] = ", ";
inline constexpr char kSecurityLevelRestriction[] = "security level";
inline constexpr char kLocationRestriction[] = "location";
inline constexpr char kTimeRestriction[] = "time";
inline constexpr char kRequestRestriction[] = "request";

}  // namespace AccessTexts

#pragma once
// Every text the console's application, main frame and dialogs show, in one place. Texts in
// quotes that the engine's operators know (titles, questions, refusals) are kept byte for byte;
// "\n" is a line break in a box.

namespace ConsoleTexts {

// --- Application ------------------------------------------------------------------------------
inline constexpr const char* kAppTitle = "Urvo Wardenhall";
inline constexpr const char* kTitleOnline = "Urvo Wardenhall - Online to %s";
inline constexpr const char* kTitleOffline = "Urvo Wardenhall - Off-line";
inline constexpr const char* kSocketsFailed = "Windows sockets initialization failed.";  // text 104
inline constexpr const char* kAboutTitle = "About Wardenhall";
inline constexpr const char* kAboutVersion = "Urvo Wardenhall Version 1.0e";
inline constexpr const char* kAboutEngines = "For Norvane Engine versions 2.0a to 2.0e";
inline constexpr const char* kHelpFile = "Norvane2.html";
inline constexpr const char* kHelpNotOpened = "The help page %s could not be opened.";

inline constexpr const char* kConfigurationChanged = "Configuration changed";
inline constexpr const char* kOfflineUnsaved =
    "You have made configuration changes\ndo you want to log off without saving them";
inline constexpr const char* kShutdownUnsaved =
    "You have made configuration changes\nthese will be lost if you shut down\ndo you want to "
    "continue without saving changes?";

// --- Commands: menu text, and "status-bar prompt\ntool tip" -----------------------------------
struct CommandText {
    int id;
    const char* menuText;
    const char* prompt;
};
inline constexpr CommandText kCommands[] = {
    {32782, "&Go On-line\tCtrl+G", "Go on-line to Norvane for remote monitoring and control\nGo On-line"},
    {32812, "Go &Off-line", "Go off-line and end the connection to Norvane\nGo Off-line"},
    {32775, "&Save changes", "Save the configuration changes to Norvane's disk\nSave changes"},
    {32813, "Change Password", "Change the password of the user logged on to Norvane\nChange Password"},
    {32841, "&On-line options", "Set the user, password, server and port used to go on-line\nOn-line options"},
    {32872, "Shutdown Norvane Engine", "Shut the Norvane Engine down\nShutdown Norvane Engine"},
    {57664, "&About Wardenhall...", "Display the version of Wardenhall and the engines it works with\nAbout"},
    {57665, "E&xit", "Quit the application\nExit"},
    {57667, "&Help Topics\tF1", "List Help topics\nHelp Topics"},
};
inline constexpr const char* kFileMenu = "&File";
inline constexpr const char* kConfigurationMenu = "&Configuration";
inline constexpr const char* kActivityMenu = "&Activity";
inline constexpr const char* kHelpMenu = "&Help";
inline constexpr const char* kToolBar = "Tool bar";
inline constexpr const char* kIdleMessage = "Ready";
inline constexpr const char* kCapsIndicator = "CAP";
inline constexpr const char* kNumIndicator = "NUM";
inline constexpr const char* kScrollIndicator = "SCRL";
inline constexpr const char* kNoBitmaps = "Could not load bitmaps";

// --- On-line Options --------------------------------------------------------------------------
inline constexpr const char* kNoPassword =
    "You have not specified a password\ndo you want to continue without a password?";
inline constexpr const char* kEngineNotRunning =
    "Norvane is not running on this machine.\nYou must start the Norvane Engine before\nyou can log on";
inline constexpr const char* kNoSuchAccount =
    "There is no such Norvane user account on this machine.\nPlease check the spelling of your username";
inline constexpr const char* kBadPort = "Please enter a port number from 1 to 65535.";
// The engine's user accounts, below the machine hive (a key per user, value Name).
inline constexpr const char* kUserAccountKey = "Software\\Urvo Software\\Norvane 2\\UserDatabase\\%s";
inline constexpr const char* kUserAccountName = "Name";

// --- Messages between users -------------------------------------------------------------------
inline constexpr const char* kSend = "&Send";
inline constexpr const char* kReply = "&Reply";
inline constexpr const char* kClose = "Close";
inline constexpr const char* kYourMessageLabel = "Your message";
inline constexpr const char* kReceivedLabel = "Message";
inline constexpr const char* kReplyLabel = "Your Message";
inline constexpr const char* kReplyCaption = "Reply to %s";
inline constexpr const char* kMessageTooLong =
    "This message is too long to send.\nPlease shorten it and send it again.";
inline constexpr const char* kMessageTooLongTitle = "Message too long";

// --- Passwords --------------------------------------------------------------------------------
inline constexpr const char* kPasswordsDiffer =
    "Passwords do not match\n\nMake sure you specify the same\npassword and confirmed password";

// --- Request filter trees ----------------------------------------------------------------------
// The menu text of each command of the trees' context menus (ConsoleIds).
struct MenuText {
    int id;
    const char* text;
};
inline constexpr MenuText kFilterTreeCommands[] = {
    {32873, "New filter criterion"},
    {32874, "Delete filter"},
    {32875, "Delete filter criterion"},
    {32876, "Properties"},
    {32877, "New filter"},
};
// The name of a filter the administrator adds; the number counts the filters added while the
// console runs.
inline constexpr const char* kNewFilterName = "Filter %u";

// --- Values a dialog's data exchange refuses ---------------------------------------------------
inline constexpr const char* kEnterWholeNumber = "Please enter a whole number.";
inline constexpr const char* kEnterUnsignedNumber = "Please enter a whole number, 0 or more.";
inline constexpr const char* kEnterNumber = "Please enter a number.";
inline constexpr const char* kEnterNumberInRange = "Please enter a number from %s to %s.";
inline constexpr const char* kEnterAmount =
    "Please enter an amount from %s to %s,\nwith at most four decimal places.";
inline constexpr const char* kEnterDateTime = "Please enter a date and time such as %s.";
inline constexpr const char* kEnterTime = "Please enter a time of day such as %s.";
inline constexpr const char* kEnterFewerCharacters = "Please enter no more than %zu characters.";

// --- User sheet and group dialogs --------------------------------------------------------------
inline constexpr const char* kUserSheetCaption = "Properties for user %s";
inline constexpr const char* kNewUserSheetCaption = "Properties for new user";
inline constexpr const char* kUserNameTaken = "You must choose another username";
inline constexpr const char* kUserNameConflict = "User name conflict";
inline constexpr const char* kGroupNameTaken =
    "You must choose a Group Name that is unique\namongst all user names and group names";

// --- Configuration tree, activity view and Location dialog -----------------------------------
// The fixed nodes of the configuration tree.
inline constexpr const char* kUsersNode = "Users";
inline constexpr const char* kGroupsNode = "Groups";
inline constexpr const char* kLocationsNode = "Locations";
inline constexpr const char* kServicesNode = "Services";
inline constexpr const char* kPoliciesNode = "Policies";
inline constexpr const char* kDefaultPoliciesNode = "Default Policies";
inline constexpr const char* kSystemRightsNode = "System Rights";
inline constexpr const char* kDialingNode = "Dialing";
inline constexpr const char* kCachingNode = "Caching";
// The machine's user child: the user name followed by its log-on level's suffix.
inline constexpr const char* kUnknownUserSuffix = " (Unknown user)";
inline constexpr const char* kAssumedSuffix = " (Assumed)";
inline constexpr const char* kAuthenticatedSuffix = " (Authenticated)";
// Sessions whose description names where the answer came from.
inline constexpr const char* kCachedDescription = "cached";
inline constexpr const char* kHandoverDescription = "handover";
inline constexpr const char* kHandoverLabel = "SOCKS -> HTTP";
// The commands of both views: main-menu text, context-menu text.
struct ViewCommandText {
    int id;
    const char* menuText;
    const char* contextText;
};
inline constexpr ViewCommandText kViewCommands[] = {
    {32846, "User", "New user"},
    {32847, "Group", "New group"},
    {32848, "Location", "New Location"},
    {32851, "Norvane Remote Control Service", "Norvane Remote Control Service"},
    {32852, "DNS Service", "DNS Service"},
    {32853, "SOCKS Service", "SOCKS Service"},
    {32854, "VDOLive Proxy Service", "VDOLive Proxy Service"},
    {32855, "RealAudio Proxy Service", "RealAudio Proxy Service"},
    {32856, "FTP Proxy Service", "FTP Proxy Service"},
    {32857, "POP3 Proxy Service", "POP3 Proxy Service"},
    {32858, "WWW Proxy Service", "WWW Proxy Service"},
    {32859, "UDP Mapping Service", "UDP Mapping Service"},
    {32860, "TCP Mapping Service", "TCP Mapping Service"},
    {32863, "Telnet Proxy Service", "Telnet Proxy Service"},
    {32842, "Properties", "Properties"},
    {32843, "Delete", "Delete"},
    {32839, "Start service", "Start"},
    {32840, "Stop service", "Stop"},
    {32844, "Promote location", "Promote"},
    {32845, "Demote location", "Demote"},
    {32799, "Terminate", "Terminate %s"},
    {32801, "Send Message", "Send Message to %s"},
};
inline constexpr const char* kNewMenuText = "&New";
inline constexpr const char* kNewServiceMenuText = "New service";
// Menu 139's "Terminate %s": a machine's sessions (string 32876) or one session (32875).
inline constexpr const char* kTerminateMachine = "all sessions on %s";
inline constexpr const char* kTerminateSession = "session";
inline constexpr const char* kMessageCaption = "Message to %s on %s";
inline constexpr const char* kSessionNumber = "%u";
inline constexpr const char* kServiceState = "%i";
// The Location dialog (136).
inline constexpr const char* kLocationCaption = "Location";
inline constexpr const char* kLocationExists = "This location already exists";


// --- Policy, recipient and time slice dialogs ------------------------------------------------
inline constexpr const char* kNoRecipients =
    "There are no recipients for this right\nAll access to this right will be denied.\n\nDo you wish to continue?";
inline constexpr const char* kDefaultPoliciesTitle = "Default Policies";
inline constexpr const char* kSystemRightsTitle = "System Rights";
inline constexpr const char* kRecipientSheetCaption = "Properties for recipient %s";
inline constexpr const char* kNewRecipientSheetCaption = "Properties for new recipient";
inline constexpr const char* kSelectUserOrGroup = "You must select a user or group";
inline constexpr const char* kErrorTitle = "Error";
inline constexpr const char* kInvalidSetting = "Invalid setting";
inline constexpr const char* kNoLocations =
    "You have not specified any locations for this recipient\nbut you have indicated that locations are "
    "significant.\nThis renders this recipient unusable.\n\nDo you wish to continue?";
inline constexpr const char* kPossibleProblem = "Possible setting problem";
inline constexpr const char* kLocalhostBanned =
    "Localhost (127.0.0.1) has not been included or has\nbeen excluded from this recipient.  This will ban "
    "this\nrecipient from using Norvane services that are bound\nto the localhost address\n\nDo you wish to "
    "continue?";
inline constexpr const char* kNoTimeSlices =
    "You have not specified any time slices for this recipient\nbut you have indicated that time is "
    "significant.\nThis renders this recipient unusable.\n\nDo you wish to continue?";
inline constexpr const char* kNoRequestFilters =
    "You have not specified any request filters for this\nrecipient but you have indicated that filters must "
    "be met.\nThis renders this recipient unusable.\n\nDo you wish to continue?";
// The address the localhost question is about.
inline constexpr const char* kLocalhost = "127.0.0.1";

// --- Dialer property sheets --------------------------------------------------------------------
inline constexpr const char* kDialerSheetCaption = "Norvane Dialer Properties";
inline constexpr const char* kProfileSheetCaption = "Properties for dialer entry %s";
inline constexpr const char* kNewProfileSheetCaption = "Properties for new dialer entry";
inline constexpr const char* kProfileNameTaken = "You must choose another name for this profile";
inline constexpr const char* kDuplicateProfileName = "Duplicate Profile Name";
inline constexpr const char* kLocalSitesGroup =
    "The following sites (or sites containing the following) will not initiate dialing.";

}  // namespace ConsoleTexts

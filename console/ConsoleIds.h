#pragma once
// The console's numbers: commands, dialogs, context menus and pictures. Controls carry their
// numbers as the `ctrlId` property of their widget (set in each dialog's .ui file, found with
// FindControl).

namespace ConsoleIds {

// --- Commands of the application (menu and tool bar 128) ------------------------------------
inline constexpr int kGoOnline = 32782;
inline constexpr int kGoOffline = 32812;
inline constexpr int kSaveChanges = 32775;
inline constexpr int kChangePassword = 32813;
inline constexpr int kOnlineOptions = 32841;
inline constexpr int kShutdownEngine = 32872;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kHelpFinder = 57667;

// --- Commands of the request filter trees' context menus -------------------------------------
inline constexpr int kNewFilterCriterion = 32873;
inline constexpr int kDeleteFilter = 32874;
inline constexpr int kDeleteFilterCriterion = 32875;
inline constexpr int kCriterionProperties = 32876;
inline constexpr int kNewFilter = 32877;

// --- Dialogs ----------------------------------------------------------------------------------
inline constexpr int kAboutDialog = 100;
inline constexpr int kConfirmPasswordDialog = 133;
inline constexpr int kOnlineOptionsDialog = 135;
inline constexpr int kMessageDialog = 140;
inline constexpr int kChangePasswordDialog = 142;
inline constexpr int kCriterionDialog = 162;

// --- Context menus ----------------------------------------------------------------------------
// Of a request filter tree: on a filter, on a criterion, and beside the items.
inline constexpr int kFilterMenu = 143;
inline constexpr int kCriterionMenu = 144;
inline constexpr int kFilterTreeMenu = 145;

// --- Buttons every dialog numbers the same way ------------------------------------------------
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;

// --- Pictures ---------------------------------------------------------------------------------
// The strip of the image list (twenty 16 x 15 pictures) and the tool bar's strip.
inline constexpr int kImageListBitmap = 130;
inline constexpr int kToolBarBitmap = 128;
// Pictures of the image list: a request filter and a request criterion.
inline constexpr int kFilterImage = 5;
inline constexpr int kCriterionImage = 6;

// --- User sheet and group dialogs: the configuration tree's commands and the dialogs -----------
inline constexpr int kEditUserSheet = 132;
inline constexpr int kNewGroupDialog = 138;
inline constexpr int kEditGroupDialog = 139;
inline constexpr int kUserInfoPage = 143;
inline constexpr int kUserGroupsPage = 144;
inline constexpr int kUserAccountingPage = 145;
inline constexpr int kUserAuditingPage = 150;
// Pictures of the image list: a user, a user outside a group, and a group.
inline constexpr int kUserImage = 1;
inline constexpr int kNonMemberImage = 2;
inline constexpr int kGroupImage = 4;

// --- Configuration tree, activity view and Location dialog -----------------------------------
// Commands of the configuration tree (menu "&Configuration", context menus 137, 138, 140-142).
inline constexpr int kStartService = 32839;
inline constexpr int kStopService = 32840;
inline constexpr int kProperties = 32842;
inline constexpr int kDelete = 32843;
inline constexpr int kPromoteLocation = 32844;
inline constexpr int kDemoteLocation = 32845;
inline constexpr int kNewUser = 32846;
inline constexpr int kNewGroup = 32847;
inline constexpr int kNewLocation = 32848;
// New services, one command per service class: 32851-32860 and 32863.
inline constexpr int kNewRemoteControlService = 32851;
inline constexpr int kNewDNSService = 32852;
inline constexpr int kNewSOCKSService = 32853;
inline constexpr int kNewVDOLiveService = 32854;
inline constexpr int kNewRealAudioService = 32855;
inline constexpr int kNewFTPService = 32856;
inline constexpr int kNewPOP3Service = 32857;
inline constexpr int kNewWWWService = 32858;
inline constexpr int kNewUDPMappingService = 32859;
inline constexpr int kNewTCPMappingService = 32860;
inline constexpr int kNewTelnetService = 32863;
// Commands of the activity view (menu "&Activity", context menu 139).
inline constexpr int kTerminate = 32799;
inline constexpr int kSendMessage = 32801;
// Context menus: users, locations, the activity view, services, groups, the fixed nodes.
inline constexpr int kUserMenu = 137;
inline constexpr int kLocationMenu = 138;
inline constexpr int kActivityMenu = 139;
inline constexpr int kServiceMenu = 140;
inline constexpr int kGroupMenu = 141;
inline constexpr int kNewMenu = 142;
// The Location dialog.
inline constexpr int kLocationDialog = 136;
inline constexpr int kLocationPattern = 1029;
inline constexpr int kLocationUser = 1030;


// --- Policy, recipient and time slice dialogs ------------------------------------------------
inline constexpr int kPoliciesPage = 148;
inline constexpr int kEditRecipientSheet = 152;
inline constexpr int kRecipientUserPage = 156;
inline constexpr int kRecipientLocationPage = 157;
inline constexpr int kRecipientTimePage = 158;
inline constexpr int kTimeSliceDialog = 159;
inline constexpr int kRecipientRequestPage = 161;
inline constexpr int kDefaultPolicyDialog = 163;
// The Default Policy dialog's window icon (the recipient sheet's is kUserImage).
inline constexpr int kDefaultPolicyImage = 5;

// --- Dialer property sheets --------------------------------------------------------------------
inline constexpr int kDialerPhonebookPage = 170;
inline constexpr int kEditProfileSheet = 171;
inline constexpr int kProfileGeneralPage = 172;
inline constexpr int kProfileAccessPage = 173;
inline constexpr int kDialerSheet = 180;
inline constexpr int kDialerLocalSitesPage = 181;
inline constexpr int kDialerSettingsPage = 183;
// Picture of the image list: a dialer profile (also the sheets' icon).
inline constexpr int kDialerImage = 7;

}  // namespace ConsoleIds

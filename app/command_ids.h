#pragma once
// Identifiers of the main window's controls and of the commands its buttons and the browser
// panel's "app:" links send. The numbers are fixed: rule files and pages never see them, but the
// controls are known by them throughout the shell.

namespace velunor {

inline constexpr int kIdMainPage = 10050;
inline constexpr int kIdTargetSiteSettings = 10055;
inline constexpr int kIdExit = 10058;
inline constexpr int kIdSearch = 10059;
inline constexpr int kIdSearchBox = 10060;
inline constexpr int kIdBookShelf = 10061;
inline constexpr int kIdSearchResultList = 10062;
inline constexpr int kIdStatusLine = 10064;
inline constexpr int kIdCategoryMeiren = 10065;
inline constexpr int kIdCategoryKehuan = 10066;
inline constexpr int kIdCategoryYouxi = 10067;
inline constexpr int kIdCategoryDushi = 10068;
inline constexpr int kIdCategoryJunshi = 10069;
inline constexpr int kIdCategoryWuxia = 10070;
inline constexpr int kIdCategoryQihuan = 10071;
inline constexpr int kIdRestDown = 10072;
inline constexpr int kIdRecommend = 10073;
inline constexpr int kIdDownloadProgress = 10074;
inline constexpr int kIdJobStatusLine = 10090;

// The target-site dialog.
inline constexpr int kIdSiteList = 1001;
inline constexpr int kIdSelectAll = 1002;
inline constexpr int kIdInvert = 1003;
inline constexpr int kIdConfirm = 1004;
inline constexpr int kIdCancel = 1005;

} // namespace velunor

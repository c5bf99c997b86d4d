// Control ids of the transfer pages (dialogs 132 and 133) and the Information page (130).
#pragma once

inline constexpr int IDD_INFO_PAGE = 130;
inline constexpr int IDD_DOWNLOAD_PAGE = 132;
inline constexpr int IDD_UPLOAD_PAGE = 133;

inline constexpr int IDC_FILE_EDIT = 1002;      // edit box: the chosen path
inline constexpr int IDC_BROWSE = 1003;         // button
inline constexpr int IDC_PACKET_BAR = 1019;     // progress bar, range 0..1024
inline constexpr int IDC_MODULE_BAR = 1020;     // progress bar
inline constexpr int IDC_TOTAL_BAR = 1021;      // progress bar
inline constexpr int IDC_LOG_LIST = 1023;       // list box, created hidden, newest line first
inline constexpr int IDC_CLEAR = 1026;          // button
inline constexpr int IDC_ESTIMATED_TIME = 1027; // static text
inline constexpr int IDC_CURRENT_TIME = 1028;   // static text
inline constexpr int IDC_CHECK_FIRMWARE = 1031; // check box, disabled, set by the program
inline constexpr int IDC_CHECK_DIGITAL = 1032;  // check box
inline constexpr int IDC_CHECK_ANALOG = 1033;   // check box
inline constexpr int IDC_STATUS_TEXT = 1034;    // static text, created hidden: the last log line
inline constexpr int IDC_FILE_LOCATION = 1035;  // static text: the chosen path
inline constexpr int IDC_ANIMATION = 1037;      // animation control
inline constexpr int IDC_STEP1 = 1038;          // CColorText step texts
inline constexpr int IDC_STEP2 = 1039;
inline constexpr int IDC_STEP3 = 1040;

inline constexpr int kPageTimerId = 1;         // window timer of a page
inline constexpr int kPageTimerPeriodMs = 500; // its period

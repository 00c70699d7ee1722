#pragma once
// Product strings (language neutral).
#define IDS_PRODUCT_NAME 0
#define IDS_PRODUCT_ID 1
#define IDS_BRANDING_UPGRADE_CODE 2
#define IDS_SUPPRESS_EULA 4
#define IDS_SYSTEM_CHECK 5
#define IDS_INSTALL_COMPLETE_PAGE 6
#define IDS_NEW_DEVICE_ACTIVITY 7
#define IDS_INSTALL_COMPLETE_SITE 8
// User messages, per language.
#define IDS_CAPTION 32
#define IDS_UP_TO_DATE 33
#define IDS_INSTALLING 34
#define IDS_NOT_ADMIN 35
#define IDS_UNSUPPORTED_OS 36
#define IDS_MODIFIED 37
// Setup's own questions, per language; a block that product folders do not replace.
#define IDS_RESTART_QUESTION 48

#define IDD_PROGRESS 101
#define IDC_PROGRESS_TEXT 1001
#define IDC_PROGRESS_BAR 1003

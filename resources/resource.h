#pragma once

// String table: format strings for wsprintfA, with the argument each takes.
#define IDS_QUIT_QUESTION      1  // programName
#define IDS_INSTALL_SUCCEEDED  2  // programName
#define IDS_INSTALL_FAILED     3  // programName
#define IDS_SPACE_NEEDED       4  // a FormatSize text
#define IDS_NOT_ENOUGH_SPACE   5
#define IDS_CANNOT_CREATE_DIR  6

// Dialog templates of the four pages.
#define IDD_DRIVE_PAGE         101
#define IDD_DIRECTORY_PAGE     102
#define IDD_PROGRESS_PAGE      103
#define IDD_AGREEMENT_PAGE     104

// The agreement text: a resource of type "TXT", plain 8-bit text with CR LF lines and no NUL.
#define IDR_AGREEMENT_TEXT     105

#define IDI_SETUP              1

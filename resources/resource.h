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

// The integrity data: a resource of type "INTEGRITY" that globpack fills in (layout in
// archive/IntegrityTable.h). The stub's own is a placeholder that stands for none.
#define IDR_INTEGRITY          106

// The Program Manager group: a resource of type "PMGROUP" that globpack --group fills in, the
// group's name in the installer's code page without a terminator. The stub's own is empty: the
// installer then sends its fixed group command.
#define IDR_PROGRAM_GROUP      107

#define IDI_SETUP              1

// Controls of the pages. Labels nobody addresses carry -1.
#define IDC_DRIVE_LIST         1000  // drive page: one "%c:\t%s\t%s" entry per drive, unsorted
#define IDC_PROGRAM_NAME       1001  // drive page: programName
#define IDC_SUBTITLE           1002  // drive page: subtitle
#define IDC_SPACE_NOTE         1003  // drive page: string 4 with the size text of totalSize
#define IDC_INSTALL_DIR        1004  // directory page: the proposed directory, edited by the user
#define IDC_STATUS_LINE        1006  // progress page: the member being extracted
#define IDC_BAR_PLACEHOLDER    1007  // progress page: hidden; its rectangle holds the bar
#define IDC_TEXT_PLACEHOLDER   1008  // agreement page: the text box is created over it

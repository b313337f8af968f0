#pragma once
// Ids of the phone book browser's template.
#define IDD_MAINSCREEN 300
#define IDC_MS_GRIDPANEL 301
#define IDC_MS_GRID 302
#define IDC_MS_BAR 303
#define IDC_MS_ADD 304
#define IDC_MS_MODIFY 305
#define IDC_MS_DELETE 306
#define IDC_MS_HELP 307
#define IDC_MS_OK 308
#define IDC_MS_CANCEL 309

#pragma once
// Ids of the phone book entry editor's template.
#define IDD_PHONEBE 320
#define IDC_PB_LABEL1 321
#define IDC_PB_NAME 322
#define IDC_PB_LABEL2 323
#define IDC_PB_NUMBER 324
#define IDC_PB_PANEL1 325
#define IDC_PB_HELP 326
#define IDC_PB_OK 327
#define IDC_PB_CANCEL 328

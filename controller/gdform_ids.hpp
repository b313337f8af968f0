#pragma once
// Ids of the fax details dialog's template.
#define IDD_GETDATAFORM 200
#define IDC_LABEL1 201
#define IDC_PHONE 202
#define IDC_LABEL2 203
#define IDC_RECIPIENT 204
#define IDC_LABEL3 205
#define IDC_SUBJECT 206
#define IDC_BUTTON1 207
#define IDC_BUTTON2 208
#define IDC_BUTTON3 209

#pragma once
#define IDD_TEST_FORM 200
#define IDC_T_LABEL 201
#define IDC_T_EDIT 202
#define IDC_T_OK 203
#define IDC_T_PHONE 204
#define IDC_T_PANEL 205
#define IDC_T_PROBE 206
#define IDC_T_HIDDEN 207

#pragma once
// Ids of the TRASDDWarning form's template.
#define IDD_RASDDWARNING 200
#define IDC_LABEL1 201
#define IDC_LABEL2 202
#define IDC_BUTTON1 203

/* Control ids of the dialog template IDD_DIALOG1, for the resource compiler, which reads no C++.
   app/control_ids.h holds the same values for the program; the dialog checks that both agree. */
#ifndef FWU_APP_DIALOG_TEMPLATE_IDS_H
#define FWU_APP_DIALOG_TEMPLATE_IDS_H

#define IDC_COM_OPEN 1001
#define IDC_COM_CLOSE 1002
#define IDC_PORT_SELECTOR 1003
#define IDC_PROGRESS_BAR 1004
#define IDC_PERCENT_TEXT 1005
#define IDC_UPDATE 1006
#define IDC_VERSION_TEXT 1008
#define IDC_VERSION_READ 1009
#define IDC_SPARE_TEXT 1010

#endif

#pragma once
// Resource ids of the Windows program: window templates, the icon and the controls.
// Shared by the resource scripts and the code, so plain macros only.

#define IDR_MAINFRAME 128  // the application icon

#define IDD_GLIMMORA_DIALOG 102  // the main window
#define IDD_QUICK_DIALOG 130     // Quick Check page
#define IDD_BATCH_DIALOG 131     // Batch Process page
#define IDD_ABOUT_DIALOG 132     // About page

// Controls, unique across the templates.
#define IDC_TAB 1000               // main window: the tab strip
#define IDC_WORKSTATION_NAME 1001  // Quick Check: name field
#define IDC_MONITOR_LIST 1002      // Quick Check: list of monitors
#define IDC_CHECK 1003             // Quick Check: Check button
#define IDC_INPUT_FILE 1004        // Batch: input file name
#define IDC_INPUT_BROWSE 1005      // Batch: Browse for the input file
#define IDC_OUTPUT_FILE 1006       // Batch: output file name
#define IDC_OUTPUT_BROWSE 1007     // Batch: Browse for the output file
#define IDC_START 1008             // Batch: Start / Abort
#define IDC_STATUS 1009            // Batch: status line

/* Control, menu and resource identifiers shared by the resource script and the code.
   Plain #defines so that windres can read this header too. */
#ifndef KINESTIM_RESOURCE_H
#define KINESTIM_RESOURCE_H

/* Decorative group boxes and frames share one identifier. */
#define IDC_STATIC_DECOR        191
#define IDC_STATIC_LABEL        192

/* Main dialog DIALOG_2 */
#define IDC_MENU_SEPARATOR      142
#define IDC_COMMAND_BOX         205
#define IDC_SEND                202
#define IDC_CLEAR               206
#define IDC_LOCAL_CONTROL       133
#define IDC_RUN_STOP            123
#define IDC_SCRIPT_MANAGER      139
#define IDC_SLIDER_1            146
#define IDC_SLIDER_2            148
#define IDC_SLIDER_3            150
#define IDC_SLIDER_4            152
#define IDC_CAPTION_1           145
#define IDC_CAPTION_2           147
#define IDC_CAPTION_3           149
#define IDC_CAPTION_4           151
#define IDC_CALIBRATE           135
#define IDC_READ_TILT           136
#define IDC_TILT_LOOP           137
#define IDC_SENT_LABEL          122
#define IDC_RECEIVED_LABEL      125
#define IDC_COMMAND_LABEL       124
#define IDC_RECEIVED_PANE       203
#define IDC_SENT_PANE           204
#define IDC_STATUS_BAR          208
#define IDC_MODE_LABEL          144
#define IDC_MODE_FIELD          158
#define IDC_SCRIPT_LABEL        143
#define IDC_SCRIPT_STATUS       138
#define IDC_X_LABEL             154
#define IDC_Y_LABEL             155
#define IDC_TILT_X              156
#define IDC_TILT_Y              153
#define IDC_COMMAND_GROUP       157

/* Parameter dialogs */
#define IDC_PARAM_OK            101
#define IDC_PARAM_CANCEL        190
#define IDC_ELECTRODE_EDIT      102
#define IDC_ELECTRODE_LABEL     103
#define IDC_CURRENT_LABEL       105
#define IDC_CURRENT_EDIT        106
#define IDC_CURRENTS_LABEL      107
#define IDC_CURRENT1_LABEL      108
#define IDC_CURRENT1_EDIT       109
#define IDC_CURRENT2_LABEL      110
#define IDC_CURRENT2_EDIT       111
#define IDC_CURRENT3_EDIT       112
#define IDC_CURRENT4_EDIT       113
#define IDC_CURRENT3_LABEL      114
#define IDC_CURRENT4_LABEL      115
#define IDC_ADDRESS_LABEL       116
#define IDC_ADDRESS_EDIT        117
#define IDC_COUNT_LABEL         118
#define IDC_COUNT_EDIT          119
#define IDC_STEP_LABEL          131
#define IDC_STEP_EDIT           132

/* Script Manager DIALOG_SCRIPT */
#define IDC_SM_UPLOAD           127
#define IDC_SM_TIMESTEP         162
#define IDC_SM_UPLOAD_SAMPLES   161
#define IDC_SM_OUTPUT_LABEL     123
#define IDC_SM_COMPILER_OUTPUT  141
#define IDC_SM_CLEAR_MEM        169
#define IDC_SM_ADDRESS_LABEL    130
#define IDC_SM_ADDRESS          165
#define IDC_SM_VIEW             168
#define IDC_SM_APPEND           166
#define IDC_SM_MEMORY           164
#define IDC_SM_PREVIEW          170
#define SCRIPT_MANAGER_RESULT   129

/* Closing question DIALOG_CLOSE */
#define IDC_CLOSE_TEXT          210
#define IDC_CLOSE_IDLE          211
#define IDC_CLOSE_LEAVE         212
#define IDC_CLOSE_STAY          213

/* Command identifiers: 300 + device command code, then the window commands. */
#define ID_DEVICE_COMMAND_BASE  300
#define ID_DEVICE_COMMAND_LAST  330
#define ID_TOGGLE_ADVANCED      370
#define ID_CLEAR_PANES          371
#define ID_START_DATA_LOG       372
#define ID_START_TRAFFIC_LOG    373
#define ID_STOP_TRAFFIC_LOG     374
#define ID_STOP_DATA_LOG        375
#define ID_IDLE                 376
#define ID_EXIT                 390
#define ID_ABOUT                391

/* Receive timer */
#define RECEIVE_TIMER_ID        888
#define RECEIVE_TIMER_MS        25

/* Icon */
#define IDI_ICON1               1

#endif

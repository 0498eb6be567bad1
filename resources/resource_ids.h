// Resource numbers shared by the resource script and the program.
#pragma once

#define IDI_APP 101
#define IDR_SPLASH_PNG 102
#define IDI_APP_PAUSED 103    // the tray icon while paused
#define IDR_SPLASH_PNG_2X 104 // the splash drawn at twice the size

// The texts the user reads, in English and in Japanese.
#define IDS_STATUS_ENABLED 200
#define IDS_STATUS_PAUSED 201
#define IDS_TIP_ENABLED_LOGGING 202
#define IDS_TIP_PAUSED_LOGGING 203
#define IDS_PAUSE 204
#define IDS_RESUME 205
#define IDS_EXIT 206
#define IDS_START_WITH_WINDOWS 207
#define IDS_OPEN_SETTINGS 208
#define IDS_OPEN_LOGS 209
#define IDS_SETTINGS_NEXT_START 210
#define IDS_HOOK_FAILURE 211
#define IDS_SETTINGS 212
#define IDS_SETTINGS_TITLE 213
#define IDS_HOTKEY_BOTH 214
#define IDS_HOTKEY_CTRL_ONLY 215
#define IDS_HOTKEY_CTRL_SHIFT_ONLY 216
#define IDS_HOTKEY_AS_IN_FILE 217
#define IDS_SAVE_FAILED 218
#define IDS_SAVE_UNFAITHFUL 219
#define IDS_PROGRAM_FILTER 220
#define IDS_HINT 221 // %1: the kana, %2: the hotkey

// The settings window and its controls, the same in both languages.
#define IDD_SETTINGS 300
#define IDC_HOTKEY 2101
#define IDC_ROMAJI_ONLY 2102
#define IDC_LOGGING 2103
#define IDC_OPEN_LOGS 2104
#define IDC_START_AT_SIGN_IN 2105
#define IDC_CLEAR_ON_SPACE 2106
#define IDC_CLEAR_ON_CLICK 2107
#define IDC_BUFFER_LENGTH 2108
#define IDC_BUFFER_LENGTH_SPIN 2109
#define IDC_REINPUT_DELAY 2110
#define IDC_REINPUT_DELAY_SPIN 2111
#define IDC_APP_MODE 2112
#define IDC_EXCLUDED_APPS 2113
#define IDC_ADD_PROGRAM 2114
#define IDC_ADD_RUNNING 2115
#define IDC_REMOVE_PROGRAM 2116
#define IDC_RESTORE_DEFAULTS 2117
#define IDC_APPLY 2118
#define IDC_HOTKEY_LABEL 2119
#define IDC_BUFFER_LENGTH_LABEL 2120
#define IDC_REINPUT_DELAY_LABEL 2121
#define IDC_RECORDING_GROUP 2122
#define IDC_PROGRAMS_GROUP 2123
#define IDC_ROMAJI_HINT 2124

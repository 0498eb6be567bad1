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

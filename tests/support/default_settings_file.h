// The exact bytes of the settings file written for the defaults, as a user
// finds it on first start: 26 lines, each ended by CR LF, no byte-order mark.
#pragma once

#include <string>

namespace tavelio::testdata {

inline const std::string DefaultFileBytes = "{\r\n"
                                            "  \"enabled\": true,\r\n"
                                            "  \"startWithWindows\": false,\r\n"
                                            "  \"hotkey\": \"Ctrl+Backspace\",\r\n"
                                            "  \"alternateHotkeys\": [\r\n"
                                            "    \"Ctrl+Shift+Backspace\"\r\n"
                                            "  ],\r\n"
                                            "  \"bufferMaxLength\": 200,\r\n"
                                            "  \"clearOnSpace\": false,\r\n"
                                            "  \"clearOnEnter\": true,\r\n"
                                            "  \"clearOnMouseClick\": true,\r\n"
                                            "  \"imeMode\": \"auto\",\r\n"
                                            "  \"reinputDelayMs\": 50,\r\n"
                                            "  \"inputMethod\": \"sendinput\",\r\n"
                                            "  \"appMode\": \"all\",\r\n"
                                            "  \"excludedApps\": [\r\n"
                                            "    \"mstsc.exe\",\r\n"
                                            "    \"cmd.exe\",\r\n"
                                            "    \"powershell.exe\",\r\n"
                                            "    \"WindowsTerminal.exe\",\r\n"
                                            "    \"KeePass.exe\",\r\n"
                                            "    \"1Password.exe\",\r\n"
                                            "    \"Bitwarden.exe\"\r\n"
                                            "  ],\r\n"
                                            "  \"logging\": false\r\n"
                                            "}\r\n";

} // namespace tavelio::testdata

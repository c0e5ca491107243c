#pragma once

// Style sheets and image files of the check panel.
namespace panelstyle {

// The frame of the button that has the keyboard focus (a dark blue line, seen on the orange
// title bar and on the grey panel alike); the last rule of each button's style sheet.
inline constexpr const char* kFocusFrame = "QPushButton:focus {border: 2px solid #1a2a6c;}";

inline constexpr const char* kRowButton =
    "QPushButton {background-color: #4a6ff5;border: 1px solid #4a6ff5;border-radius: "
    "5px;color: white;height: 25px;width: 80px;font: 13px Microsoft YaHei;}QPushButton:hover "
    "{background-color: #6380ff;border: 2px solid #6380ff;}"
    "QPushButton:focus {border: 2px solid #1a2a6c;}";
inline constexpr const char* kBusyButton = "QPushButton {background-color: #b9b5b2;border: 1px "
                                           "solid #b9b5b2;border-radius: 5px;color: white;}";
inline constexpr const char* kReadyButton =
    "QPushButton {background-color: #4a6ff5;border: 1px solid #4a6ff5;border-radius: "
    "5px;color: white;font: 13px Microsoft YaHei;}QPushButton:hover {background-color: "
    "#6380ff;border: 2px solid #6380ff;}"
    "QPushButton:focus {border: 2px solid #1a2a6c;}";
inline constexpr const char* kGroupTitle =
    "border: none;font:  22px Microsoft YaHei; height: 22px;";
inline constexpr const char* kRegion = "font:  18px Microsoft YaHei; height: 22px;";
inline constexpr const char* kGood = "color: green;";
inline constexpr const char* kFault = "color: red;";

inline constexpr const char* kIconWaiting = "image/checking_wait.png";
inline constexpr const char* kIconChecking = "image/checking.png";
inline constexpr const char* kIconOk = "image/check_ok.png";
inline constexpr const char* kIconError = "image/check_err.png";

} // namespace panelstyle

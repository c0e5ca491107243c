#pragma once

class QAbstractButton;

// Reachable with Tab, pressed with Space, Enter and Return (outside a dialog a button takes
// Space only). A mouse click gives no focus: the window looks as before to the mouse.
void MakeKeyboardButton(QAbstractButton* button);

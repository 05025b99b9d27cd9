// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// The window's own words, one named function each: its title, the captions of its frames,
// labels, boxes and buttons, the preview's name for screen readers, and the words of Qt's own
// that the window shows (the fields' menu, the boxes' buttons). The captions are the form's as
// drawn: the layout was measured for them, so a change here is a change of the layout.
namespace OperatorText {

// "Vorla generator - " and the credit line.
QString windowTitle();

// "Podesavanja" and its fields.
QString settingsFrame();
QString portLabel();
QString rateLabel();
QString periodLabel();
QString periodUnit();
QString dtrBox();
QString rtsBox();

// "Slanje povorke" and its buttons.
QString sendingFrame();
QString onceButton();
QString repeatButton();
QString stopButton();

// "Podaci za slanje", and the exit.
QString trainFrame();
QString exitButton();

// The TX line preview, as a screen reader names it.
QString linePreviewName();

// Qt's words in the window: a text field's context menu (the accelerator stays on a letter of
// the word) and the buttons of Qt's boxes.
QString menuUndo();
QString menuRedo();
QString menuCut();
QString menuCopy();
QString menuPaste();
QString menuDelete();
QString menuSelectAll();
QString buttonOk();
QString buttonCancel();
QString buttonClose();
QString buttonApply();

} // namespace OperatorText

#pragma once
// The one way the core shows the operator a message that needs an OK: the
// size failure, the calibration prompts, Reload Config's missing file. The
// program installs the handler (the desktop shell shows a modal box whose
// loop keeps processing frames; the headless runner prints the text). The
// call returns when the operator has closed the box.

#include <functional>
#include <string>

using messageBoxHandler = std::function<void(const std::string& text)>;

// Installs a handler; an empty one restores the default, which writes the
// text and a line end to standard error.
void setMessageBoxHandler(messageBoxHandler handler);
void showMessageBox(const std::string& text);

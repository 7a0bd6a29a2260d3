#include "pipeline/messageBox.h"

#include <iostream>
#include <utility>

namespace {
messageBoxHandler& currentHandler() {
    static messageBoxHandler handler;
    return handler;
}
} // namespace

void setMessageBoxHandler(messageBoxHandler handler) {
    currentHandler() = std::move(handler);
}

void showMessageBox(const std::string& text) {
    // Copy first: a handler may install another one while its box is open.
    messageBoxHandler handler = currentHandler();
    if (handler)
        handler(text);
    else
        std::cerr << text << std::endl;
}

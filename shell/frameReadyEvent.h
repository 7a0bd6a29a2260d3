#pragma once
// The frame-ready notification the capture thread posts to the video view:
// one per stored frame, carrying no data (the view's document takes whatever
// frame is latest when the event is handled).

#include <QEvent>

inline const QEvent::Type frameReadyEventType = static_cast<QEvent::Type>(QEvent::User + 1);

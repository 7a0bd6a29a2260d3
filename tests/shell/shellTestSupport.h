#pragma once
// Small helpers for the desktop tests: frames, a scratch working directory,
// and a driver that answers modal message boxes from inside their own loop.

#include "capture/rgbaImage.h"
#include "shell/capturePump.h"
#include "shell/frameReadyEvent.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace shellTest {

// A frame of one colour with a marker pixel, so frames can be told apart.
inline rgbaImage solidFrame(int width, int height, std::uint8_t grey, std::uint8_t marker = 0) {
    rgbaImage frame(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame.row(y);
        for (int x = 0; x < width; ++x) {
            row[4 * x + 0] = grey;
            row[4 * x + 1] = grey;
            row[4 * x + 2] = grey;
            row[4 * x + 3] = 0;
        }
    }
    frame.row(height / 3)[4 * (width / 3)] = marker;
    return frame;
}

// Hands a frame to the pump as its worker would, and lets the target see
// the frame-ready event it posted.
inline void deliverAndDispatch(CCapturePump& pump, const rgbaImage& frame) {
    rgbaImage copy = frame;
    pump.DeliverFrame(copy);
    if (QObject* target = pump.NotifyTarget())
        QCoreApplication::sendPostedEvents(target, frameReadyEventType);
}

inline void dispatchFrameEvents(CCapturePump& pump) {
    if (QObject* target = pump.NotifyTarget())
        QCoreApplication::sendPostedEvents(target, frameReadyEventType);
}

// Runs the test in a fresh temporary directory and goes back afterwards.
class scratchDirectory {
public:
    scratchDirectory() {
        char buffer[4096];
        previous_ = ::getcwd(buffer, sizeof buffer) ? buffer : "/";
        EXPECT_TRUE(dir_.isValid());
        EXPECT_EQ(::chdir(dir_.path().toLocal8Bit().constData()), 0);
    }
    ~scratchDirectory() { (void)::chdir(previous_.c_str()); }
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    std::string previous_;
};

// Answers every modal message box that opens while it lives: records the
// text, runs `whileOpen` (the box is open and its loop running), then presses
// OK. The check runs from a zero-interval timer, which every nested event
// loop services.
class messageBoxAnswerer {
public:
    explicit messageBoxAnswerer(std::function<void(QMessageBox&)> whileOpen = {})
        : whileOpen_(std::move(whileOpen)) {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    const std::vector<QString>& texts() const { return texts_; }

private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == answering_)
            return;
        answering_ = box;
        texts_.push_back(box->text());
        if (whileOpen_)
            whileOpen_(*box);
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
        answering_ = nullptr;
    }

    std::function<void(QMessageBox&)> whileOpen_;
    QTimer timer_;
    std::vector<QString> texts_;
    QMessageBox* answering_ = nullptr;
};

// The sixth field (calibration step) and the first (sequence) of a message.
inline std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> out;
    std::string current;
    for (char c : text) {
        if (c == ' ') {
            out.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    out.push_back(current);
    return out;
}

} // namespace shellTest

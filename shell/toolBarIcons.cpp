#include "shell/toolBarIcons.h"

#include "shell/commandIds.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

void drawPage(QPainter& p, int x, int y, int w, int h) {
    QPolygon page;
    page << QPoint(x, y) << QPoint(x + w - 4, y) << QPoint(x + w, y + 4) << QPoint(x + w, y + h) << QPoint(x, y + h);
    p.setBrush(Qt::white);
    p.drawPolygon(page);
    p.drawLine(x + w - 4, y, x + w - 4, y + 4);
    p.drawLine(x + w - 4, y + 4, x + w, y + 4);
}

} // namespace

QIcon toolBarIcon(int id) {
    QPixmap pixmap(32, 30); // drawn at twice the size, shown at 16 x 15
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(2.0, 2.0);
    p.setPen(QPen(Qt::black, 1.0));
    switch (id) {
    case commandId::fileNew:
        drawPage(p, 3, 1, 10, 13);
        break;
    case commandId::fileOpen:
        p.setBrush(QColor(230, 200, 80));
        p.drawRect(1, 4, 13, 9);
        p.drawRect(1, 2, 5, 2);
        break;
    case commandId::fileSave:
        p.setBrush(QColor(60, 80, 160));
        p.drawRect(1, 1, 13, 13);
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 7, 5);
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(4, 9, 7, 5);
        break;
    case commandId::editCut:
        p.drawLine(4, 1, 10, 9);
        p.drawLine(11, 1, 5, 9);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(2, 9, 4, 4));
        p.drawEllipse(QRectF(9, 9, 4, 4));
        break;
    case commandId::editCopy:
        drawPage(p, 1, 1, 8, 9);
        drawPage(p, 6, 5, 8, 9);
        break;
    case commandId::editPaste:
        p.setBrush(QColor(170, 120, 60));
        p.drawRect(1, 2, 10, 12);
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(4, 1, 4, 2);
        drawPage(p, 6, 5, 8, 9);
        break;
    case commandId::filePrint:
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 8, 5);
        p.setBrush(QColor(190, 190, 190));
        p.drawRect(1, 6, 14, 6);
        p.setBrush(Qt::white);
        p.drawRect(4, 10, 8, 4);
        break;
    case commandId::mainControls:
        for (int row = 0; row < 3; ++row) {
            const int y = 3 + row * 4;
            p.drawLine(1, y, 14, y);
            p.setBrush(QColor(60, 80, 160));
            p.drawRect(3 + row * 4, y - 2, 3, 4);
        }
        break;
    case commandId::visionOnOff: {
        QPainterPath eye;
        eye.moveTo(1, 7.5);
        eye.quadTo(7.5, 0, 14, 7.5);
        eye.quadTo(7.5, 15, 1, 7.5);
        p.setBrush(Qt::white);
        p.drawPath(eye);
        p.setBrush(QColor(30, 110, 30));
        p.drawEllipse(QRectF(5, 4.5, 5, 5));
        break;
    }
    default:
        break;
    }
    p.end();
    return QIcon(pixmap);
}

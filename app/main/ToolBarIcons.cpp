// Tool bar images.
#include "app/main/ToolBarIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace brenwick {

namespace {

const char* themeName(TToolIcon which) {
    switch (which) {
        case TToolIcon::New:
            return "document-new";
        case TToolIcon::Open:
            return "document-open";
        case TToolIcon::Save:
            return "document-save";
        case TToolIcon::SaveAs:
            return "document-save-as";
        case TToolIcon::Erase:
            return "edit-clear";
        case TToolIcon::Prepare:
            return "view-refresh";
        case TToolIcon::Burn:
            return "media-record";
        case TToolIcon::Stop:
            return "process-stop";
        case TToolIcon::About:
            return "help-about";
        case TToolIcon::Exit:
            return "application-exit";
        case TToolIcon::Add:
            return "list-add";
        case TToolIcon::Remove:
            return "list-remove";
    }
    return "";
}

void drawPage(QPainter& p, const QColor& mark) {
    QPainterPath page;
    page.moveTo(15, 4);
    page.lineTo(27, 4);
    page.lineTo(33, 10);
    page.lineTo(33, 32);
    page.lineTo(15, 32);
    page.closeSubpath();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setBrush(mark);
    p.drawRect(18, 16, 12, 3);
}

void drawDisc(QPainter& p, const QColor& ring) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(0xD8, 0xD8, 0xE8));
    p.drawEllipse(QPoint(23, 18), 15, 15);
    p.setBrush(ring);
    p.drawEllipse(QPoint(23, 18), 8, 8);
    p.setBrush(Qt::white);
    p.drawEllipse(QPoint(23, 18), 3, 3);
}

void drawSign(QPainter& p, const QColor& colour, bool plus) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRect(13, 16, 20, 5);
    if (plus) p.drawRect(20, 8, 5, 20);
}

}  // namespace

QPixmap DrawnToolBarImage(TToolIcon which) {
    QPixmap image(kToolBarIconSize);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    switch (which) {
        case TToolIcon::New:
            drawPage(p, QColor(0x20, 0xA0, 0x20));
            break;
        case TToolIcon::Open:
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(0xF0, 0xC0, 0x40));
            p.drawRect(8, 10, 30, 20);
            p.drawRect(8, 6, 12, 4);
            break;
        case TToolIcon::Save:
        case TToolIcon::SaveAs:
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(0x30, 0x50, 0xA0));
            p.drawRect(9, 4, 28, 28);
            p.setBrush(Qt::white);
            p.drawRect(14, 4, 18, 10);
            if (which == TToolIcon::SaveAs) drawSign(p, QColor(0xE0, 0x80, 0x00), true);
            break;
        case TToolIcon::Erase:
            drawDisc(p, QColor(0x90, 0x90, 0x90));
            break;
        case TToolIcon::Prepare:
            drawDisc(p, QColor(0x30, 0x90, 0x30));
            break;
        case TToolIcon::Burn:
            drawDisc(p, QColor(0xD0, 0x20, 0x20));
            break;
        case TToolIcon::Stop:
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xC0, 0x10, 0x10));
            p.drawRect(12, 7, 22, 22);
            break;
        case TToolIcon::About:
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(0x30, 0x60, 0xC0));
            p.drawEllipse(QPoint(23, 18), 14, 14);
            p.setPen(QPen(Qt::white, 4));
            p.drawLine(23, 16, 23, 26);
            p.drawPoint(23, 10);
            break;
        case TToolIcon::Exit:
            p.setPen(QPen(QColor(0x80, 0x10, 0x10), 4));
            p.drawLine(12, 18, 32, 18);
            p.drawLine(24, 10, 32, 18);
            p.drawLine(24, 26, 32, 18);
            break;
        case TToolIcon::Add:
            drawSign(p, QColor(0x20, 0xA0, 0x20), true);
            break;
        case TToolIcon::Remove:
            drawSign(p, QColor(0xC0, 0x20, 0x20), false);
            break;
    }
    return image;
}

QIcon ToolBarIcon(TToolIcon which) {
    return QIcon::fromTheme(themeName(which), QIcon(DrawnToolBarImage(which)));
}

}  // namespace brenwick

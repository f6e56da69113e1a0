// The status bar: sunken panels with their texts, and child controls at fixed positions.
#include "widgets/EnStatusBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace brenwick {

namespace {
constexpr int kPanelGap = 2;  // between two panels
constexpr int kTextIndent = 3;
}  // namespace

TEnStatusBar::TEnStatusBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(true);
}

void TEnStatusBar::SetPanels(std::vector<TStatusPanel> panels) {
    m_panels = std::move(panels);
    update();
}

QString TEnStatusBar::PanelText(int index) const {
    if (index < 0 || index >= PanelCount()) return {};
    return m_panels[std::size_t(index)].Text;
}

void TEnStatusBar::SetPanelText(int index, const QString& text) {
    if (index < 0 || index >= PanelCount() || m_panels[std::size_t(index)].Text == text) return;
    m_panels[std::size_t(index)].Text = text;
    update(PanelRect(index));
}

QRect TEnStatusBar::PanelRect(int index) const {
    int left = 0;
    for (int i = 0; i < index; ++i) left += m_panels[std::size_t(i)].Width;
    const bool last = index == PanelCount() - 1;
    const int w = last ? width() - left : m_panels[std::size_t(index)].Width - kPanelGap;
    return QRect(left, kPanelGap, w, height() - kPanelGap);
}

void TEnStatusBar::HostChild(QWidget* child, const QRect& geometry) {
    child->setParent(this);
    child->setGeometry(geometry);
    child->show();
}

void TEnStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    for (int i = 0; i < PanelCount(); ++i) {
        const QRect r = PanelRect(i);
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.rect = r;
        frame.lineWidth = 1;
        frame.state |= QStyle::State_Sunken;
        style()->drawPrimitive(QStyle::PE_Frame, &frame, &p, this);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r.adjusted(kTextIndent, 0, -kTextIndent, 0), Qt::AlignLeft | Qt::AlignVCenter,
                   m_panels[std::size_t(i)].Text);
    }
}

}  // namespace brenwick

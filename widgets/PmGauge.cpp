// The gauge: its setters' rules and its painting through exclusive-or layers.
#include "widgets/PmGauge.h"

#include <QFontMetrics>
#include <QPainter>
#include <climits>

#include "widgets/BltBitmap.h"
#include "widgets/PmGaugeMath.h"

namespace brenwick {

namespace {

// Combines `layer` into `target` with exclusive or (SRCINVERT) at (0, 0).
void combineXor(QImage& target, const QImage& layer) {
    QPainter p(&target);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.drawImage(0, 0, layer);
}

}  // namespace

TPmGauge::TPmGauge(QWidget* parent) : QWidget(parent) {
    resize(150, 30);
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel of the area is painted
}

std::int32_t TPmGauge::PercentDone() const {
    return brenwick::PercentDone(m_minValue, m_maxValue, m_progress);
}

void TPmGauge::SetMinValue(std::int32_t value) {
    if (value == m_minValue) return;
    if (value > m_maxValue && !m_loading)
        throw EInvalidOperation(RangeErrorText(-INT_MAX, std::int64_t(m_maxValue) - 1));
    m_minValue = value;
    if (m_progress < value) m_progress = value;
    repaint();
}

void TPmGauge::SetMaxValue(std::int32_t value) {
    if (value == m_maxValue) return;
    if (value < m_minValue && !m_loading)
        throw EInvalidOperation(RangeErrorText(std::int64_t(m_minValue) + 1, INT_MAX));
    m_maxValue = value;
    if (m_progress > value) m_progress = value;
    repaint();
}

void TPmGauge::SetProgress(std::int32_t value) {
    // Clamped by hand: while loading the bounds may be crossed, where std::clamp would be undefined.
    if (value < m_minValue) value = m_minValue;
    if (value > m_maxValue) value = m_maxValue;
    if (value == m_progress) return;
    const std::int32_t before = PercentDone();
    m_progress = value;
    if (PercentDone() != before) repaint();
}

void TPmGauge::SetShowText(bool value) {
    if (value == m_showText) return;
    m_showText = value;
    repaint();
}

void TPmGauge::SetBorderStyle(TBorderStyle value) {
    if (value == m_borderStyle) return;
    m_borderStyle = value;
    repaint();
}

void TPmGauge::SetForeColor(const QColor& value) {
    if (value == m_foreColor) return;
    m_foreColor = value;
    repaint();
}

void TPmGauge::SetBackColor(const QColor& value) {
    if (value == m_backColor) return;
    m_backColor = value;
    repaint();
}

QImage TPmGauge::Render() const {
    QImage b(size(), QImage::Format_RGB32);
    ClearToBlack(b);
    const TGaugeRect r = BarRect(width(), height(), m_borderStyle == TBorderStyle::bsSingle);

    TBltBitmap bar;
    bar.MakeLike(b);
    ClearToBlack(bar);
    const int fill = FillWidth(PercentDone(), r);
    {
        QPainter p(&bar);
        p.fillRect(QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1)), m_backColor);
        const int h = r.Bottom - r.Top + 1;
        if (fill > 0) p.fillRect(QRect(QPoint(r.Left, r.Top), QPoint(fill - 1, h - 1)), m_foreColor);
    }
    combineXor(b, bar);
    if (m_showText) addTextLayer(b, fill);
    return b;
}

void TPmGauge::addTextLayer(QImage& target, int fill) const {
    TBltBitmap t;
    t.MakeLike(target);
    ClearToBlack(t);
    const QString text = QString::fromStdString(PercentText(PercentDone()));
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text);
    const TGaugeRect r = BarRect(width(), height(), m_borderStyle == TBorderStyle::bsSingle);
    const std::optional<TTextOrigin> origin = TextOrigin(fill, r, textWidth, metrics.height());
    if (origin) {
        QPainter p(&t);
        p.setFont(font());
        p.setPen(QColor(0xFF, 0xFF, 0xFF));  // the font's own colour is not used
        p.setClipRect(QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1)));
        p.drawText(origin->x, origin->y + metrics.ascent(), text);
    }
    combineXor(target, t);
}

void TPmGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, Render());
}

}  // namespace brenwick

// TPmGauge: a flicker-free horizontal progress bar with its percentage written on the bar. Each change
// of a property repaints at once, and a new Progress only when the whole percentage changes, so callers
// may set Progress as often as they like.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <stdexcept>

namespace brenwick {

// The invalid-operation error of the range setters: "Value must be between %d and %d".
class EInvalidOperation : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

enum class TBorderStyle { bsNone, bsSingle };

class TPmGauge : public QWidget {
    Q_OBJECT

  public:
    explicit TPmGauge(QWidget* parent = nullptr);

    std::int32_t MinValue() const { return m_minValue; }
    std::int32_t MaxValue() const { return m_maxValue; }
    std::int32_t Progress() const { return m_progress; }
    bool ShowText() const { return m_showText; }
    TBorderStyle BorderStyle() const { return m_borderStyle; }
    QColor ForeColor() const { return m_foreColor; }
    QColor BackColor() const { return m_backColor; }
    std::int32_t PercentDone() const;

    // Throw EInvalidOperation when the new bound would cross the other one, except while loading.
    void SetMinValue(std::int32_t value);
    void SetMaxValue(std::int32_t value);
    void SetProgress(std::int32_t value);
    void SetShowText(bool value);
    void SetBorderStyle(TBorderStyle value);
    void SetForeColor(const QColor& value);
    void SetBackColor(const QColor& value);

    // While the stored form is applied, the bounds take any value in any order.
    void SetLoading(bool loading) { m_loading = loading; }

    // The finished picture of the bar as the paint request puts it on the screen.
    QImage Render() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void addTextLayer(QImage& target, int fill) const;

    std::int32_t m_minValue = 0;
    std::int32_t m_maxValue = 100;
    std::int32_t m_progress = 0;
    bool m_showText = true;
    TBorderStyle m_borderStyle = TBorderStyle::bsSingle;
    QColor m_foreColor = Qt::black;
    QColor m_backColor = Qt::white;
    bool m_loading = false;
};

}  // namespace brenwick

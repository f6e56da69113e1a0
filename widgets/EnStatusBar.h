// TEnStatusBar: a status bar of panels that also hosts child controls. Children are placed in its client
// coordinates and keep the positions they are given: they do not follow the panels.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

namespace brenwick {

struct TStatusPanel {
    int Width = 50;  // pixels; the last panel takes the rest of the bar
    QString Text;
};

class TEnStatusBar : public QWidget {
    Q_OBJECT

  public:
    explicit TEnStatusBar(QWidget* parent = nullptr);

    // The panels, left to right.
    void SetPanels(std::vector<TStatusPanel> panels);
    int PanelCount() const { return int(m_panels.size()); }
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    // A panel's rectangle in the bar's client coordinates.
    QRect PanelRect(int index) const;

    // Places `child` on the bar at `geometry` (client coordinates); it stays there.
    void HostChild(QWidget* child, const QRect& geometry);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<TStatusPanel> m_panels;
};

}  // namespace brenwick

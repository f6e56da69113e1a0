// TAboutForm: the About window, a frameless picture of 500 x 350 that stays above other windows, has no
// task-bar entry, moves with the mouse and hides on a double click. The next About shows it again.
#pragma once

#include <QByteArray>
#include <QLabel>
#include <QWidget>

namespace brenwick {

// The About picture embedded in the program (a JPEG).
QByteArray EmbeddedAboutPicture();

class TAboutForm : public QWidget {
    Q_OBJECT

  public:
    // `picture` is a JPEG; one that does not decode leaves the window empty.
    explicit TAboutForm(const QByteArray& picture = EmbeddedAboutPicture());

    QLabel* Image;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FormCreate();
    void ImageMouseDown(Qt::MouseButton button);
    void ImageDblClick();
};

}  // namespace brenwick

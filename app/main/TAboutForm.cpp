#include "app/main/TAboutForm.h"

#include <QFile>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include "app/main/JpegPicture.h"

static void InitAboutResource() {
    Q_INIT_RESOURCE(about);  // the picture lives in the static library brenwick_main
}

namespace brenwick {

QByteArray EmbeddedAboutPicture() {
    InitAboutResource();
    QFile file(":/brenwick/about.jpg");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TAboutForm::TAboutForm(const QByteArray& picture)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
    setObjectName("AboutForm");
    setWindowTitle("Pellucan - About");
    setAutoFillBackground(true);
    setAttribute(Qt::WA_QuitOnClose, false);  // the program ends with the main window, shown About or not
    Image = new QLabel(this);
    Image->setObjectName("Image");
    Image->setAlignment(Qt::AlignCenter);
    Image->setCursor(Qt::PointingHandCursor);
    const QImage decoded = DecodeJpeg(picture);
    if (!decoded.isNull()) {
        Image->setPixmap(QPixmap::fromImage(decoded));
    }
    Image->installEventFilter(this);
    FormCreate();
}

// A window of its own (no owner), on top, no task-bar entry (the flags above), 500 x 350, centred.
void TAboutForm::FormCreate() {
    setFixedSize(500, 350);
    Image->setGeometry(rect());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image) {
        if (event->type() == QEvent::MouseButtonPress) {
            ImageMouseDown(static_cast<QMouseEvent*>(event)->button());
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            ImageDblClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The left button moves the window with the mouse until it is released (the window system moves it).
void TAboutForm::ImageMouseDown(Qt::MouseButton button) {
    if (button != Qt::LeftButton) {
        return;
    }
    if (QWidget* grabber = QWidget::mouseGrabber()) {
        grabber->releaseMouse();
    }
    if (QWindow* window = windowHandle()) {
        window->startSystemMove();
    }
}

void TAboutForm::ImageDblClick() {
    hide();
}

}  // namespace brenwick

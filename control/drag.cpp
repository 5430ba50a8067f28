#include "scan39/drag.h"

#include <QCoreApplication>
#include <QMouseEvent>

#include "scan39/host/picture_box.h"
#include "scan39/uo_scan.h"

namespace scan39 {

namespace {

// Sends a mouse event to Image1 at a pixel of its picture (the border lies before it).
void SendMouse(host::PictureBox* box, QEvent::Type type, int x, int y) {
    const QPointF local(x + host::PictureBox::kBorderPixels, y + host::PictureBox::kBorderPixels);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::MouseButtons() : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, local, box->mapToGlobal(local), button, held, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &event);
}

}  // namespace

std::int16_t DragAndScan(Uo_Scan& control, int x1, int y1, int x2, int y2) {
    host::PictureBox* image = control.Image1();
    SendMouse(image, QEvent::MouseButtonPress, x1, y1);
    SendMouse(image, QEvent::MouseMove, x2, y2);
    SendMouse(image, QEvent::MouseButtonRelease, x2, y2);
    return control.Scan();
}

}  // namespace scan39

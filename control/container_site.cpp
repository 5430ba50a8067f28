#include "scan39/container_site.h"

#include <QCoreApplication>
#include <QResizeEvent>

#include "scan39/host/errors.h"
#include "scan39/host/services.h"

namespace scan39 {

void ContainerSite::PropertyChanged(const QString& name) {
    if (recording_) changes_.append(name);
}

void ContainerSite::SetExtenderProperty(const QString& name, const host::Variant& value) {
    const bool width = name.compare(QLatin1String("Width"), Qt::CaseInsensitive) == 0;
    const bool height = name.compare(QLatin1String("Height"), Qt::CaseInsensitive) == 0;
    if ((!width && !height) || control_ == nullptr)
        throw host::RuntimeError(host::kErrObjectDoesNotSupport);
    const std::int32_t twips = value.toInt32();
    const int pixels = host::TwipsToPixel(twips);
    if (twips < 0 || pixels > QWIDGETSIZE_MAX)
        throw host::RuntimeError(host::kErrInvalidPropertyValue);

    const QSize before = control_->size();
    const QSize after = width ? QSize(pixels, before.height()) : QSize(before.width(), pixels);
    control_->resize(after);
    // A hidden widget would get its resize event only when shown; the control's Resize must
    // run now, while the caller still relies on the new layout.
    if (!control_->isVisible()) {
        QResizeEvent event(after, before);
        QCoreApplication::sendEvent(control_, &event);
    }
}

}  // namespace scan39

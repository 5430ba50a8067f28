#include "scan39/dialogs/window_handles.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <limits>

namespace scan39::dialogs {
namespace {

struct Registry {
    QHash<HWND, QPointer<QWidget>> widgets;
    QHash<const QWidget*, HWND> handles;
    HWND next = 1;

    // The next free handle. Handles are not reused until the counter wraps, so a stale handle
    // does not quietly name a newer window.
    HWND Allocate() {
        const auto after = [](HWND h) { return h == std::numeric_limits<HWND>::max() ? 1 : h + 1; };
        while (widgets.contains(next)) next = after(next);
        const HWND handle = next;
        next = after(handle);
        return handle;
    }
};

// Never destroyed: widgets may outlive static destruction and still report their end here.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

HWND HandleOf(QWidget* widget) {
    if (!widget) return 0;
    Registry& registry = TheRegistry();
    if (const auto found = registry.handles.constFind(widget); found != registry.handles.cend()) {
        return found.value();
    }
    const HWND handle = registry.Allocate();
    registry.widgets.insert(handle, QPointer<QWidget>(widget));
    registry.handles.insert(widget, handle);
    QObject::connect(widget, &QObject::destroyed, [widget, handle] {
        Registry& r = TheRegistry();
        r.widgets.remove(handle);
        r.handles.remove(widget);
    });
    return handle;
}

QWidget* WidgetFromHandle(HWND handle) {
    if (handle == 0) return nullptr;
    const Registry& registry = TheRegistry();
    const auto found = registry.widgets.constFind(handle);
    return found == registry.widgets.cend() ? nullptr : found.value().data();
}

bool ResolveOwner(HWND handle, QWidget*& owner) {
    owner = WidgetFromHandle(handle);
    return handle == 0 || owner != nullptr;
}

}  // namespace scan39::dialogs

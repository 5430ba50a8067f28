#include "scan39/create_control.h"

#include "scan39/uo_scan.h"

namespace scan39 {

QWidget* CreateControl(const QString& classId, QWidget* parent, host::ControlSite* site) {
    // Class identifiers compare without regard to case, as the registry does.
    if (classId.compare(QLatin1String(kUoScanClassId), Qt::CaseInsensitive) == 0)
        return new Uo_Scan(site, parent);
    return nullptr;
}

}  // namespace scan39

#pragma once
// Creating a hosted control from the class identifier a stored window description names.

#include <QString>

class QWidget;

namespace scan39::host {
class ControlSite;
}

namespace scan39 {

inline constexpr char kUoScanClassId[] = "Florimant.Uo_Scan";

// A new control of the class `classId` (initialised, not yet defaulted or loaded: the caller
// runs InitProperties or ReadProperties), or nullptr for an unknown identifier. `site` must
// outlive the control; nullptr gives the control a standalone site.
QWidget* CreateControl(const QString& classId, QWidget* parent, host::ControlSite* site);

}  // namespace scan39

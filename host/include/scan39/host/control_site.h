#pragma once
// What a hosted control needs of its container.

#include <QString>

#include "scan39/host/variant.h"

namespace scan39::host {

class ControlSite {
  public:
    virtual ~ControlSite() = default;
    // Tells the container that the named property changed (the instance has unsaved changes).
    virtual void PropertyChanged(const QString& name) = 0;
    // Ambient design-mode flag: true at run time, false in a designer.
    virtual bool UserMode() const = 0;
    // Sets an extender property ("Width", "Height", in the container's twips) by name. Resizes
    // the control, which then runs its Resize handler. Throws RuntimeError 438 for a name
    // the extender does not have.
    virtual void SetExtenderProperty(const QString& name, const Variant& value) = 0;
};

}  // namespace scan39::host

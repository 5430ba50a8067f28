#pragma once
// A container's side of a hosted control: records property-changed notifications, carries the
// design-mode flag and implements the extender's "Width" and "Height" by resizing the control.

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "scan39/host/control_site.h"

namespace scan39 {

class ContainerSite : public host::ControlSite {
  public:
    // `userMode`: true at run time, false in a designer.
    explicit ContainerSite(bool userMode = true) : userMode_(userMode) {}

    // The control this site's extender sizes. A Uo_Scan attaches itself to its site when the
    // site has no control yet; attach explicitly to host another widget.
    void attach(QWidget* control) { control_ = control; }
    QWidget* control() const { return control_; }

    void setUserMode(bool userMode) { userMode_ = userMode; }
    // Recording the names can be switched off (the standalone site drops them).
    void setRecording(bool on) { recording_ = on; }

    // Every notification since construction or the last clearChanges(), in order.
    const QStringList& changes() const { return changes_; }
    void clearChanges() { changes_.clear(); }

    void PropertyChanged(const QString& name) override;
    bool UserMode() const override { return userMode_; }
    // "Width" and "Height" in twips (any numeric value; rounded to whole twips, then to the
    // nearest pixel) resize the control and run its resize handling at once, even while it
    // is hidden. Other names throw RuntimeError 438; a non-numeric value 13, one beyond 32
    // bits 6, a negative or wider-than-a-widget one 380; without an attached control 438.
    void SetExtenderProperty(const QString& name, const host::Variant& value) override;

  private:
    QPointer<QWidget> control_;
    bool userMode_;
    bool recording_ = true;
    QStringList changes_;
};

}  // namespace scan39

#pragma once
// Uo_Scan: the scanning control. Shows a picture in its picture box Image1, lets the user drag
// a red box over a barcode and reads the Code 39 symbol under the box's top edge.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "scan39/host/boolean.h"
#include "scan39/host/picture.h"
#include "scan39/host/variant.h"
#include "scan39/pattern_table.h"

namespace scan39::host {
class ControlSite;
class PictureBox;
class PropertyStore;
}  // namespace scan39::host

namespace scan39 {

class ContainerSite;

class Uo_Scan : public QWidget {
    Q_OBJECT

  public:
    // The designed layout, in twips.
    static constexpr int kDesignWidth = 4035;
    static constexpr int kDesignHeight = 1560;
    static constexpr int kImage1DesignWidth = 3780;
    static constexpr int kImage1DesignHeight = 1320;

    // `site` is the container's side of the control and must outlive it; nullptr gives a
    // standalone site (run time, extender sizes the control itself, notifications dropped).
    // Construction lays out the designed control with its default picture and runs
    // Initialize; the container then calls InitProperties or ReadProperties.
    explicit Uo_Scan(host::ControlSite* site = nullptr, QWidget* parent = nullptr);
    ~Uo_Scan() override;

    // --- The programmatic interface, in its fixed order. ---

    // Reads the symbol along the row ya + 20 from xa + 10 to xb of what Image1 shows. Returns
    // 0 with the text in Value, or 1 (Value emptied when xb <= xa, kept otherwise). Never
    // throws.
    std::int16_t Scan();
    // The picture Image1 shows (the object itself; nullptr for none).
    host::PictureRef Picture() const;
    // Image1 takes the picture, the control sizes itself to Image1 through the extender and
    // the site hears "Picture". Throws when the extender refuses, after Image1 took it.
    void setPicture(const host::PictureRef& New_Picture);
    std::int32_t xa() const { return m_xa; }
    void setXa(std::int32_t New_xa);
    std::int32_t xb() const { return m_xb; }
    void setXb(std::int32_t New_xb);
    std::int32_t ya() const { return m_ya; }
    void setYa(std::int32_t New_ya);
    // Stored and returned with its type unchanged.
    host::Variant yb() const { return m_yb; }
    void setYb(const host::Variant& New_yb);
    QString Value() const { return m_Value; }
    // Read-only for every caller: always throws RuntimeError 382 at run time and 387 in a
    // designer, and changes nothing.
    void setValue(const QString& New_Value);

    // --- Callbacks the container calls. ---

    void Initialize();
    void InitProperties();
    // Keys "Picture", "xa", "xb", "ya", "yb", "Value" in this order. A value that does not
    // convert stops the load at its key with the earlier keys applied (RuntimeError 13 or 6).
    void ReadProperties(const host::PropertyStore& store);
    void WriteProperties(host::PropertyStore& store) const;
    // Places Image1 at the control's top-left corner with the control's size; never throws.
    void Resize();

    // --- Image1 and its mouse handlers (positions in twips relative to Image1's picture). ---

    host::PictureBox* Image1() const { return image1_; }
    void Image1_MouseDown(float X, float Y);
    void Image1_MouseMove(float X, float Y);
    void Image1_MouseUp();

    // The drag state, for inspection.
    bool dragging() const { return Dragging != host::kFalse; }

    host::ControlSite* site() const { return site_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    host::ControlSite& Site() const { return *site_; }

    // Fields in their fixed order.
    ::scan39::PatternTable PatternTable{};
    host::Variant PressX;
    host::Variant PressY;
    host::Variant MoveX;
    float MoveY = 0.0f;
    host::Variant BoxX1;
    host::Variant BoxY1;
    host::Variant BoxX2;
    float BoxY2 = 0.0f;
    host::Boolean Dragging = host::kFalse;
    std::int32_t m_xa = 0;
    std::int32_t m_xb = 0;
    std::int32_t m_ya = 0;
    host::Variant m_yb;
    QString m_Value;

    std::unique_ptr<ContainerSite> ownSite_;  // the standalone site when none was given
    host::ControlSite* site_ = nullptr;
    host::PictureBox* image1_ = nullptr;
};

}  // namespace scan39

#pragma once
// Form1: the demonstration window. Its layout and texts come from form1.ui; its behaviour is
// the two button handlers.

#include <QWidget>
#include <memory>

namespace scan39::dialogs {
class CommonDialogLayer;
}
namespace scan39::host {
class ControlSite;
}
namespace Ui {
class Form1;
}

namespace scan39 {
class Uo_Scan;
}

namespace scan39::app {

class Form1 : public QWidget {
    Q_OBJECT

  public:
    // `dialogs` is the common-dialog layer the load command uses (nullptr: Qt's dialogs).
    explicit Form1(dialogs::CommonDialogLayer* dialogs = nullptr, QWidget* parent = nullptr);
    ~Form1() override;

    Uo_Scan* scanControl() const { return uo_scan1_; }

    // Shows the picture a file manager or the command line named, the name used exactly as
    // given. A picture that cannot be loaded ends in the same warning box as the load command,
    // and the control keeps the picture it had. True when the picture is shown.
    bool OpenPicture(const QString& path);

  public slots:
    void Command1_Click();  // decode
    void Command2_Click();  // load picture

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void createScanControl();
    void ShowLoadError(const QString& description);

    std::unique_ptr<Ui::Form1> ui_;
    std::unique_ptr<host::ControlSite> site_;
    Uo_Scan* uo_scan1_ = nullptr;
    dialogs::CommonDialogLayer* dialogs_;
    bool centred_ = false;
};

}  // namespace scan39::app

// GoogleTest main with a widget application: the message box and image plugins need one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLoggingCategory>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The damaged-picture sweeps make the decoders complain thousands of times.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#pragma once
// An offscreen application for the fuzz targets that go through Qt's image readers.

#include <QGuiApplication>

namespace scan39::fuzz {

inline void StartOffscreenGui() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Damaged input makes Qt and its image libraries warn on nearly every run.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 1;
    static char name[] = "scan39-fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

}  // namespace scan39::fuzz

#pragma once
// An offscreen application for the fuzz targets that go through Qt's image readers.

#include <QByteArray>
#include <QGuiApplication>
#include <filesystem>
#include <string_view>

#include "fuzz_support_p.h"

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

inline void WriteSeed(const std::filesystem::path& dir, std::string_view name,
                      const QByteArray& bytes) {
    WriteSeed(dir, name,
              std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

}  // namespace scan39::fuzz

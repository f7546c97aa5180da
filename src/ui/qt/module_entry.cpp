// The window module's one export: shows Form1 with the program's host and returns when the
// window has closed.
#include "ui/qt/form1_qt.h"
#include "ui/window_module.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>

#include <memory>

namespace {

// Whether a platform plugin named by QT_QPA_PLATFORM (a ';' list of "name[:options]") is
// installed. Without one, constructing the application ends the process instead of returning.
bool HasRequestedPlatformPlugin() {
    const QString requested = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (requested.isEmpty()) {
        return true; // the default platform: the program probed its display already
    }
    QStringList folders;
    if (const QString own = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.isEmpty()) {
        folders << own;
    }
    for (const QString& path : QCoreApplication::libraryPaths()) {
        folders << path + QStringLiteral("/platforms");
    }
    QStringList names;
    for (const QString& entry : requested.split(u';', Qt::SkipEmptyParts)) {
        names << entry.section(u':', 0, 0);
    }
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& file : dir.entryList(QDir::Files)) {
            const QJsonArray keys = QPluginLoader(dir.filePath(file))
                                        .metaData()
                                        .value(QStringLiteral("MetaData"))
                                        .toObject()
                                        .value(QStringLiteral("Keys"))
                                        .toArray();
            for (const QJsonValue& key : keys) {
                if (names.contains(key.toString(), Qt::CaseInsensitive)) {
                    return true;
                }
            }
        }
    }
    return false;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int addrwatch_show_form(ui::FormHost* host,
                                                                          int modal) {
    static int argc = 1;
    static char name[] = "addrwatch";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QApplication> application;
    if (QCoreApplication::instance() == nullptr) {
        if (!HasRequestedPlatformPlugin()) {
            return ui::kWindowNoPlatform;
        }
        application = std::make_unique<QApplication>(argc, argv);
    }
    if (QGuiApplication::primaryScreen() == nullptr) {
        return ui::kWindowNoDisplay;
    }
    {
        QEventLoop loop;
        ui::QtFormWindow window(*host);
        window.SetClosedHandler([&loop] { loop.quit(); });
        window.Open();
        if (modal != 0) {
            window.setWindowModality(Qt::ApplicationModal);
        }
        window.show();
        loop.exec();
    }
    host->Closed();
    return ui::kWindowClosed;
}

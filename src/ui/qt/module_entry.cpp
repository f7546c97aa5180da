// The window module's one export: shows Form1 with the program's host and returns when the
// window has closed.
#include "ui/qt/form1_qt.h"
#include "ui/window_module.h"

#include <QApplication>
#include <QEventLoop>

#include <memory>

extern "C" __attribute__((visibility("default"))) int addrwatch_show_form(ui::FormHost* host,
                                                                          int modal) {
    static int argc = 1;
    static char name[] = "addrwatch";
    static char* argv[] = {name, nullptr};
    std::unique_ptr<QApplication> application;
    if (QCoreApplication::instance() == nullptr) {
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

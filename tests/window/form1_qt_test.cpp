// Form1 in its real Qt window, on the offscreen platform: opening, page switching, closing with
// and without saving, the settings file it writes, and the command buttons' message boxes.
#include "app/mode_handlers.h"
#include "settings/app_settings.h"
#include "settings/base85.h"
#include "settings/ini_file.h"
#include "ui/form1.h"
#include "ui/qt/form1_qt.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

using namespace ui;

namespace {

// Set while Check Now runs: the child this binary starts acts as the check run over that file.
constexpr const char* kCheckRunIni = "FORM1_TEST_CHECK_RUN_INI";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The keys of the file in the order they stand, as "Section/Key".
QStringList KeyOrder(const std::string& path) {
    QStringList keys;
    QString section;
    for (const QString& line : QString::fromStdString(ReadFile(path)).split('\n')) {
        const QString l = line.trimmed();
        if (l.startsWith('[')) {
            section = l.mid(1, l.size() - 2);
        } else if (l.contains('=')) {
            keys << section + "/" + l.left(l.indexOf('='));
        }
    }
    return keys;
}

// One open window over the test's settings file.
struct OpenForm {
    Form1Host host;
    QtFormWindow window{host};
    explicit OpenForm(SignInFunction signIn = oauth::SignIn) : host(std::move(signIn)) {
        window.Open();
        window.show();
    }
    ~OpenForm() {
        window.close();
        host.Closed();
    }
    template <typename W>
    W* Get(ControlId id) {
        W* w = qobject_cast<W*>(window.Control(id));
        if (w == nullptr) {
            qFatal("control %d is missing or of another kind", int(id));
        }
        return w;
    }
    QString Text(ControlId id) { return QString::fromStdString(window.Text(id)); }
    void Type(ControlId id, const QString& text) {
        QLineEdit* edit = Get<QLineEdit>(id);
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    void ClickLabel(ControlId id) { QTest::mouseClick(Get<QLabel>(id), Qt::LeftButton); }
    // The user picks an item of a list with the keyboard.
    void Choose(ControlId id, int index) {
        QComboBox* combo = Get<QComboBox>(id);
        QTest::keyClick(combo, Qt::Key_Home);
        for (int i = 0; i < index; ++i) {
            QTest::keyClick(combo, Qt::Key_Down);
        }
        QCOMPARE(combo->currentIndex(), index);
    }
    bool Shown(ControlId id) { return window.Control(id)->isVisible(); }
    bool Enabled(ControlId id) { return window.Control(id)->isEnabled(); }
    QString Status() { return Get<QLabel>(lblSignInStatus)->text(); }
};

// A sign-in that shows a device code and then waits in short steps, as the device flow does,
// before it gives its answer; a cancelled wait ends it at once.
struct ScriptedSignIn {
    oauth::SignInResult answer{oauth::SignInStatus::SignedIn, "owner@example.test",
                               "Signed in as owner@example.test"};
    int waits = 5;
    oauth::Provider asked = oauth::Provider::None;
    bool cancelled = false;
    bool ran = false;
    SignInFunction Function() {
        return [this](const oauth::OAuthSettings& settings, const oauth::SignInEvents& events) {
            ran = true;
            asked = settings.provider;
            events.prompt({"https://login.example.test/device", "WDJB-MJHT", ""});
            for (int i = 0; i < waits; ++i) {
                if (!events.wait(std::chrono::milliseconds(20))) {
                    cancelled = true;
                    return oauth::SignInResult{
                        oauth::SignInStatus::Cancelled, {}, "The sign-in was cancelled."};
                }
            }
            if (answer.status == oauth::SignInStatus::SignedIn) {
                CommonModule::WriteINI(CommonModule::sAppINI, "EmailConfig", "SMTPUserName",
                                       answer.account);
            }
            return answer;
        };
    }
};

// Runs action once the sign-in shows its code, from inside the sign-in's wait.
void WhenCodeShows(OpenForm& f, std::function<void()> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &f, action] {
        if (!f.Shown(txtSignInCode)) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start(10);
}

// The widgets of a page that overlap the given one.
QStringList Overlapping(QWidget* w) {
    QStringList names;
    for (QObject* o : w->parentWidget()->children()) {
        auto* other = qobject_cast<QWidget*>(o);
        if (other != nullptr && other != w && other->isVisible() &&
            other->geometry().intersects(w->geometry())) {
            names << other->objectName();
        }
    }
    return names;
}

// The next message box's caption, text, buttons and icon; it is answered with OK (or the
// button given).
struct BoxSeen {
    QString caption, text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Information;
    bool seen = false;
};

void AnswerNextBox(BoxSeen& seen, QMessageBox::StandardButton answer = QMessageBox::Ok) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &seen, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        seen.caption = box->windowTitle();
        seen.text = box->text();
        seen.buttons = box->standardButtons();
        seen.icon = box->icon();
        seen.seen = true;
        timer->stop();
        timer->deleteLater();
        box->button(answer)->click();
    });
    timer->start(20);
}

void Screenshot(QWidget& w, const char* name) {
    QDir().mkpath(ADDRWATCH_SCREENSHOT_DIR);
    QVERIFY(w.grab().save(QString(ADDRWATCH_SCREENSHOT_DIR) + "/" + name));
}

// A loopback SMTP server that accepts one message: just enough protocol for a plain session.
class TinySmtpServer {
public:
    // refuseLogon: AUTH is offered and every logon refused, as a server does for a bad password.
    explicit TinySmtpServer(bool refuseLogon = false) : refuseLogon_(refuseLogon) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        socklen_t len = sizeof(a);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(listener_, 1);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TinySmtpServer() {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    int Port() const { return port_; }
    bool Delivered() const { return delivered_; }

private:
    void Serve() {
        const int c = accept(listener_, nullptr, nullptr);
        if (c < 0) {
            return;
        }
        auto say = [c](const char* line) { (void)!write(c, line, strlen(line)); };
        say("220 loopback ESMTP\r\n");
        std::string buffer;
        bool inData = false;
        char chunk[4096];
        ssize_t n;
        while ((n = read(c, chunk, sizeof(chunk))) > 0) {
            buffer.append(chunk, std::size_t(n));
            std::size_t end;
            while (!inData && (end = buffer.find("\r\n")) != std::string::npos) {
                const std::string verb = buffer.substr(0, 4);
                buffer.erase(0, end + 2);
                if (verb == "EHLO" || verb == "HELO") {
                    say(refuseLogon_ ? "250-loopback\r\n250 AUTH PLAIN\r\n" : "250 loopback\r\n");
                } else if (verb == "AUTH" && refuseLogon_) {
                    say("535 5.7.8 Authentication credentials invalid\r\n");
                } else if (verb == "DATA") {
                    say("354 go ahead\r\n");
                    inData = true;
                } else if (verb == "QUIT") {
                    say("221 bye\r\n");
                    close(c);
                    return;
                } else {
                    say("250 ok\r\n");
                }
            }
            if (inData && (end = buffer.find("\r\n.\r\n")) != std::string::npos) {
                buffer.erase(0, end + 5);
                inData = false;
                delivered_ = true;
                say("250 queued\r\n");
            }
        }
        close(c);
    }
    bool refuseLogon_ = false;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> delivered_{false};
};

// A loopback IP-check page that answers one request with an address.
class TinyPage {
public:
    TinyPage() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        socklen_t len = sizeof(a);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(listener_, 1);
        thread_ = std::thread([this] {
            const int c = accept(listener_, nullptr, nullptr);
            if (c < 0) {
                return;
            }
            std::string request;
            char chunk[1024];
            ssize_t n;
            while (request.find("\r\n\r\n") == std::string::npos &&
                   (n = read(c, chunk, sizeof(chunk))) > 0) {
                request.append(chunk, std::size_t(n));
            }
            const char* answer = "HTTP/1.0 200 OK\r\nContent-Length: 13\r\n\r\n203.0.113.9\r\n";
            (void)!write(c, answer, strlen(answer));
            close(c);
        });
    }
    ~TinyPage() {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/ip"; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

int ClosedPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

} // namespace

class Form1QtTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::string ini_;

    void WriteIni(const char* text) { std::ofstream(ini_, std::ios::binary) << text; }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        ini_ = dir_->filePath("addrwatch.ini").toStdString();
        CommonModule::sAppINI = ini_;
        qputenv("ADDRWATCH_CRON_DIR", dir_->filePath("cron").toUtf8());
        // The store: the schedule records a start-up task there, a check run its outcome.
        qputenv("ADDRWATCH_STATE_DIR", dir_->filePath("state").toUtf8());
        QDir().mkpath(dir_->filePath("cron"));
    }

    void opensWithDefaultsOnTheGeneralPage() {
        OpenForm f;
        QCOMPARE(f.window.windowTitle(), QString("Quillfen - Addrwatch   v1.0.1 "));
        QVERIFY(!f.window.windowIcon().isNull());
        QVERIFY(f.window.Control(picGeneral)->isVisible());
        QVERIFY(!f.window.Control(picSMTP)->isVisible());
        QVERIFY(f.Get<QLabel>(lblSideBar0)->font().bold());
        QVERIFY(!f.Get<QLabel>(lblSideBar1)->font().bold());
        QCOMPARE(f.Text(txtScheduledTime), QString("10:00:00"));
        QCOMPARE(f.Text(txtWebsite), QString("www.quillfen.com"));
        QCOMPARE(f.Text(txtWhatIsMyIP), QString("http://www.quillfen.com/IPCheck.php"));
        for (ControlId id : {txtSMTPServer, txtSMTPUserName, txtSMTPPassword, txtFromEmail,
                             txtToEmail, txtEmailSubject, comboSMTPPort}) {
            QVERIFY2(f.Text(id).isEmpty(), FindControl(id)->name);
        }
        for (ControlId id : {chkCreateTask, chkOpenConfig, chkRunAfterInstall, chkWebsiteShortcut,
                             chkUninstallShortcut, chkConfigShortcut}) {
            QVERIFY2(f.Get<QCheckBox>(id)->isChecked(), FindControl(id)->name);
        }
        QVERIFY(!f.Get<QCheckBox>(chkUseSSL)->isChecked());
        QVERIFY(!f.Get<QCheckBox>(chkSMTPAuth)->isChecked());
        QComboBox* port = f.Get<QComboBox>(comboSMTPPort);
        QCOMPARE(port->count(), 3);
        QCOMPARE(port->itemText(0), QString("25"));
        QCOMPARE(port->itemText(1), QString("465"));
        QCOMPARE(port->itemText(2), QString("587"));
        QLineEdit* password = f.Get<QLineEdit>(txtSMTPPassword);
        QCOMPARE(password->echoMode(), QLineEdit::Password);
        QCOMPARE(password->maxLength(), 199);
        // Captions, marks and tooltips as designed.
        QCOMPARE(f.Get<QLabel>(lblClose1)->text(), QString("Save & Close"));
        // A button reads "&&" as one "&" (a single one would mark an access key).
        QCOMPARE(f.Get<QPushButton>(cmdTestEmail)->text(), QString("Save && Send Test Email"));
        QVERIFY(f.Get<QPushButton>(cmdTestEmail)->font().bold());
        QVERIFY(f.Get<QLabel>(Label3)->font().underline());
        QCOMPARE(f.Get<QLabel>(lblClose0)->palette().color(QPalette::WindowText),
                 QColor(0, 0, 255));
        QCOMPARE(f.Get<QLabel>(Label17)->toolTip(), f.Get<QLineEdit>(txtToEmail)->toolTip());
        QVERIFY(!f.Get<QLabel>(Label17)->toolTip().isEmpty());
        Screenshot(f.window, "qt-general.png");
        QVERIFY(!QFile::exists(QString::fromStdString(ini_)));
    }

    void sideBarSwitchesPagesAndMovesTheBoldMark() {
        OpenForm f;
        f.ClickLabel(lblSideBar1);
        QVERIFY(f.window.Control(picSMTP)->isVisible());
        QVERIFY(!f.window.Control(picGeneral)->isVisible());
        QVERIFY(f.Get<QLabel>(lblSideBar1)->font().bold());
        QVERIFY(!f.Get<QLabel>(lblSideBar0)->font().bold());
        Screenshot(f.window, "qt-smtp.png");
        for (int repeat = 0; repeat < 2; ++repeat) { // the shown page's label changes nothing
            f.ClickLabel(lblSideBar0);
            QVERIFY(f.window.Control(picGeneral)->isVisible());
            QVERIFY(!f.window.Control(picSMTP)->isVisible());
            QVERIFY(f.Get<QLabel>(lblSideBar0)->font().bold());
            QVERIFY(!f.Get<QLabel>(lblSideBar1)->font().bold());
        }
    }

    void saveAndCloseWritesEveryKeyInOrder() {
        {
            OpenForm f;
            f.Type(txtSMTPServer, "127.0.0.1");
            f.Get<QComboBox>(comboSMTPPort)->setEditText("465");
            f.Type(txtSMTPUserName, "me@example.test");
            f.Type(txtSMTPPassword, "s3cret & more");
            f.Type(txtToEmail, "a@example.test, b@example.test");
            f.Get<QCheckBox>(chkSMTPAuth)->click();
            f.Get<QCheckBox>(chkCreateTask)->click();
            f.Type(txtWhatIsMyIPv6, "https://api6.ipify.org http://[::1]:8080/ip");
            f.ClickLabel(lblClose1);
            QVERIFY(!f.window.isVisible());
        }
        const QStringList expected = {"EmailConfig/SMTPServer",   "EmailConfig/SMTPPort",
                                      "EmailConfig/SMTPUserName", "EmailConfig/SMTPPassword",
                                      "EmailConfig/FromEmail",    "EmailConfig/ToEmail",
                                      "EmailConfig/SMTPAuth",     "EmailConfig/UseSSL",
                                      "EmailConfig/Subject",      "General/WhatIsMyIP",
                                      "General/WhatIsMyIPv6",     "General/CreateTask",
                                      "General/TaskTime",         "General/UninstallShortcut",
                                      "General/ConfigShortcut",   "General/WebsiteShortcut",
                                      "General/WebsiteURL",       "General/RunConfigAfterInstall",
                                      "General/RunAfterInstall",  "General/CheckEvery",
                                      "General/CheckAtStartup"};
        // The logon's kind closes the mail keys.
        QStringList withLogon = expected;
        withLogon.insert(9, "EmailConfig/OAuthProvider");
        QCOMPARE(KeyOrder(ini_), withLogon);
        auto read = [this](const char* s, const char* k) {
            return CommonModule::ReadINI(ini_, s, k);
        };
        QCOMPARE(read("EmailConfig", "SMTPPort"), std::string("465"));
        QCOMPARE(read("EmailConfig", "SMTPAuth"), std::string("1"));
        QCOMPARE(read("EmailConfig", "UseSSL"), std::string("0"));
        QCOMPARE(read("EmailConfig", "ToEmail"), std::string("a@example.test, b@example.test"));
        QCOMPARE(read("General", "CreateTask"), std::string("0"));
        QCOMPARE(read("General", "RunAfterInstall"), std::string("1"));
        QCOMPARE(read("General", "TaskTime"), std::string("10:00:00"));
        QCOMPARE(read("General", "CheckEvery"), std::string("0"));
        QCOMPARE(read("General", "CheckAtStartup"), std::string("0"));
        QCOMPARE(read("General", "WhatIsMyIPv6"),
                 std::string("https://api6.ipify.org http://[::1]:8080/ip"));
        {
            OpenForm again;
            QCOMPARE(again.Text(txtWhatIsMyIPv6),
                     QString("https://api6.ipify.org http://[::1]:8080/ip"));
        }
        const std::string stored = read("EmailConfig", "SMTPPassword");
        QVERIFY(stored.find("s3cret") == std::string::npos);
        auto plain = modBase85::DecryptText(stored, modBase85::kPasswordKey);
        QVERIFY(plain.ok());
        QCOMPARE(plain.value(), std::string("s3cret & more"));
    }

    void leavingWithoutSavingWritesNothing_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Cancel && Close") << false;
        QTest::newRow("close box") << true;
    }
    void leavingWithoutSavingWritesNothing() {
        QFETCH(bool, closeBox);
        WriteIni("[EmailConfig]\r\nSMTPServer=old.example.test\r\n");
        const std::string before = ReadFile(ini_);
        {
            OpenForm f;
            f.Type(txtSMTPServer, "new.example.test");
            f.Get<QCheckBox>(chkUseSSL)->click();
            if (closeBox) {
                f.window.close();
            } else {
                f.ClickLabel(lblClose0);
            }
            QVERIFY(!f.window.isVisible());
        }
        QCOMPARE(ReadFile(ini_), before);
    }

    void storedValuesLoadAsDescribed() {
        WriteIni("[General]\r\nCreateTask=yes\r\nRunAfterInstall=0\r\nConfigShortcut=2\r\n"
                 "WebsiteShortcut= 1\r\nTaskTime=7:5\r\n"
                 "[EmailConfig]\r\nSMTPPort=2525\r\nUseSSL=5\r\nSMTPAuth=1\r\n"
                 "SMTPPassword=not a protected form\r\nStartTLS=1\r\n");
        {
            OpenForm f;
            // Not a state (yes, 5): the box keeps its initial state.
            QCOMPARE(f.Get<QCheckBox>(chkCreateTask)->checkState(), Qt::Checked);
            QCOMPARE(f.Get<QCheckBox>(chkUseSSL)->checkState(), Qt::Unchecked);
            QCOMPARE(f.Get<QCheckBox>(chkRunAfterInstall)->checkState(), Qt::Unchecked);
            QCOMPARE(f.Get<QCheckBox>(chkConfigShortcut)->checkState(), Qt::PartiallyChecked);
            QCOMPARE(f.Get<QCheckBox>(chkSMTPAuth)->checkState(), Qt::Checked);
            QCOMPARE(f.Text(comboSMTPPort), QString("2525"));
            QCOMPARE(f.Text(txtScheduledTime), QString("7:5"));
            QCOMPARE(f.Text(txtSMTPPassword), QString());
            f.ClickLabel(lblClose1);
        }
        auto read = [this](const char* s, const char* k) {
            return CommonModule::ReadINI(ini_, s, k);
        };
        QCOMPARE(read("EmailConfig", "SMTPPort"), std::string("2525"));
        QCOMPARE(read("General", "CreateTask"), std::string("1"));
        QCOMPARE(read("EmailConfig", "UseSSL"), std::string("0"));
        QCOMPARE(read("General", "ConfigShortcut"), std::string("2"));
        QCOMPARE(read("General", "TaskTime"), std::string("7:5"));
        // A key the window does not show stays as it was.
        QCOMPARE(read("EmailConfig", "StartTLS"), std::string("1"));
    }

    void passwordRoundTrips_data() {
        QTest::addColumn<QString>("password");
        QTest::newRow("text") << QString("p\u00e4ss w0rd&<~>");
        QTest::newRow("empty") << QString();
        QTest::newRow("longest") << QString(199, 'x');
    }
    void passwordRoundTrips() {
        QFETCH(QString, password);
        {
            OpenForm f;
            f.Get<QLineEdit>(txtSMTPPassword)->setText(password);
            f.ClickLabel(lblClose1);
        }
        QVERIFY(!CommonModule::ReadINI(ini_, "EmailConfig", "SMTPPassword").empty());
        OpenForm again;
        QCOMPARE(again.Text(txtSMTPPassword), password);
    }

    void passwordBoxTakes199Characters() {
        OpenForm f;
        QLineEdit* box = f.Get<QLineEdit>(txtSMTPPassword);
        QTest::keyClicks(box, QString(205, 'y'));
        QCOMPARE(box->text().size(), 199);
    }

    void testEmailShowsTheOutcome_data() {
        QTest::addColumn<bool>("serverListens");
        QTest::addColumn<QString>("message");
        QTest::newRow("delivered") << true << QString("Test email successfully sent!");
        QTest::newRow("closed port")
            << false << QString("Failed to send test email, please check your settings.");
    }
    void testEmailShowsTheOutcome() {
        QFETCH(bool, serverListens);
        QFETCH(QString, message);
        std::unique_ptr<TinySmtpServer> server;
        int port = ClosedPort();
        if (serverListens) {
            server = std::make_unique<TinySmtpServer>();
            port = server->Port();
        }
        OpenForm f;
        f.ClickLabel(lblSideBar1);
        f.Type(txtSMTPServer, "127.0.0.1");
        f.Get<QComboBox>(comboSMTPPort)->setEditText(QString::number(port));
        f.Type(txtFromEmail, "from@example.test");
        f.Type(txtToEmail, "to@example.test");
        BoxSeen box;
        AnswerNextBox(box);
        QTest::mouseClick(f.Get<QPushButton>(cmdTestEmail), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(box.seen, 90000);
        QCOMPARE(box.text, message);
        QCOMPARE(box.caption, QString("Addrwatch"));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(server != nullptr && server->Delivered(), serverListens);
        // The e-mail settings are saved either way, the General page's are not; the window
        // stays on the SMTP page.
        QCOMPARE(CommonModule::ReadINI(ini_, "EmailConfig", "SMTPPort"), std::to_string(port));
        QVERIFY(CommonModule::ReadINI(ini_, "General", "TaskTime").empty());
        QVERIFY(f.window.Control(picSMTP)->isVisible());
    }

    void scheduleButtonsConfirm() {
        OpenForm f;
        f.Type(txtScheduledTime, "07:30:00");
        BoxSeen created;
        AnswerNextBox(created);
        QTest::mouseClick(f.Get<QPushButton>(cmdSchedule0), Qt::LeftButton);
        QTRY_VERIFY(created.seen);
        QCOMPARE(created.text, QString("Schedule Created!"));
        QCOMPARE(created.caption, QString("Addrwatch"));
        QCOMPARE(created.icon, QMessageBox::NoIcon);
        const QString entry = dir_->filePath("cron/quillfen-addrwatch");
        QVERIFY(QFile::exists(entry));
        QVERIFY(QString::fromStdString(ReadFile(entry.toStdString())).contains("30 7 "));
        BoxSeen deleted;
        AnswerNextBox(deleted);
        QTest::mouseClick(f.Get<QPushButton>(cmdSchedule1), Qt::LeftButton);
        QTRY_VERIFY(deleted.seen);
        QCOMPARE(deleted.text, QString("Schedule Deleted!"));
        QVERIFY(!QFile::exists(entry));
        // Create replaces: a time the entry cannot take leaves no old entry behind, and the box
        // says what the Windows build says then.
        for (const char* time : {"07:30:00", "later"}) {
            f.Type(txtScheduledTime, time);
            BoxSeen box;
            AnswerNextBox(box);
            QTest::mouseClick(f.Get<QPushButton>(cmdSchedule0), Qt::LeftButton);
            QTRY_VERIFY(box.seen);
            QCOMPARE(box.text, QString("Schedule Created!"));
        }
        QVERIFY(!QFile::exists(entry));
        // The schedule buttons leave the settings file alone.
        QVERIFY(!QFile::exists(QString::fromStdString(ini_)));
    }

    // "Check every" and "Also check after start-up": beside the time, overlapping nothing, read
    // from and saved to their keys, and taken as shown by "Create Schedule".
    void scheduleChoices() {
        WriteIni("[General]\r\nCheckEvery=6\r\nCheckAtStartup=1\r\n");
        const QString entry = dir_->filePath("cron/quillfen-addrwatch");
        {
            OpenForm f;
            QComboBox* every = f.Get<QComboBox>(comboCheckEvery);
            QVERIFY(!every->isEditable());
            QStringList items;
            for (int i = 0; i < every->count(); ++i) {
                items << every->itemText(i);
            }
            QCOMPARE(items, QStringList({"daily", "12 hours", "8 hours", "6 hours", "4 hours",
                                         "3 hours", "2 hours", "1 hour"}));
            QCOMPARE(every->currentText(), QString("6 hours"));
            QCOMPARE(f.Get<QLabel>(lblCheckEvery)->text(), QString("Check every"));
            QCheckBox* startup = f.Get<QCheckBox>(chkCheckAtStartup);
            QCOMPARE(startup->text(), QString("Also check after start-up"));
            QVERIFY(startup->isChecked());
            for (ControlId mine : {lblCheckEvery, comboCheckEvery, chkCheckAtStartup}) {
                const QRect r = f.window.Control(mine)->geometry();
                QVERIFY2(f.window.Control(picGeneral)->rect().contains(r), FindControl(mine)->name);
                for (const ControlSpec& other : FormControls()) {
                    if (other.parent == picGeneral && other.id != mine) {
                        QVERIFY2(!r.intersects(f.window.Control(other.id)->geometry()),
                                 (std::string(FindControl(mine)->name) + " overlaps " + other.name)
                                     .c_str());
                    }
                }
            }
            Screenshot(f.window, "qt-general-schedule.png");

            BoxSeen created;
            AnswerNextBox(created);
            QTest::mouseClick(f.Get<QPushButton>(cmdSchedule0), Qt::LeftButton);
            QTRY_VERIFY(created.seen);
            const QString text = QString::fromStdString(ReadFile(entry.toStdString()));
            QVERIFY2(text.startsWith("0 4,10,16,22 * * * root '"), qPrintable(text));
            QVERIFY2(text.contains("\n@reboot root sleep 120 && '"), qPrintable(text));

            every->setCurrentIndex(1);
            startup->click();
            f.ClickLabel(lblClose1);
        }
        QCOMPARE(CommonModule::ReadINI(ini_, "General", "CheckEvery"), std::string("12"));
        QCOMPARE(CommonModule::ReadINI(ini_, "General", "CheckAtStartup"), std::string("0"));
        {
            OpenForm again;
            QCOMPARE(again.Text(comboCheckEvery), QString("12 hours"));
            QVERIFY(!again.Get<QCheckBox>(chkCheckAtStartup)->isChecked());
            // Deleting takes the start-up line with the entry.
            BoxSeen deleted;
            AnswerNextBox(deleted);
            QTest::mouseClick(again.Get<QPushButton>(cmdSchedule1), Qt::LeftButton);
            QTRY_VERIFY(deleted.seen);
            QVERIFY(!QFile::exists(entry));
        }
        // A value the schedule takes as daily shows as daily.
        WriteIni("[General]\r\nCheckEvery=5\r\n");
        OpenForm odd;
        QCOMPARE(odd.Text(comboCheckEvery), QString("daily"));
    }

    // A window running as root starts no other program: instead of a file manager over the
    // cron folder, a box names the entry, made or not.
    void taskSchedulerButtonOfARootWindowNamesTheEntryAndStartsNothing() {
        if (geteuid() != 0) {
            QSKIP("the rule for a window running as root");
        }
        const QString bin = dir_->filePath("bin");
        const QString mark = dir_->filePath("started");
        QDir().mkpath(bin);
        std::ofstream(bin.toStdString() + "/xdg-open")
            << "#!/bin/sh\ntouch '" << mark.toStdString() << "'\n";
        QVERIFY(chmod((bin + "/xdg-open").toUtf8().constData(), 0755) == 0);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.toUtf8() + ":" + path);
        OpenForm f;
        const QString entry = dir_->filePath("cron/quillfen-addrwatch");
        for (bool made : {false, true}) {
            if (made) {
                std::ofstream(entry.toStdString()) << "0 10 * * * root '/opt/addrwatch'\n";
            }
            BoxSeen box;
            AnswerNextBox(box);
            QTest::mouseClick(f.Get<QPushButton>(cmdSchedule2), Qt::LeftButton);
            QTRY_VERIFY(box.seen);
            QCOMPARE(box.caption, QString("Addrwatch"));
            QVERIFY2(box.text.contains(entry), qPrintable(box.text));
            QCOMPARE(box.text.contains("does not exist yet"), !made);
        }
        QTest::qWait(300); // time for a started program to leave its mark
        qputenv("PATH", path);
        QVERIFY(!QFile::exists(mark));
    }

    // The status line, and Check Now: a real check run in a process of its own (this binary,
    // which main turns into the check run), after the question about unsaved changes; the run's
    // mail server refuses the logon.
    void checkNowRunsACheckAndShowsItsOutcome() {
        TinyPage page;
        TinySmtpServer refusing(true);
        const std::string settings =
            "[General]\r\nWhatIsMyIP=" + page.Url() +
            "\r\n[EmailConfig]\r\nSMTPServer=127.0.0.1\r\nSMTPPort=" +
            std::to_string(refusing.Port()) +
            "\r\nFromEmail=a@x.test\r\nToEmail=b@x.test\r\nSMTPAuth=1\r\nSMTPUserName=u\r\n"
            "SMTPPassword=" +
            modBase85::EncryptText("wrong", modBase85::kPasswordKey) + "\r\n";
        WriteIni(settings.c_str());
        OpenForm f;
        QCOMPARE(f.Get<QLabel>(lblLastCheck)->text(), QString("Last check: never"));
        f.Type(txtScheduledTime, "07:30:00");
        BoxSeen asked;
        AnswerNextBox(asked, QMessageBox::Yes);
        qputenv(kCheckRunIni, QByteArray::fromStdString(ini_));
        QTest::mouseClick(f.Get<QPushButton>(cmdCheckNow), Qt::LeftButton);
        qunsetenv(kCheckRunIni);
        QVERIFY(asked.seen);
        QCOMPARE(asked.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(CommonModule::ReadINI(ini_, "General", "TaskTime"), std::string("07:30:00"));
        const QString line = f.Get<QLabel>(lblLastCheck)->text();
        QVERIFY2(QRegularExpression("^Last check: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d - the mail "
                                    "server refused the logon: 535 5\\.7\\.8 Authentication "
                                    "credentials invalid$")
                     .match(line)
                     .hasMatch(),
                 qPrintable(line));
        Screenshot(f.window, "qt-general-checked.png");
    }

    // The stored choice shows, sets the password box and "Sign In...", and is saved as it is.
    void authChoiceRoundTrips_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("password");
        QTest::newRow("missing") << QString() << QString("Password") << true;
        QTest::newRow("microsoft") << QString("microsoft") << QString("Microsoft account") << false;
        QTest::newRow("google") << QString("google") << QString("Google account") << false;
        // The sign-in reads any case; the choice saves the value in its own.
        QTest::newRow("any case") << QString("Microsoft") << QString("Microsoft account") << false;
        QTest::newRow("generic") << QString("generic") << QString(kAuthFromFile) << false;
        QTest::newRow("unknown") << QString("Yahoo") << QString(kAuthFromFile) << false;
    }
    void authChoiceRoundTrips() {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(bool, password);
        if (!stored.isEmpty()) {
            WriteIni(("[EmailConfig]\r\nOAuthProvider=" + stored.toStdString() + "\r\n").c_str());
        }
        {
            OpenForm f;
            QComboBox* auth = f.Get<QComboBox>(comboAuth);
            QVERIFY(!auth->isEditable());
            QCOMPARE(auth->currentText(), shown);
            QCOMPARE(auth->count(), shown == kAuthFromFile ? 4 : 3);
            QCOMPARE(f.Enabled(txtSMTPPassword), password);
            QCOMPARE(f.Enabled(cmdSignIn), !password);
            for (ControlId hidden : {cmdSignInCancel, txtSignInCode, txtSignInAddress}) {
                QVERIFY2(!f.window.Control(hidden)->isVisibleTo(f.window.Control(picSMTP)),
                         FindControl(hidden)->name);
            }
            f.ClickLabel(lblClose1);
        }
        const QString saved = shown == kAuthFromFile ? stored : stored.toLower();
        QCOMPARE(
            QString::fromStdString(CommonModule::ReadINI(ini_, "EmailConfig", "OAuthProvider")),
            saved);
    }

    void choosingTheLogonSwitchesThePasswordBox() {
        WriteIni("[EmailConfig]\r\nOAuthProvider=generic\r\n");
        {
            OpenForm f;
            const QList<std::pair<int, bool>> steps = {
                {0, true}, {1, false}, {0, true}, {3, false}, {2, false}};
            for (auto [index, password] : steps) {
                f.Choose(comboAuth, index);
                QCOMPARE(f.Enabled(txtSMTPPassword), password);
                QCOMPARE(f.Enabled(cmdSignIn), !password);
            }
            f.ClickLabel(lblClose1);
        }
        QCOMPARE(CommonModule::ReadINI(ini_, "EmailConfig", "OAuthProvider"),
                 std::string("google"));
    }

    // While the sign-in waits, the window answers: the code and the address show, and Cancel
    // ends the wait. A sign-in that does not succeed leaves the settings file as it was.
    void signInShowsTheCodeAndCancelEndsTheWait() {
        WriteIni(
            "[EmailConfig]\r\nOAuthClientID=test-client\r\nSMTPUserName=typed@example.test\r\n");
        ScriptedSignIn signIn;
        signIn.waits = 100000; // only Cancel ends it
        OpenForm f(signIn.Function());
        f.ClickLabel(lblSideBar1);
        f.Type(txtSMTPServer, "unsaved.example.test");
        f.Choose(comboAuth, 1);
        bool sawPrompt = false;
        WhenCodeShows(f, [&] {
            QCOMPARE(f.Text(txtSignInCode), QString("WDJB-MJHT"));
            QCOMPARE(f.Text(txtSignInAddress), QString("https://login.example.test/device"));
            QVERIFY(f.Get<QLineEdit>(txtSignInCode)->isReadOnly());
            QVERIFY(f.Shown(cmdSignInCancel));
            QVERIFY(!f.Enabled(cmdSignIn));
            QVERIFY(!f.Enabled(comboAuth));
            for (ControlId id : {comboAuth, cmdSignIn, cmdSignInCancel, lblSignInStatus,
                                 txtSignInCode, txtSignInAddress, lblAuth}) {
                QVERIFY2(Overlapping(f.window.Control(id)).isEmpty(),
                         qPrintable(QString(FindControl(id)->name) + " overlaps " +
                                    Overlapping(f.window.Control(id)).join(",")));
            }
            Screenshot(f.window, "qt-smtp-signin.png");
            sawPrompt = true;
            QTest::mouseClick(f.Get<QPushButton>(cmdSignInCancel), Qt::LeftButton);
        });
        QTest::mouseClick(f.Get<QPushButton>(cmdSignIn), Qt::LeftButton);
        QVERIFY(sawPrompt);
        QVERIFY(signIn.cancelled);
        QCOMPARE(signIn.asked, oauth::Provider::Microsoft);
        QCOMPARE(f.Status(), QString("The sign-in was cancelled."));
        QVERIFY(!f.Shown(cmdSignInCancel));
        QVERIFY(!f.Shown(txtSignInCode));
        QVERIFY(f.Enabled(cmdSignIn) && f.Enabled(comboAuth));
        QCOMPARE(f.Text(txtSMTPUserName), QString("typed@example.test"));
        // The choice went to the file for the sign-in's sake only: it is back as it was.
        QCOMPARE(CommonModule::ReadINI(ini_, "EmailConfig", "OAuthProvider"), std::string());
        QCOMPARE(CommonModule::ReadINI(ini_, "EmailConfig", "SMTPServer"), std::string());
    }

    void signInOutcomeShowsAndOnlySuccessKeepsTheChoice_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("signed in")
            << int(oauth::SignInStatus::SignedIn) << QString("Signed in as owner@example.test");
        QTest::newRow("refused") << int(oauth::SignInStatus::Refused)
                                 << QString("The sign-in was refused: the user said no & left");
    }
    void signInOutcomeShowsAndOnlySuccessKeepsTheChoice() {
        QFETCH(int, status);
        QFETCH(QString, message);
        WriteIni("[EmailConfig]\r\nOAuthProvider=microsoft\r\nOAuthClientID=test-client\r\n");
        ScriptedSignIn signIn;
        signIn.answer.status = oauth::SignInStatus(status);
        signIn.answer.message = message.toStdString();
        const bool signedIn = signIn.answer.status == oauth::SignInStatus::SignedIn;
        if (!signedIn) {
            signIn.answer.account.clear();
        }
        OpenForm f(signIn.Function());
        f.ClickLabel(lblSideBar1);
        f.Choose(comboAuth, 2);
        QTest::mouseClick(f.Get<QPushButton>(cmdSignIn), Qt::LeftButton);
        QVERIFY(signIn.ran && !signIn.cancelled);
        QCOMPARE(signIn.asked, oauth::Provider::Google);
        QCOMPARE(f.Status(), message);
        QCOMPARE(f.Text(txtSMTPUserName), signedIn ? QString("owner@example.test") : QString());
        QCOMPARE(CommonModule::ReadINI(ini_, "EmailConfig", "OAuthProvider"),
                 std::string(signedIn ? "google" : "microsoft"));
        QVERIFY(f.window.isVisible());
    }

    // A provider the sign-in does not know is reported on the status line; nothing signs in.
    void signInWithAnUnknownProviderSaysWhy() {
        WriteIni("[EmailConfig]\r\nOAuthProvider=yahoo\r\nOAuthClientID=test-client\r\n");
        const std::string before = ReadFile(ini_);
        ScriptedSignIn signIn;
        OpenForm f(signIn.Function());
        f.ClickLabel(lblSideBar1);
        QTest::mouseClick(f.Get<QPushButton>(cmdSignIn), Qt::LeftButton);
        QVERIFY(!signIn.ran);
        QVERIFY2(f.Status().contains("\"yahoo\" is not one of"), qPrintable(f.Status()));
        QVERIFY(f.Enabled(cmdSignIn) && !f.Shown(cmdSignInCancel));
        QCOMPARE(ReadFile(ini_), before);
    }

    // A close asked for while the sign-in waits ends the wait first, then closes as asked.
    void closingWhileSigningInEndsTheSignInFirst_data() {
        QTest::addColumn<bool>("save");
        QTest::newRow("Save && Close") << true;
        QTest::newRow("close box") << false;
    }
    void closingWhileSigningInEndsTheSignInFirst() {
        QFETCH(bool, save);
        WriteIni("[EmailConfig]\r\nOAuthProvider=microsoft\r\nOAuthClientID=test-client\r\n");
        ScriptedSignIn signIn;
        signIn.waits = 100000;
        {
            OpenForm f(signIn.Function());
            f.ClickLabel(lblSideBar1);
            f.Type(txtSMTPServer, "typed.example.test");
            WhenCodeShows(f, [&] {
                if (save) {
                    f.ClickLabel(lblClose1);
                } else {
                    f.window.close();
                }
            });
            QTest::mouseClick(f.Get<QPushButton>(cmdSignIn), Qt::LeftButton);
            QVERIFY(signIn.cancelled);
            QVERIFY(!f.window.isVisible());
        }
        QCOMPARE(CommonModule::ReadINI(ini_, "EmailConfig", "SMTPServer"),
                 std::string(save ? "typed.example.test" : ""));
        QCOMPARE(CommonModule::ReadINI(ini_, "EmailConfig", "OAuthProvider"),
                 std::string("microsoft"));
    }

    // The real sign-in, against the loopback authorization server an end-to-end test starts; it
    // names the settings file that points there. The test prints what the window showed.
    void signsInWithTheDeviceFlow() {
        const QByteArray ini = qgetenv("ADDRWATCH_SIGNIN_INI");
        if (ini.isEmpty()) {
            QSKIP("needs the authorization server of the end-to-end tests");
        }
        CommonModule::sAppINI = ini.toStdString();
        // The token goes to the end-to-end test's store, where that test reads it back.
        qputenv("ADDRWATCH_STATE_DIR", qgetenv("ADDRWATCH_SIGNIN_STATE_DIR"));
        OpenForm f;
        f.ClickLabel(lblSideBar1);
        QString shown;
        WhenCodeShows(f, [&] {
            shown = "code=" + f.Text(txtSignInCode) + " address=" + f.Text(txtSignInAddress);
        });
        QTest::mouseClick(f.Get<QPushButton>(cmdSignIn), Qt::LeftButton);
        qInfo("%s", qPrintable(shown));
        qInfo("status=%s", qPrintable(f.Status()));
        QVERIFY(f.Status().startsWith("Signed in as "));
        QCOMPARE(f.Text(txtSMTPUserName), f.Status().mid(13));
        f.ClickLabel(lblClose1);
    }
};

int main(int argc, char** argv) {
    // Check Now starts this program without arguments: here that is the check run.
    if (const char* ini = std::getenv(kCheckRunIni)) {
        CommonModule::sAppINI = ini;
        modGetExternalIP::GuardedCheckRun();
        return 0;
    }
    QApplication app(argc, argv);
    Form1QtTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "form1_qt_test.moc"

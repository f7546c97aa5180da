#include "ui/qt/form1_qt.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>

#include <cmath>

// The built-in icon lives in this library's resources; a static library must register them.
static void InitFormIcons() {
    Q_INIT_RESOURCE(form1_icons);
}

namespace ui {

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string S(const QString& s) {
    return s.toUtf8().toStdString();
}

// A label that reports a click (press and release on it), as the side bar needs.
class ClickLabel : public QLabel {
public:
    ClickLabel(QWidget* parent, std::function<void()> onClick)
        : QLabel(parent), onClick_(std::move(onClick)) {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        pressed_ = e->button() == Qt::LeftButton;
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        const bool click = pressed_ && e->button() == Qt::LeftButton && rect().contains(e->pos());
        pressed_ = false;
        e->accept();
        if (click && onClick_) {
            onClick_();
        }
    }

private:
    std::function<void()> onClick_;
    bool pressed_ = false;
};

// Password boxes show "*" for each character, whatever the style's own choice.
class PasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) {
            return kPasswordChar;
        }
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

QFont FormFont() {
    QFont f;
    // 8-point MS Sans Serif, or the installed face nearest to its width: the layout is made for
    // it, and a wider face would wrap the captions. Only installed faces are named, since the
    // font configuration would otherwise stand a wide default in for the first one.
    QStringList families;
    for (const char* family :
         {"MS Sans Serif", "Microsoft Sans Serif", "Tahoma", "Liberation Sans", "Arimo"}) {
        if (QFontDatabase::hasFamily(family)) {
            families << family;
        }
    }
    if (!families.isEmpty()) {
        f.setFamilies(families);
    } else {
        f.setStretch(QFont::Condensed);
    }
    f.setPointSizeF(8.25);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

} // namespace

QtFormWindow::QtFormWindow(FormHost& host) : QWidget(nullptr), host_(host) {
    InitFormIcons();
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle("Form1");
    Build();
}

void QtFormWindow::Build() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
    auto px = [dpi](int twips) { return int(std::lround(twips * dpi / 1440.0)); };

    setFont(FormFont());
    setFixedSize(px(kClientWidthTwips), px(kClientHeightTwips));

    static PasswordStyle* passwordStyle = nullptr;
    for (const ControlSpec& spec : FormControls()) {
        QWidget* parent = spec.parent == kNoControl ? this : controls_.at(spec.parent);
        // Labels show plain text; buttons read "&&" as one "&" themselves, as designed.
        const QString caption = Q(spec.kind == ControlKind::Label ? DisplayCaption(spec.caption)
                                                                  : std::string(spec.caption));
        const ControlId id = spec.id;
        QWidget* w = nullptr;
        switch (spec.kind) {
        case ControlKind::Label: {
            QLabel* label = spec.clickable
                                ? new ClickLabel(parent, [this, id] { host_.Clicked(id); })
                                : new QLabel(parent);
            label->setText(caption);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignTop | (spec.centred ? Qt::AlignHCenter : Qt::AlignLeft));
            if (spec.blue) {
                QPalette p = label->palette();
                p.setColor(QPalette::WindowText, QColor(0, 0, 255));
                label->setPalette(p);
            }
            w = label;
            break;
        }
        case ControlKind::TextBox: {
            auto* edit = new QLineEdit(caption, parent);
            if (spec.password) {
                if (passwordStyle == nullptr) {
                    passwordStyle = new PasswordStyle;
                    passwordStyle->setParent(qApp);
                }
                edit->setStyle(passwordStyle);
                edit->setEchoMode(QLineEdit::Password);
            }
            if (spec.maxLength > 0) {
                edit->setMaxLength(spec.maxLength);
            }
            edit->setReadOnly(spec.readOnly);
            w = edit;
            break;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(caption, parent);
            box->setCheckState(spec.initialCheck == kChecked ? Qt::Checked : Qt::Unchecked);
            w = box;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            w = combo;
            break;
        }
        case ControlKind::Choice: {
            auto* combo = new QComboBox(parent);
            // Only the user's choice: a choice made from code is no click.
            connect(combo, &QComboBox::activated, this, [this, id] { host_.Clicked(id); });
            w = combo;
            break;
        }
        case ControlKind::Button: {
            auto* button = new QPushButton(caption, parent);
            button->setAutoDefault(false);
            connect(button, &QPushButton::clicked, this, [this, id] { host_.Clicked(id); });
            w = button;
            break;
        }
        case ControlKind::Line: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            w = line;
            break;
        }
        case ControlKind::Panel:
            w = new QWidget(parent);
            break;
        }
        w->setObjectName(spec.name);
        if (spec.kind == ControlKind::Line) {
            w->setGeometry(px(spec.left), px(spec.top) - 1, px(spec.width), 2);
        } else {
            w->setGeometry(px(spec.left), px(spec.top), px(spec.width), px(spec.height));
        }
        if (spec.bold || spec.underline) {
            QFont f = w->font();
            f.setBold(spec.bold);
            f.setUnderline(spec.underline);
            w->setFont(f);
        }
        if (*spec.tooltip != '\0') {
            w->setToolTip(Q(spec.tooltip));
        }
        controls_[id] = w;
    }
}

QWidget* QtFormWindow::Control(ControlId id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void QtFormWindow::Open() {
    host_.Opened(*this);
}

std::string QtFormWindow::Text(ControlId id) const {
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return S(edit->text());
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        return S(combo->currentText());
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        return S(label->text());
    }
    return {};
}

void QtFormWindow::SetText(ControlId id, const std::string& text) {
    QWidget* w = Control(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(Q(text));
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable()) {
            combo->setEditText(Q(text));
        } else {
            // A list without an edit field shows text only by selecting the item that holds it.
            combo->setCurrentIndex(combo->findText(Q(text), Qt::MatchExactly));
        }
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(Q(text));
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        button->setText(Q(text));
    }
}

int QtFormWindow::CheckState(ControlId id) const {
    auto* box = qobject_cast<QCheckBox*>(Control(id));
    if (box == nullptr) {
        return kUnchecked;
    }
    switch (box->checkState()) {
    case Qt::Checked:
        return kChecked;
    case Qt::PartiallyChecked:
        return kGreyed;
    default:
        return kUnchecked;
    }
}

void QtFormWindow::SetCheckState(ControlId id, int state) {
    if (auto* box = qobject_cast<QCheckBox*>(Control(id))) {
        box->setCheckState(state == kChecked  ? Qt::Checked
                           : state == kGreyed ? Qt::PartiallyChecked
                                              : Qt::Unchecked);
    }
}

void QtFormWindow::SetBold(ControlId id, bool bold) {
    if (QWidget* w = Control(id)) {
        QFont f = w->font();
        f.setBold(bold);
        w->setFont(f);
    }
}

void QtFormWindow::SetVisible(ControlId id, bool visible) {
    if (QWidget* w = Control(id)) {
        w->setVisible(visible);
    }
}

void QtFormWindow::AddComboItem(ControlId id, const std::string& item) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        if (!combo->isEditable()) {
            // As a Win32 list: adding chooses nothing.
            const int chosen = combo->currentIndex();
            combo->addItem(Q(item));
            combo->setCurrentIndex(chosen);
            return;
        }
        // Adding to the list must not replace what stands in the edit field.
        const QString shown = combo->currentText();
        combo->addItem(Q(item));
        combo->setCurrentIndex(-1);
        combo->setEditText(shown);
    }
}

void QtFormWindow::SetTitle(const std::string& title) {
    setWindowTitle(Q(title));
}

bool QtFormWindow::SetIconFromFile(const std::string& path) {
    QImageReader reader(Q(path));
    const QImage image = reader.read();
    if (image.isNull()) {
        return false;
    }
    QIcon icon(Q(path));
    setWindowIcon(icon.isNull() ? QIcon(QPixmap::fromImage(image)) : icon);
    return true;
}

void QtFormWindow::SetIconFromResource(const std::string& name) {
    setWindowIcon(QIcon(":/" + Q(name)));
}

void QtFormWindow::ShowMessage(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon, Q(caption), Q(text), QMessageBox::Ok, this);
    box.exec();
}

bool QtFormWindow::AskYesNo(const std::string& text, const std::string& caption) {
    QMessageBox box(QMessageBox::NoIcon, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                    this);
    return box.exec() == QMessageBox::Yes;
}

void QtFormWindow::Unload() {
    unloading_ = true;
    close();
}

void QtFormWindow::PumpEvents() {
    QCoreApplication::processEvents();
}

void QtFormWindow::SetEnabled(ControlId id, bool enabled) {
    if (QWidget* w = Control(id)) {
        w->setEnabled(enabled);
    }
}

int QtFormWindow::SelectedIndex(ControlId id) const {
    auto* combo = qobject_cast<QComboBox*>(Control(id));
    return combo != nullptr ? combo->currentIndex() : -1;
}

void QtFormWindow::SelectIndex(ControlId id, int index) {
    if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
        combo->setCurrentIndex(index);
    }
}

void QtFormWindow::closeEvent(QCloseEvent* event) {
    if (!unloading_) {
        // The close box: Form1 decides (it saves nothing).
        unloading_ = true;
        host_.CloseBoxClicked();
    }
    event->accept();
    if (onClosed_) {
        onClosed_();
    }
}

} // namespace ui

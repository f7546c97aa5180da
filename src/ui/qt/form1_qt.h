// The Qt 6 renderer of Form1 (POSIX). Built into the window module only; the program itself
// never links the toolkit.
#pragma once

#include "ui/form_view.h"

#include <QWidget>

#include <functional>
#include <map>

class QCloseEvent;

namespace ui {

class QtFormWindow : public QWidget, public FormView {
public:
    explicit QtFormWindow(FormHost& host);

    // Runs the opening sequence through the host. Call once, before showing the window.
    void Open();
    // Called once the window has closed, by any way.
    void SetClosedHandler(std::function<void()> handler) { onClosed_ = std::move(handler); }
    // The widget of a control (for the tests), or null.
    QWidget* Control(ControlId id) const;

    std::string Text(ControlId id) const override;
    void SetText(ControlId id, const std::string& text) override;
    int CheckState(ControlId id) const override;
    void SetCheckState(ControlId id, int state) override;
    void SetBold(ControlId id, bool bold) override;
    void SetVisible(ControlId id, bool visible) override;
    void AddComboItem(ControlId id, const std::string& item) override;
    void SetTitle(const std::string& title) override;
    bool SetIconFromFile(const std::string& path) override;
    void SetIconFromResource(const std::string& name) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void Unload() override;
    void PumpEvents() override;
    void SetEnabled(ControlId id, bool enabled) override;
    int SelectedIndex(ControlId id) const override;
    void SelectIndex(ControlId id, int index) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Build();

    FormHost& host_;
    std::map<ControlId, QWidget*> controls_;
    bool unloading_ = false;
    std::function<void()> onClosed_;
};

// The password character of the window's password boxes.
inline constexpr char kPasswordChar = '*';

} // namespace ui

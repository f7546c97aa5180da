// What Form1's logic needs from a window toolkit. Each renderer (Win32, Qt) implements it over
// its own controls; the logic in form1.cpp is written once against it.
//
// Header-only: the Qt window module implements it without linking the program's objects.
#pragma once

#include "ui/form_model.h"

#include <string>

namespace ui {

class FormView {
public:
    virtual ~FormView() = default;

    // Text of a text box, or of the combo box's edit field.
    virtual std::string Text(ControlId id) const = 0;
    // Also a label's or a button's caption.
    virtual void SetText(ControlId id, const std::string& text) = 0;
    virtual int CheckState(ControlId id) const = 0;
    // state: kUnchecked, kChecked or kGreyed.
    virtual void SetCheckState(ControlId id, int state) = 0;
    virtual void SetBold(ControlId id, bool bold) = 0;
    virtual void SetVisible(ControlId id, bool visible) = 0;
    virtual void AddComboItem(ControlId id, const std::string& item) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    // False when the file cannot be read as an icon; the window's icon is then unchanged.
    virtual bool SetIconFromFile(const std::string& path) = 0;
    // The program's built-in icon of that resource name.
    virtual void SetIconFromResource(const std::string& name) = 0;
    // A modal message box: OK only, no icon.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // A modal question with Yes and No; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
    // Closes the window; its loop ends.
    virtual void Unload() = 0;
    // Lets pending window events run once (used while a launched tool is waited for).
    virtual void PumpEvents() = 0;
    // A disabled control shows greyed and takes no input.
    virtual void SetEnabled(ControlId id, bool enabled) = 0;
    // The chosen item of a list-only combo box, -1 for none; choosing from code reports no click.
    virtual int SelectedIndex(ControlId id) const = 0;
    virtual void SelectIndex(ControlId id, int index) = 0;
};

// The program's side of an open window, handed to a renderer: it runs the opening sequence once
// the controls exist and receives the user's clicks.
class FormHost {
public:
    virtual ~FormHost() = default;
    virtual void Opened(FormView& view) = 0;
    // A button or clickable label was clicked, or the user chose an item of a list-only combo box.
    virtual void Clicked(ControlId id) = 0;
    // The title-bar close box.
    virtual void CloseBoxClicked() = 0;
    // Called once the window's loop has ended (never from inside a handler).
    virtual void Closed() = 0;
};

} // namespace ui

// The do-not-touch dialog: a small borderless window shown while a board
// initialises.
#pragma once

#include <wx/dialog.h>

class wxStaticText;

// Source text of the dialog; shown through the message catalogue.
#define NOT_TOUCH_TEXT "白板硬件初始化中，请勿触碰板面......"

class MyDialog : public wxDialog
{
public:
    MyDialog(wxWindow* parent, int id, const wxString& title, const wxPoint& position, const wxSize& size,
             long style);

    // Destroys the dialog (callers skip a null one).
    void CloseDialog();

    wxStaticText* Text() const { return m_pText; }

private:
    wxStaticText* m_pText;
};

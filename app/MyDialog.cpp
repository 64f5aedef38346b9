#include "MyDialog.h"

#include <wx/font.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

MyDialog::MyDialog(wxWindow* parent, int id, const wxString& title, const wxPoint& position, const wxSize& size,
                   long style)
    : wxDialog(parent, id, title, position, size, style, "dialog")
{
    m_pText = new wxStaticText(this, -1, wxGetTranslation(wxString::FromUTF8(NOT_TOUCH_TEXT)), wxDefaultPosition,
                               wxDefaultSize, 0, "staticText");
    m_pText->SetFont(wxFont(14, m_pText->GetFont().GetFamily(), wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                            wxEmptyString, wxFONTENCODING_DEFAULT));
    SetTitle("dialog_1");

    wxBoxSizer* sizer = new wxBoxSizer(wxHORIZONTAL);
    sizer->Add(m_pText, 0, wxRIGHT, 50);
    SetSizer(sizer);
    sizer->Fit(this);
    Layout();
}

void MyDialog::CloseDialog()
{
    Destroy();
}

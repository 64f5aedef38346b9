// skrib-canvas: a window that draws while the left button is held, so that
// pointer input can be watched and kept. Each press starts a stroke, each
// motion with the button held draws a line to the new position. On SIGTERM,
// SIGINT or SIGUSR1 the drawing is saved as a PNG (--png PATH); SIGTERM and
// SIGINT then end the program. It prints "skrib-canvas: ready" once it is on
// the screen.
//
// usage: skrib-canvas --png PATH [--title TEXT]
#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/settings.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

class CCanvas : public wxPanel
{
public:
    explicit CCanvas(wxWindow* parent, const wxSize& size) : wxPanel(parent), m_drawing(size.x, size.y)
    {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        wxMemoryDC dc(m_drawing);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        Bind(wxEVT_PAINT, &CCanvas::OnPaint, this);
        Bind(wxEVT_LEFT_DOWN, &CCanvas::OnDown, this);
        Bind(wxEVT_LEFT_UP, &CCanvas::OnUp, this);
        Bind(wxEVT_MOTION, &CCanvas::OnMotion, this);
    }

    bool Save(const std::string& path) const
    {
        return m_drawing.ConvertToImage().SaveFile(wxString::FromUTF8(path.c_str()), wxBITMAP_TYPE_PNG);
    }
    int Strokes() const { return m_strokes; }

private:
    void OnPaint(wxPaintEvent&)
    {
        wxAutoBufferedPaintDC dc(this);
        dc.DrawBitmap(m_drawing, 0, 0);
        if (!m_shown) {
            m_shown = true; // on the screen: pointer input reaches it from now on
            printf("skrib-canvas: ready\n");
            fflush(stdout);
        }
    }
    void OnDown(wxMouseEvent& event)
    {
        m_down = true;
        m_last = event.GetPosition();
        ++m_strokes;
        Line(m_last, m_last);
    }
    void OnUp(wxMouseEvent& event)
    {
        // The toolkit merges motion events; the release carries where the
        // stroke really ended.
        if (m_down)
            Line(m_last, event.GetPosition());
        m_down = false;
    }
    void OnMotion(wxMouseEvent& event)
    {
        if (!m_down || !event.LeftIsDown())
            return;
        Line(m_last, event.GetPosition());
        m_last = event.GetPosition();
    }
    void Line(const wxPoint& from, const wxPoint& to)
    {
        {
            wxMemoryDC dc(m_drawing);
            dc.SetPen(wxPen(wxColour(20, 60, 160), 5));
            dc.DrawLine(from, to);
            dc.DrawPoint(to);
        }
        Refresh(false);
    }

    wxBitmap m_drawing;
    bool m_down = false;
    bool m_shown = false;
    wxPoint m_last;
    int m_strokes = 0;
};

class CCanvasApp : public wxApp
{
public:
    bool OnInit() override
    {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i].ToStdString();
            if (arg == "--png" && i + 1 < argc)
                m_png = argv[++i].ToStdString();
            else if (arg == "--title" && i + 1 < argc)
                m_title = argv[++i];
            else {
                fprintf(stderr, "usage: skrib-canvas --png PATH [--title TEXT]\n");
                return false;
            }
        }
        if (m_png.empty()) {
            fprintf(stderr, "skrib-canvas: --png PATH is required\n");
            return false;
        }
        wxInitAllImageHandlers();
        const wxSize screen(wxSystemSettings::GetMetric(wxSYS_SCREEN_X), wxSystemSettings::GetMetric(wxSYS_SCREEN_Y));
        auto* frame = new wxFrame(nullptr, wxID_ANY, m_title, wxPoint(0, 0), screen, wxBORDER_NONE);
        m_canvas = new CCanvas(frame, screen);
        frame->Show();
        // The signals arrive in the main loop, not in a signal handler.
        SetSignalHandler(SIGUSR1, &CCanvasApp::OnSaveSignal);
        SetSignalHandler(SIGTERM, &CCanvasApp::OnEndSignal);
        SetSignalHandler(SIGINT, &CCanvasApp::OnEndSignal);
        return true;
    }

    void SaveDrawing()
    {
        if (m_canvas && m_canvas->Save(m_png))
            printf("skrib-canvas: %d strokes saved to %s\n", m_canvas->Strokes(), m_png.c_str());
        else
            fprintf(stderr, "skrib-canvas: cannot save %s\n", m_png.c_str());
        fflush(stdout);
    }

    static void OnSaveSignal(int) { wxGetApp().SaveDrawing(); }
    static void OnEndSignal(int)
    {
        wxGetApp().SaveDrawing();
        wxGetApp().ExitMainLoop();
    }

    static CCanvasApp& wxGetApp() { return *static_cast<CCanvasApp*>(wxApp::GetInstance()); }

private:
    std::string m_png;
    wxString m_title = "skrib-canvas";
    CCanvas* m_canvas = nullptr;
};

} // namespace

wxIMPLEMENT_APP_NO_MAIN(CCanvasApp);

int main(int argc, char** argv)
{
    return wxEntry(argc, argv);
}

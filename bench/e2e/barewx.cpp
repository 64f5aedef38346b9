// skrib-bench-barewx: a bare wxWidgets GUI application with no window, the
// memory reference of the benchmarks: the toolkit connected to the display
// and its event loop running, nothing else. Prints "ready" from the running
// loop; ends on a signal.
#include <wx/app.h>

#include <cstdio>

class CBareApp : public wxApp
{
public:
    bool OnInit() override
    {
        SetExitOnFrameDelete(false);
        CallAfter([] {
            printf("ready\n");
            fflush(stdout);
        });
        return true;
    }
};

wxIMPLEMENT_APP(CBareApp);

// SkribZIW: the whiteboard driver program.
#include "Injection.h"
#include "SkribShell.h"

#include <wx/init.h>

#include <cstdio>

int main(int argc, char** argv)
{
    // Before any thread exists, so that every thread inherits the mask and
    // only the watcher thread receives the end signals.
    BlockEndSignals();
    // Xlib is used from more than one thread (the toolkit, the injection).
    InitDisplayThreads();

    CSkribOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        fprintf(stderr, "SkribZIW: %s\n%s", error.c_str(), OptionsUsage());
        return 2;
    }
    if (options.help) {
        fputs(OptionsUsage(), stdout);
        return 0;
    }

    InjectionKind inject = INJECT_AUTO;
    ParseInjectionKind(options.inject, inject);
    SetInjection(inject, options.screenWidth, options.screenHeight);

    const bool gui = !options.headless && DisplayReachable();
    if (gui)
        wxApp::SetInstance(new CSkribShell<wxApp>(options));
    else
        wxApp::SetInstance(new CSkribShell<wxAppConsole>(options));
    if (!gui)
        SkribLog("no display: running without windows");

    // The driver's options are not the toolkit's: hand it the program name only.
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    return wxEntry(wxArgc, wxArgv);
}

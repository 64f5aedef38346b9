// Process-wide flags of the whiteboard application link. The link sets them
// on the main thread; the application and the work threads also clear
// g_bSoftStart, the work threads g_bOnBoard before they ask "bard". Work
// threads and the side keys read them.
#pragma once

#include <atomic>

// The whiteboard application has announced itself.
extern std::atomic<bool> g_bSoftStart;
// The whiteboard application's board window is in front.
extern std::atomic<bool> g_bOnBoard;
// TCP port of the dual-user link, as the last "StartDual"/"StartDualSplit"
// named it; -1 until one did.
extern std::atomic<int> g_iSotfPort;

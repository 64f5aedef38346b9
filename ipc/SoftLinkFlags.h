// Process-wide flags of the whiteboard application link.
#pragma once

#include <atomic>

// The whiteboard application has announced itself.
extern std::atomic<bool> g_bSoftStart;

#include "SoftLinkFlags.h"

std::atomic<bool> g_bSoftStart{false};
std::atomic<bool> g_bOnBoard{false};
std::atomic<int> g_iSotfPort{-1};

#include "SoftLinkFlags.h"

std::atomic<bool> g_bSoftStart{false};

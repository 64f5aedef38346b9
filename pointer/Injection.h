// Pointer injection on Linux: the engines that carry the pointer engine's
// six operations to the display. XTest drives an X server; uinput creates a
// virtual absolute pointer in the kernel (works under Wayland and on a
// console). CMouseCtrlBase::CreateMouseCtrl builds the chosen one.
#pragma once

#include <string>

enum InjectionKind
{
    INJECT_AUTO = 0, // XTest when an X display with XTest answers, uinput otherwise
    INJECT_XTEST,
    INJECT_UINPUT,
    INJECT_NONE, // no injection (tests, measurements)
};

// Chosen once at start (before any work thread exists). The uinput engine
// spans `width` x `height` pixels; XTest takes the X screen's size.
void SetInjection(InjectionKind kind, int uinputWidth, int uinputHeight);

// The engine that CreateMouseCtrl builds, with the reason, as chosen for
// the current environment (resolves INJECT_AUTO).
InjectionKind ResolveInjection(std::string* why = nullptr);

// The screen that injected points address, in pixels.
bool InjectionScreenSize(int& width, int& height);

bool ParseInjectionKind(const std::string& text, InjectionKind& kind);

// The injection engines.
#pragma once

#include "MouseCtrl.h"
#include "UinputEvents.h"

#include <functional>
#include <mutex>

typedef struct _XDisplay Display;

// XTest on the X display of $DISPLAY, through a connection of its own.
// Button events act where the last move put the pointer.
class CMouseCtrlXTest : public CMouseCtrlBase
{
public:
    explicit CMouseCtrlXTest(const wxString& name);
    ~CMouseCtrlXTest() override;
    bool IsReady() const { return m_pDisplay != nullptr; }

    void LButtonDown() override;
    void RButton() override;
    void LButtonUp() override;
    void RButtonUp() override;
    void LButtonDoubleClick() override;
    void MouseMove(int x, int y) override;

private:
    void Button(unsigned int button, bool down);

    std::mutex m_mutex; // one Xlib request stream at a time
    Display* m_pDisplay = nullptr;
};

// A virtual absolute pointer created through /dev/uinput, axes in screen
// pixels. `sink` replaces the device (tests see the events it would get).
class CMouseCtrlUinput : public CMouseCtrlBase
{
public:
    using Sink = std::function<void(const InputEvents&)>;

    CMouseCtrlUinput(const wxString& name, int width, int height, Sink sink = Sink());
    ~CMouseCtrlUinput() override;
    bool IsReady() const { return m_fd >= 0 || m_sink != nullptr; }

    void LButtonDown() override;
    void RButton() override;
    void LButtonUp() override;
    void RButtonUp() override;
    void LButtonDoubleClick() override;
    void MouseMove(int x, int y) override;

private:
    void Emit(const InputEvents& events);

    std::mutex m_mutex;
    int m_fd = -1;
    Sink m_sink;
};

// Injects nothing.
class CMouseCtrlNull : public CMouseCtrlBase
{
public:
    explicit CMouseCtrlNull(const wxString& name) : CMouseCtrlBase(name) {}
    void LButtonDown() override {}
    void RButton() override {}
    void LButtonUp() override {}
    void RButtonUp() override {}
    void LButtonDoubleClick() override {}
    void MouseMove(int, int) override {}
};

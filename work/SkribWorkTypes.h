// Values the main thread hands to the board's work thread.
#pragma once

// What the work thread does with reports: drive the pointer, or feed the
// calibration collector for the screen or for the hot-key zones.
enum State_Type
{
    STATE_NORMAL = 0,
    STATE_ORIENT = 1,
    STATE_HOTKEY = 2,
};

// Time-outs of the application's one-shot timers.
enum Timeout_Type
{
    TIMEOUT_RELEASE = 0,
    TIMEOUT_DUAL_RELEASE = 1,
    TIMEOUT_SIDEKEY = 2,
    TIMEOUT_REPRESS = 3,
};

// Notifications from the settings server and the whiteboard application link.
enum ClientNotify_Type
{
    NOTIFY_ORIENT_END = 0,
    NOTIFY_ORIENT_START = 1,
    NOTIFY_HOTKEY_START = 2,
    NOTIFY_SIDEKEY_RELOAD = 3,
    NOTIFY_PENSET_RELOAD = 4,
    NOTIFY_DRIVERSET_RELOAD = 5,
    NOTIFY_DRIVERSET_DATA = 6,
    NOTIFY_AUTO_LEVEL = 7,
    NOTIFY_DUAL_START = 8,
    NOTIFY_DUAL_SPLIT_START = 9,
    NOTIFY_DUAL_SHUTDOWN = 10,
    NOTIFY_WORK_RECT = 11,
    NOTIFY_SET_SPEED = 12,
    NOTIFY_REINIT = 13,
};

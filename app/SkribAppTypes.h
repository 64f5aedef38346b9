// Events, ids and messages of the application hub.
#pragma once

// Requests that any thread posts to the main thread (CSkribApp::CreateEvent).
enum Event_Type
{
    EVENT_START_BOARD_SOFT = 0,
    EVENT_START_ORIENT = 1,
    EVENT_RELEASE_TIMER = 2,
    EVENT_SIDEKEY_TIMER = 3,
    EVENT_REPRESS_TIMER = 4,
    EVENT_DUAL_RELEASE_TIMER = 5,
    EVENT_SHOW_NOT_TOUCH = 6,
    EVENT_CLOSE_NOT_TOUCH = 7,
};

// Command ids of the application's event table.
enum
{
    ID_START_BOARD_SOFT = 6001,
    ID_START_ORIENT = 6002,
    ID_TIMER_RELEASE = 6004,
    ID_TIMER_SIDEKEY = 6005,
    ID_TIMER_REPRESS = 6006,
    ID_START_RELEASE_TIMER = 6007,
    ID_START_SIDEKEY_TIMER = 6008,
    ID_START_REPRESS_TIMER = 6009,
    ID_SHOW_NOT_TOUCH = 6010,
    ID_CLOSE_NOT_TOUCH = 6011,
    ID_TIMER_DUAL_RELEASE = 6012,
    ID_START_DUAL_RELEASE_TIMER = 6013,
    ID_SOFT_SOCKET = 2000, // the whiteboard application link's datagram socket
};

// Messages to the whiteboard application.
enum tagSendMsgType
{
    MSG_DISCONNECT = 0,
    MSG_CONNECT = 1,
    MSG_ENABLE_GESTURE = 2,
    MSG_DISABLE_GESTURE = 3,
    MSG_IS_START = 4,
    MSG_DOUPEN_ENABLED = 5,
};

// What the pointer engine needs from the dual-user link: one call per record
// of the second user's pointer actions.
#ifndef SKRIB_POINTER_DUALLINK_H
#define SKRIB_POINTER_DUALLINK_H

// Action field of a second-user record.
enum DualAction_Type
{
    DUAL_ACTION_DOWN = 0,        // button down
    DUAL_ACTION_MOVE = 1,        // move
    DUAL_ACTION_UP = 2,          // button up
    DUAL_ACTION_DOUBLECLICK = 3  // double click
};

class IDualLink
{
public:
    virtual ~IDualLink() = default;

    // Sends one record: a DualAction_Type code and a screen point in pixels.
    // True when the record was handed to the connection; false when there is
    // no connection or the write failed. The pointer engine ignores the
    // result: a record that cannot be sent is dropped.
    virtual bool SendDualData(int action, int x, int y) = 0;
};

#endif // SKRIB_POINTER_DUALLINK_H

// Cuts a byte stream into whole reports of a fixed size. Real hidraw nodes
// deliver one report per read; a node that delivers a byte stream (a
// pseudo-terminal standing in for one) may merge or split reports.
#pragma once

#include <cstddef>
#include <functional>

class CReportFramer
{
public:
    explicit CReportFramer(int reportSize) : m_size(reportSize) {}

    // Calls `onReport` for every whole report completed by these bytes and
    // keeps the rest for the next call.
    void Feed(const unsigned char* data, size_t len, const std::function<void(const unsigned char*, int)>& onReport);

private:
    int m_size;
    unsigned char m_partial[256] = {};
    int m_have = 0;
};

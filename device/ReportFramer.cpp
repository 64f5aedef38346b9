#include "ReportFramer.h"

#include <cstring>

void CReportFramer::Feed(const unsigned char* data, size_t len,
                         const std::function<void(const unsigned char*, int)>& onReport)
{
    if (m_size <= 0 || m_size > static_cast<int>(sizeof m_partial))
        return;
    while (len > 0) {
        if (m_have == 0 && len >= static_cast<size_t>(m_size)) {
            onReport(data, m_size); // whole reports straight from the input
            data += m_size;
            len -= static_cast<size_t>(m_size);
            continue;
        }
        size_t take = static_cast<size_t>(m_size - m_have);
        if (take > len)
            take = len;
        memcpy(m_partial + m_have, data, take);
        m_have += static_cast<int>(take);
        data += take;
        len -= take;
        if (m_have == m_size) {
            onReport(m_partial, m_size);
            m_have = 0;
        }
    }
}

#include "OrientTargets.h"

#include "Conversion.h"

std::vector<wxPoint> OrientTargets(int count, int width, int height)
{
    std::vector<wxPoint> targets;
    if (!IsScreenPointCount(count))
        return targets;
    CConversion grid("Orient");
    grid.ReadScreen(width, height);
    grid.m_dotNum = count;
    grid.ReadPosition();
    for (int k = 0; k < count; ++k)
        targets.emplace_back(static_cast<int>(grid.m_pos[k].x), static_cast<int>(grid.m_pos[k].y));
    return targets;
}

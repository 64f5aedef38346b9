#include "DotAttribute.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Text buffer of one formatted point. snprintf truncates what does not fit
// (only absurd magnitudes of a real point do not).
constexpr size_t DOT_TEXT_SIZE = 256;

TiXmlAttribute* FindAttribute(TiXmlElement* element, const char* name)
{
    for (TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
        if (strcmp(a->Name(), name) == 0)
            return a;
    }
    return nullptr;
}

const TiXmlAttribute* FindAttribute(const TiXmlElement* element, const char* name)
{
    for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) {
        if (strcmp(a->Name(), name) == 0)
            return a;
    }
    return nullptr;
}

TiXmlAttribute* FindOrCreateAttribute(TiXmlElement* element, const char* name)
{
    TiXmlAttribute* a = FindAttribute(element, name);
    if (!a) {
        element->SetAttribute(name, "");
        a = FindAttribute(element, name);
    }
    return a;
}

// "%d" conversion: optional white space, sign and digits. Out-of-range
// values are treated as not converted.
bool ScanInt(const char*& p, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = strtol(p, &end, 10);
    if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    out = static_cast<int>(v);
    p = end;
    return true;
}

// "%lf" conversion.
bool ScanDouble(const char*& p, double& out)
{
    char* end = nullptr;
    const double v = strtod(p, &end);
    if (end == p)
        return false;
    out = v;
    p = end;
    return true;
}

// Parse "(a,b)" with the given scanner; the semantics of sscanf's result:
// both read → success, otherwise wrong type with x kept if it was read.
template <typename T, typename Scan>
int ParsePoint(const TiXmlAttribute* attribute, T* x, T* y, Scan scan)
{
    if (!attribute)
        return TIXML_NO_ATTRIBUTE;
    if (!x || !y)
        return TIXML_WRONG_TYPE;
    const char* p = attribute->Value();
    if (*p != '(')
        return TIXML_WRONG_TYPE;
    ++p;
    T vx;
    if (!scan(p, vx))
        return TIXML_WRONG_TYPE;
    *x = vx;
    if (*p != ',')
        return TIXML_WRONG_TYPE;
    ++p;
    T vy;
    if (!scan(p, vy))
        return TIXML_WRONG_TYPE;
    *y = vy;
    return TIXML_SUCCESS;
}

} // namespace

void SetDotValue(TiXmlAttribute* attribute, int x, int y)
{
    if (!attribute)
        return;
    char text[DOT_TEXT_SIZE];
    snprintf(text, sizeof text, "(%d,%d)", x, y);
    attribute->SetValue(text);
}

void SetRealDotValue(TiXmlAttribute* attribute, double x, double y)
{
    if (!attribute)
        return;
    char text[DOT_TEXT_SIZE];
    snprintf(text, sizeof text, "(%lf,%lf)", x, y);
    attribute->SetValue(text);
}

void SetDotAttribute(TiXmlElement* element, const char* name, int x, int y)
{
    if (!element || !name)
        return;
    SetDotValue(FindOrCreateAttribute(element, name), x, y);
}

void SetRealDotAttribute(TiXmlElement* element, const char* name, double x, double y)
{
    if (!element || !name)
        return;
    SetRealDotValue(FindOrCreateAttribute(element, name), x, y);
}

int QueryDotValue(const TiXmlAttribute* attribute, int* x, int* y)
{
    return ParsePoint(attribute, x, y, ScanInt);
}

int QueryRealDotValue(const TiXmlAttribute* attribute, double* x, double* y)
{
    return ParsePoint(attribute, x, y, ScanDouble);
}

int QueryDotAttribute(const TiXmlElement* element, const char* name, int* x, int* y)
{
    if (!element || !name)
        return TIXML_NO_ATTRIBUTE;
    return QueryDotValue(FindAttribute(element, name), x, y);
}

int QueryRealDotAttribute(const TiXmlElement* element, const char* name, double* x, double* y)
{
    if (!element || !name)
        return TIXML_NO_ATTRIBUTE;
    return QueryRealDotValue(FindAttribute(element, name), x, y);
}

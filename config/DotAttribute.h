// Point-valued attributes of the settings file.
//
// An integer point is stored as "(%d,%d)", for example "(120,340)"; a real
// point as "(%lf,%lf)" with six decimals, for example "(120.000000,340.500000)".
// Decimal numbers use the numeric locale of the process, which the driver
// sets to "C" before any such value is read or written.
//
// The queries return TIXML_SUCCESS (both numbers read), TIXML_NO_ATTRIBUTE
// (no such attribute; outputs untouched) or TIXML_WRONG_TYPE (the text does
// not match; an x read before the mismatch has been stored, y is untouched).
#ifndef SKRIB_CONFIG_DOTATTRIBUTE_H
#define SKRIB_CONFIG_DOTATTRIBUTE_H

#include <tinyxml.h>

// Find or create the attribute `name` of `element`, then set it with
// SetDotValue / SetRealDotValue. Null arguments do nothing.
void SetDotAttribute(TiXmlElement* element, const char* name, int x, int y);
void SetRealDotAttribute(TiXmlElement* element, const char* name, double x, double y);

// Format the point into the attribute's value.
void SetDotValue(TiXmlAttribute* attribute, int x, int y);
void SetRealDotValue(TiXmlAttribute* attribute, double x, double y);

// Look up `name` on `element` (null element or name: TIXML_NO_ATTRIBUTE),
// then parse it with QueryDotValue / QueryRealDotValue.
int QueryDotAttribute(const TiXmlElement* element, const char* name, int* x, int* y);
int QueryRealDotAttribute(const TiXmlElement* element, const char* name, double* x, double* y);

// Parse the attribute's value as "(%d,%d)" / "(%lf,%lf)". Only the opening
// parenthesis, the two numbers and the comma between them are checked, as a
// scanf of that format does. An integer outside the int range counts as not
// read. A null attribute gives TIXML_NO_ATTRIBUTE; null outputs
// TIXML_WRONG_TYPE.
int QueryDotValue(const TiXmlAttribute* attribute, int* x, int* y);
int QueryRealDotValue(const TiXmlAttribute* attribute, double* x, double* y);

#endif // SKRIB_CONFIG_DOTATTRIBUTE_H

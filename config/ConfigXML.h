// Accessor of the settings file shared with the companion applications.
//
// A caller uses one CConfigXML per cycle, on the stack:
//
//     CConfigXML cfg;
//     if (cfg.open(CONFIG_FILE)) {
//         cfg.writeInt("Global", "Pid", "BoardSer", pid);
//         cfg.save();
//     }
//     cfg.close();
//
// Every value is addressed by section (child of the root element), element
// (child of the section) and attribute. Only the first section of a name is
// searched, and in it the first element of a name. The store never creates
// sections or elements; attributes are created when written.
//
// Reading rules: a missing element gives the reader's default (and false);
// a present element without the attribute leaves the caller's variable as
// it was (and true).
#ifndef SKRIB_CONFIG_CONFIGXML_H
#define SKRIB_CONFIG_CONFIGXML_H

#include <cstddef>
#include <memory>
#include <string>

#include <wx/gdicmn.h>
#include <wx/thread.h>

class TiXmlDocument;
class TiXmlElement;

// The settings file, relative to the driver's working folder.
#define CONFIG_FILE "Config/config.xml"

// The settings server's port when "Global"/"port"/"num" is missing.
constexpr int SETTINGS_PORT_DEFAULT = 4869;

// open() tries this many times to load the file, pausing between attempts,
// so that a file another program is rewriting is waited for (about 3 s).
constexpr int CONFIG_LOAD_ATTEMPTS = 15;
constexpr int CONFIG_LOAD_INTERVAL_MS = 200;

class CConfigXML
{
public:
    CConfigXML();
    ~CConfigXML();

    CConfigXML(const CConfigXML&) = delete;
    CConfigXML& operator=(const CConfigXML&) = delete;

    // Loads the file (up to CONFIG_LOAD_ATTEMPTS tries). Replaces any
    // document this accessor still holds. False when no attempt succeeded;
    // the accessor then finds no element until the next successful open.
    bool open(const char* path);

    // Writes the whole document back to the file it was loaded from, if the
    // last open succeeded; otherwise does nothing. The file is replaced
    // atomically (temporary file in the same folder, fsync, rename), keeping
    // its permission bits; on any failure the old file stays as it was and
    // only a diagnostic line goes to standard output. A file that this
    // process may not write is left alone.
    void save();

    // Clears the opened flag and drops the document.
    void close();

    // First element `element` of the first section `section`; null for an
    // empty or null name, without a loaded document, or when absent.
    TiXmlElement* Find_Element(const char* section, const char* element);

    // Element missing: value = defaultValue, false. Otherwise true; value
    // takes the attribute's leading decimal integer ("12abc" gives 12) and
    // is left as it was when the attribute is missing, does not start with
    // an integer, or holds one outside the int range.
    bool readInt(const char* section, const char* element, const char* attribute,
                 int& value, int defaultValue);
    // False when the element is missing; otherwise sets the attribute to
    // "%d" text (creating it) and returns true.
    bool writeInt(const char* section, const char* element, const char* attribute,
                  int value);

    // Element missing: false, dest untouched. Attribute missing: true, dest
    // untouched. Otherwise copies the text into dest, truncated to
    // capacity - 1 bytes and always zero-terminated (nothing is written when
    // capacity is 0); true.
    bool readStr(const char* section, const char* element, const char* attribute,
                 char* dest, size_t capacity);
    bool writeStr(const char* section, const char* element, const char* attribute,
                  const char* value);

    // The element's text content into dest (truncated and zero-terminated
    // as readStr does); an element without text gives "". False when the
    // element is missing (dest untouched).
    bool readMsg(const char* section, const char* element, char* dest, size_t capacity);

    // One integer point "(x,y)" in one attribute. A missing or malformed
    // attribute leaves x and y as they were.
    bool readDot(const char* section, const char* element, const char* attribute,
                 int& x, int& y);
    bool writeDot(const char* section, const char* element, const char* attribute,
                  int x, int y);

    // Point lists: `count` points in the attributes prefix0 .. prefix(count-1).
    // False when the element is missing, true otherwise, also when count
    // <= 0 (nothing is read or written then). A point whose attribute is
    // missing or malformed is left as it was; the others are still handled.
    // The caller bounds count to its array.
    bool readDot(const char* section, const char* element, const char* prefix,
                 int count, wxPoint* points);
    bool writeDot(const char* section, const char* element, const char* prefix,
                  int count, const wxPoint* points);
    bool readDot(const char* section, const char* element, const char* prefix,
                 int count, wxRealPoint* points);
    bool writeDot(const char* section, const char* element, const char* prefix,
                  int count, const wxRealPoint* points);

    // Total number of load attempts made by open() in this process, for
    // diagnostics and tests.
    static unsigned long LoadAttemptCount();

    // Serialises loading and saving within the process (not recursive).
    static wxMutex m_Mutex;

private:
    std::unique_ptr<TiXmlDocument> m_pDoc;
    std::string m_strPath;
    bool m_bOpened;
};

#endif // SKRIB_CONFIG_CONFIGXML_H

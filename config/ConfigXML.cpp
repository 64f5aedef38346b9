#include "ConfigXML.h"

#include "DotAttribute.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tinyxml.h>
#include <wx/utils.h>

wxMutex CConfigXML::m_Mutex;

namespace {

std::atomic<unsigned long> s_loadAttempts{0};

// Mode of a settings file that vanished between open and save.
constexpr mode_t NEW_FILE_MODE = 0644;

void SaveDiagnostic(const std::string& path, const char* step, int err)
{
    printf("CConfigXML::save %s: %s failed: %s\n", path.c_str(), step, strerror(err));
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Replace `path` with `text` so that any reader sees either the old or the
// new file: write a temporary next to it, flush it to disk, give it the old
// file's owner and permission bits, and rename it over the old file. On any
// failure the temporary is removed and the old file is left alone. A stale
// temporary ("<name>.XXXXXX") remains only if the process dies mid-save.
void ReplaceFile(const std::string& path, const std::string& text)
{
    // Write through a symbolic link rather than replacing the link itself.
    std::string target = path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        target = real;
        free(real);
    }

    mode_t mode = NEW_FILE_MODE;
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        // Do not replace a file this process could not have rewritten in place.
        if (::access(target.c_str(), W_OK) != 0) {
            SaveDiagnostic(target, "access", errno);
            return;
        }
        mode = st.st_mode & 07777;
    }

    std::string tmp = target + ".XXXXXX";
    const int fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (fd < 0) {
        SaveDiagnostic(target, "mkstemp", errno);
        return;
    }

    const char* step = nullptr;
    if (exists && (st.st_uid != geteuid() || st.st_gid != getegid())) {
        // Keeping the owner works only with privileges; without them the
        // new file belongs to this process's user.
        if (fchown(fd, st.st_uid, st.st_gid) != 0)
            SaveDiagnostic(target, "fchown (ignored)", errno);
    }
    if (!WriteAll(fd, text.data(), text.size()))
        step = "write";
    else if (fchmod(fd, mode) != 0)
        step = "fchmod";
    else if (fsync(fd) != 0)
        step = "fsync";
    int err = step ? errno : 0;
    if (::close(fd) != 0 && !step) {
        step = "close";
        err = errno;
    }
    if (!step && ::rename(tmp.c_str(), target.c_str()) != 0) {
        step = "rename";
        err = errno;
    }
    if (step) {
        SaveDiagnostic(target, step, err);
        ::unlink(tmp.c_str());
        return;
    }

    // Make the rename itself durable; the file is already replaced, so a
    // failure here is only worth a line.
    const int dirFd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        if (fsync(dirFd) != 0)
            SaveDiagnostic(target, "fsync of folder", errno);
        ::close(dirFd);
    }
}

const char* AttributeText(const TiXmlElement* e, const char* attribute)
{
    return attribute ? e->Attribute(attribute) : nullptr;
}

void CopyText(const char* text, char* dest, size_t capacity)
{
    if (!dest || capacity == 0)
        return;
    const size_t len = strnlen(text, capacity - 1);
    memcpy(dest, text, len);
    dest[len] = '\0';
}

// Leading decimal integer as "%d" reads it; false when there is none or it
// does not fit an int.
bool LeadingInt(const char* text, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    out = static_cast<int>(v);
    return true;
}

std::string DotName(const char* prefix, int index)
{
    return std::string(prefix) + std::to_string(index);
}

// Point lists: attributes prefix0 .. prefix(count-1) of one element. A
// point whose attribute is missing or malformed is left as it was.
template <class TPoint, class TNum>
bool ReadDotList(const TiXmlElement* e, const char* prefix, int count, TPoint* points,
                 int (*query)(const TiXmlElement*, const char*, TNum*, TNum*))
{
    if (!e)
        return false;
    if (!prefix || !points)
        return true;
    for (int i = 0; i < count; ++i) {
        TNum x = 0, y = 0;
        if (query(e, DotName(prefix, i).c_str(), &x, &y) == TIXML_SUCCESS)
            points[i] = TPoint(x, y);
    }
    return true;
}

template <class TPoint, class TNum>
bool WriteDotList(TiXmlElement* e, const char* prefix, int count, const TPoint* points,
                  void (*set)(TiXmlElement*, const char*, TNum, TNum))
{
    if (!e)
        return false;
    if (!prefix || !points)
        return true;
    for (int i = 0; i < count; ++i)
        set(e, DotName(prefix, i).c_str(), points[i].x, points[i].y);
    return true;
}

} // namespace

CConfigXML::CConfigXML() : m_bOpened(false) {}

CConfigXML::~CConfigXML() = default;

unsigned long CConfigXML::LoadAttemptCount()
{
    return s_loadAttempts.load();
}

bool CConfigXML::open(const char* path)
{
    wxMutexLocker lock(m_Mutex);
    m_bOpened = false;
    m_pDoc.reset(new TiXmlDocument());
    m_strPath = path ? path : "";
    if (m_strPath.empty())
        return false;

    for (int attempt = 1; attempt <= CONFIG_LOAD_ATTEMPTS; ++attempt) {
        ++s_loadAttempts;
        std::unique_ptr<TiXmlDocument> doc(new TiXmlDocument());
        if (doc->LoadFile(m_strPath.c_str())) {
            m_pDoc = std::move(doc);
            m_bOpened = true;
            return true;
        }
        if (attempt < CONFIG_LOAD_ATTEMPTS)
            wxMilliSleep(CONFIG_LOAD_INTERVAL_MS);
    }
    return false;
}

void CConfigXML::save()
{
    wxMutexLocker lock(m_Mutex);
    if (!m_pDoc || !m_bOpened)
        return;
    TiXmlPrinter printer;
    m_pDoc->Accept(&printer);
    ReplaceFile(m_strPath, printer.Str());
}

void CConfigXML::close()
{
    m_bOpened = false;
    m_pDoc.reset();
}

TiXmlElement* CConfigXML::Find_Element(const char* section, const char* element)
{
    if (!section || !*section || !element || !*element || !m_pDoc || !m_bOpened)
        return nullptr;
    TiXmlElement* root = m_pDoc->RootElement();
    if (!root)
        return nullptr;
    TiXmlElement* sec = root->FirstChildElement(section);
    return sec ? sec->FirstChildElement(element) : nullptr;
}

bool CConfigXML::readInt(const char* section, const char* element, const char* attribute,
                         int& value, int defaultValue)
{
    const TiXmlElement* e = Find_Element(section, element);
    if (!e) {
        value = defaultValue;
        return false;
    }
    if (const char* text = AttributeText(e, attribute)) {
        int v;
        if (LeadingInt(text, v))
            value = v;
    }
    return true;
}

bool CConfigXML::writeInt(const char* section, const char* element, const char* attribute,
                          int value)
{
    TiXmlElement* e = Find_Element(section, element);
    if (!e || !attribute)
        return false;
    e->SetAttribute(attribute, value);
    return true;
}

bool CConfigXML::readStr(const char* section, const char* element, const char* attribute,
                         char* dest, size_t capacity)
{
    const TiXmlElement* e = Find_Element(section, element);
    if (!e)
        return false;
    if (const char* text = AttributeText(e, attribute))
        CopyText(text, dest, capacity);
    return true;
}

bool CConfigXML::writeStr(const char* section, const char* element, const char* attribute,
                          const char* value)
{
    TiXmlElement* e = Find_Element(section, element);
    if (!e || !attribute)
        return false;
    e->SetAttribute(attribute, value ? value : "");
    return true;
}

bool CConfigXML::readMsg(const char* section, const char* element, char* dest, size_t capacity)
{
    const TiXmlElement* e = Find_Element(section, element);
    if (!e)
        return false;
    const char* text = e->GetText();
    CopyText(text ? text : "", dest, capacity);
    return true;
}

bool CConfigXML::readDot(const char* section, const char* element, const char* attribute,
                         int& x, int& y)
{
    const TiXmlElement* e = Find_Element(section, element);
    if (!e)
        return false;
    int vx = x, vy = y;
    if (QueryDotAttribute(e, attribute, &vx, &vy) == TIXML_SUCCESS) {
        x = vx;
        y = vy;
    }
    return true;
}

bool CConfigXML::writeDot(const char* section, const char* element, const char* attribute,
                          int x, int y)
{
    TiXmlElement* e = Find_Element(section, element);
    if (!e || !attribute)
        return false;
    SetDotAttribute(e, attribute, x, y);
    return true;
}

bool CConfigXML::readDot(const char* section, const char* element, const char* prefix,
                         int count, wxPoint* points)
{
    return ReadDotList(Find_Element(section, element), prefix, count, points, QueryDotAttribute);
}

bool CConfigXML::writeDot(const char* section, const char* element, const char* prefix,
                          int count, const wxPoint* points)
{
    return WriteDotList(Find_Element(section, element), prefix, count, points, SetDotAttribute);
}

bool CConfigXML::readDot(const char* section, const char* element, const char* prefix,
                         int count, wxRealPoint* points)
{
    return ReadDotList(Find_Element(section, element), prefix, count, points, QueryRealDotAttribute);
}

bool CConfigXML::writeDot(const char* section, const char* element, const char* prefix,
                          int count, const wxRealPoint* points)
{
    return WriteDotList(Find_Element(section, element), prefix, count, points, SetRealDotAttribute);
}

// Helpers shared by the settings store tests: a private temporary folder per
// test and whole-file reads and writes.
#ifndef SKRIB_TESTS_CONFIG_CONFIGTESTUTIL_H
#define SKRIB_TESTS_CONFIG_CONFIGTESTUTIL_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace cfgtest {

// A folder made with mkdtemp, removed with its contents at the end.
class TempDir
{
public:
    TempDir()
    {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/skribcfg.XXXXXX";
        if (mkdtemp(&tmpl[0]))
            m_path = tmpl;
    }
    ~TempDir()
    {
        if (!m_path.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_path, ec);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace cfgtest

#endif // SKRIB_TESTS_CONFIG_CONFIGTESTUTIL_H

// save() replaces the shared settings file atomically: permission bits and
// links are kept, a read-only file is left alone, readers in other processes
// never see a torn file, a process killed mid-save leaves the old or the new
// file, and concurrent cycles in one process stay consistent.
#include "ConfigXML.h"
#include "ConfigTestUtil.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tinyxml.h>
#include <gtest/gtest.h>

namespace {

using cfgtest::ReadFile;
using cfgtest::TempDir;
using cfgtest::WriteFile;
using Clock = std::chrono::steady_clock;

constexpr auto DEADLINE = std::chrono::seconds(60);

// A document large enough that writing it takes many write calls: one
// element with BULK_COUNT children that all carry the same marker, and a
// last section after it, so that a cut-off or mixed file is recognised.
constexpr int BULK_COUNT = 4000;
const char MARK_A[] = "AAAAAAAAAAAA";
const char MARK_B[] = "BBBBBBBBBBBB";

std::string BulkDocument(const char* mark)
{
    std::string s = "<?xml version=\"1.0\" ?>\n<Root>\n  <Global>\n    <Pid BoardSer=\"-1\" />\n  </Global>\n"
                    "  <Bulk>\n    <Data>\n";
    for (int i = 0; i < BULK_COUNT; ++i)
        s += std::string("      <V m=\"") + mark + "\" />\n";
    s += "    </Data>\n  </Bulk>\n  <Tail>\n    <End ok=\"1\" />\n  </Tail>\n</Root>\n";
    return s;
}

// The marker of a complete, uniform bulk document; "" (and why) otherwise.
std::string MarkOf(const std::string& text, std::string* why)
{
    TiXmlDocument doc;
    doc.Parse(text.c_str());
    if (doc.Error()) {
        *why = std::string("parse error: ") + doc.ErrorDesc() + ", " + std::to_string(text.size()) + " bytes";
        return "";
    }
    const TiXmlElement* root = doc.RootElement();
    const TiXmlElement* data = root && root->FirstChildElement("Bulk")
                                   ? root->FirstChildElement("Bulk")->FirstChildElement("Data")
                                   : nullptr;
    if (!data || !root->FirstChildElement("Tail")) {
        *why = "structure incomplete";
        return "";
    }
    std::string mark;
    int count = 0;
    for (const TiXmlElement* v = data->FirstChildElement(); v; v = v->NextSiblingElement(), ++count) {
        const char* m = v->Attribute("m");
        if (count == 0 && m)
            mark = m;
        else if (!m || mark != m) {
            *why = "mixed markers at child " + std::to_string(count);
            return "";
        }
    }
    if (count != BULK_COUNT || (mark != MARK_A && mark != MARK_B)) {
        *why = "wrong content: " + std::to_string(count) + " children, marker " + mark;
        return "";
    }
    return mark;
}

// One cycle of a writer: load, flip every marker, save.
bool FlipCycle(const std::string& path)
{
    CConfigXML cfg;
    if (!cfg.open(path.c_str()))
        return false;
    TiXmlElement* data = cfg.Find_Element("Bulk", "Data");
    const TiXmlElement* first = data ? data->FirstChildElement() : nullptr;
    if (!first || !first->Attribute("m"))
        return false;
    const char* next = strcmp(first->Attribute("m"), MARK_A) == 0 ? MARK_B : MARK_A;
    for (TiXmlElement* v = data->FirstChildElement(); v; v = v->NextSiblingElement())
        v->SetAttribute("m", next);
    cfg.save();
    cfg.close();
    return true;
}

// Entries of the folder other than `keep`.
std::vector<std::string> OtherEntries(const std::string& dir, const std::string& keep)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string n = e.path().filename().string();
        if (n != keep)
            names.push_back(n);
    }
    return names;
}

bool IsTempOf(const std::string& name, const std::string& file)
{
    return name.size() == file.size() + 7 && name.compare(0, file.size() + 1, file + ".") == 0;
}

mode_t ModeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : mode_t(-1);
}

TEST(AtomicSave, KeepsPermissionBits)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("config.xml");
    // 0600 is what a fresh temporary gets; the others must be carried over.
    for (mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0644), mode_t(0664), mode_t(0604), mode_t(0660)}) {
        SCOPED_TRACE(mode);
        WriteFile(path, BulkDocument(MARK_A));
        ASSERT_EQ(0, chmod(path.c_str(), mode));

        CConfigXML cfg;
        ASSERT_TRUE(cfg.open(path.c_str()));
        ASSERT_TRUE(cfg.writeInt("Global", "Pid", "BoardSer", static_cast<int>(mode)));
        cfg.save();
        cfg.close();

        EXPECT_EQ(mode, ModeOf(path));
        ASSERT_TRUE(cfg.open(path.c_str()));
        int v = 0;
        EXPECT_TRUE(cfg.readInt("Global", "Pid", "BoardSer", v, 0));
        EXPECT_EQ(static_cast<int>(mode), v);
        cfg.close();
        EXPECT_TRUE(OtherEntries(dir.path(), "config.xml").empty());
    }
}

TEST(AtomicSave, WritesThroughASymbolicLink)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(0, mkdir(dir.file("real").c_str(), 0755));
    const std::string target = dir.file("real/config.xml");
    const std::string link = dir.file("config.xml");
    WriteFile(target, BulkDocument(MARK_A));
    ASSERT_EQ(0, symlink("real/config.xml", link.c_str()));

    CConfigXML cfg;
    ASSERT_TRUE(cfg.open(link.c_str()));
    ASSERT_TRUE(cfg.writeInt("Global", "Pid", "BoardSer", 77));
    cfg.save();
    cfg.close();

    struct stat st;
    ASSERT_EQ(0, lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_TRUE(cfg.open(target.c_str()));
    int v = 0;
    EXPECT_TRUE(cfg.readInt("Global", "Pid", "BoardSer", v, 0));
    EXPECT_EQ(77, v);
    EXPECT_TRUE(OtherEntries(dir.file("real"), "config.xml").empty());
}

// A file the process may not write is left alone; once it is writable the
// same cycle saves. Run as an unprivileged user (a child that drops root),
// since root may write any file.
TEST(AtomicSave, LeavesAReadOnlyFileAlone)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("config.xml");
    const std::string original = BulkDocument(MARK_A);
    WriteFile(path, original);
    ASSERT_EQ(0, chmod(path.c_str(), 0444));

    const bool root = geteuid() == 0;
    const uid_t nobody = 65534;
    if (root) {
        ASSERT_EQ(0, chown(dir.path().c_str(), nobody, nobody));
        ASSERT_EQ(0, chown(path.c_str(), nobody, nobody));
    }

    // Returns 0 when both phases behaved; the parent checks the file.
    auto body = [&]() -> int {
        CConfigXML cfg;
        if (!cfg.open(path.c_str()) || !cfg.writeInt("Global", "Pid", "BoardSer", 5))
            return 10;
        cfg.save(); // read-only: must not replace it
        if (ReadFile(path) != original)
            return 11;
        if (chmod(path.c_str(), 0644) != 0)
            return 12;
        cfg.save(); // now writable: must save
        cfg.close();
        return ReadFile(path) == original ? 13 : 0;
    };

    if (root) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(nobody) != 0 || setuid(nobody) != 0)
                _exit(20);
            _exit(body());
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(0, WEXITSTATUS(status));
    } else {
        EXPECT_EQ(0, body());
    }

    EXPECT_EQ(mode_t(0644), ModeOf(path));
    CConfigXML cfg;
    ASSERT_TRUE(cfg.open(path.c_str()));
    int v = 0;
    EXPECT_TRUE(cfg.readInt("Global", "Pid", "BoardSer", v, 0));
    EXPECT_EQ(5, v);
    EXPECT_TRUE(OtherEntries(dir.path(), "config.xml").empty());
}

// A writer process flips the document back and forth while this process
// reads the file without any lock, as another program would. Every read must
// be a complete document carrying one marker throughout.
TEST(AtomicSave, ReaderNeverSeesATornFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("config.xml");
    WriteFile(path, BulkDocument(MARK_A));

    int stop[2];
    ASSERT_EQ(0, pipe(stop));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(stop[1]);
        for (;;) {
            pollfd p{stop[0], POLLIN, 0};
            if (poll(&p, 1, 0) != 0) // the parent closed its end
                _exit(0);
            if (!FlipCycle(path))
                _exit(1);
        }
    }
    ::close(stop[0]);

    constexpr int WANTED_CHANGES = 40;
    int changes = 0, reads = 0, torn = 0;
    std::string last, firstTear;
    const auto end = Clock::now() + DEADLINE;
    while (changes < WANTED_CHANGES && Clock::now() < end) {
        std::string why;
        const std::string mark = MarkOf(ReadFile(path), &why);
        ++reads;
        if (mark.empty()) {
            if (torn++ == 0)
                firstTear = why;
            continue;
        }
        if (!last.empty() && mark != last)
            ++changes;
        last = mark;
    }
    ::close(stop[1]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));

    EXPECT_EQ(0, torn) << "of " << reads << " reads; first: " << firstTear;
    EXPECT_GE(changes, WANTED_CHANGES) << "the writer did not get going within the deadline";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "a writer cycle failed to open the file";
    EXPECT_TRUE(OtherEntries(dir.path(), "config.xml").empty());
}

// A writer killed at an arbitrary moment of its save loop leaves the old or
// the new document, complete. What it may leave besides is one temporary of
// the interrupted save ("config.xml.XXXXXX"), which no reader looks at.
// Even rounds kill after a few completed saves; odd rounds kill as soon as a
// temporary shows up, that is in the middle of a save. Either way the kill
// comes at a moment the writer chose, so no outcome depends on timing.
TEST(AtomicSave, KilledWriterLeavesACompleteFile)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("config.xml");
    WriteFile(path, BulkDocument(MARK_A));

    constexpr int ROUNDS = 8;
    int leftovers = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                if (!FlipCycle(path))
                    _exit(1);
            }
        }

        const bool midSave = round % 2 == 1;
        const int wanted = 2 + round / 2;
        int changes = 0, torn = 0;
        bool tempSeen = false;
        std::string last, why;
        const auto end = Clock::now() + DEADLINE;
        for (unsigned long polls = 0; !tempSeen && changes < wanted && Clock::now() < end; ++polls) {
            if (midSave) {
                for (const std::string& n : OtherEntries(dir.path(), "config.xml"))
                    tempSeen = tempSeen || IsTempOf(n, "config.xml");
                if (tempSeen || polls % 64 != 0)
                    continue;
            }
            const std::string mark = MarkOf(ReadFile(path), &why);
            if (mark.empty()) {
                ++torn;
                continue;
            }
            if (!last.empty() && mark != last)
                ++changes;
            last = mark;
        }
        ASSERT_EQ(0, kill(child, SIGKILL));
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself, status " << status;
        EXPECT_TRUE(tempSeen || changes >= wanted) << "the writer did not get going within the deadline";
        EXPECT_EQ(0, torn) << why;

        EXPECT_NE("", MarkOf(ReadFile(path), &why)) << why;
        CConfigXML cfg;
        EXPECT_TRUE(cfg.open(path.c_str()));
        EXPECT_NE(nullptr, cfg.Find_Element("Tail", "End"));

        const std::vector<std::string> others = OtherEntries(dir.path(), "config.xml");
        EXPECT_LE(others.size(), 1u);
        for (const std::string& n : others) {
            EXPECT_TRUE(IsTempOf(n, "config.xml")) << n;
            std::filesystem::remove(dir.file(n));
            ++leftovers;
        }
    }
    printf("the killed writer left a temporary in %d of %d rounds\n", leftovers, ROUNDS);
}

// Two threads run full cycles on one file at the same time. Loading and
// saving are serialised, so every open finds the complete structure and the
// file parses at the end; the later save wins, so lost updates are allowed.
TEST(AtomicSave, ConcurrentCyclesInOneProcess)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.file("config.xml");
    WriteFile(path, BulkDocument(MARK_A));

    constexpr int CYCLES = 25;
    std::atomic<int> failures{0};
    auto worker = [&](const char* attribute) {
        for (int i = 0; i < CYCLES; ++i) {
            CConfigXML cfg;
            if (!cfg.open(path.c_str()) || !cfg.Find_Element("Tail", "End") ||
                !cfg.writeInt("Global", "Pid", attribute, i)) {
                ++failures;
                continue;
            }
            cfg.save();
            cfg.close();
        }
    };
    std::thread a(worker, "ThreadA");
    std::thread b(worker, "ThreadB");
    a.join();
    b.join();

    EXPECT_EQ(0, failures.load());
    std::string why;
    EXPECT_EQ(MARK_A, MarkOf(ReadFile(path), &why)) << why;
    // The last cycle of the thread that saved last is in the file.
    CConfigXML cfg;
    ASSERT_TRUE(cfg.open(path.c_str()));
    int va = -1, vb = -1;
    cfg.readInt("Global", "Pid", "ThreadA", va, -1);
    cfg.readInt("Global", "Pid", "ThreadB", vb, -1);
    EXPECT_TRUE(va == CYCLES - 1 || vb == CYCLES - 1) << va << " " << vb;
    EXPECT_TRUE(OtherEntries(dir.path(), "config.xml").empty());
}

} // namespace
